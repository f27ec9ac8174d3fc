// The metadata-aware link of a module: one link becomes a temporary link with default metadata,
// an inspection of what the compiled code calls for, and then either a copy of the temporary
// module or a second link with matching metadata.
#pragma once

#include <string>
#include <vector>

#include "orbfile/metadata/metadata.hpp"
#include "platform/export.hpp"

namespace orbfile {

// `command` is the complete linker command (element 0 the linker program); the argument at
// `index` holds the output option: either the option text `optionText` joined to the output file
// ("-o/x/y.orbw64") or the option alone, with the output file as the next argument.
//
// Progress lines go to the host's output. When the module needs metadata other than the default
// (interface 800, not thread-pool safe), the extra linker arguments of the final link are appended
// to `command` (the bundle's, then, on ELF platforms, "-Wl,-z,noexecstack": the bundle's raw data
// would otherwise give the module an executable stack); otherwise `command` is left as it was.
// Answers the Result of the last step: the failing step's on failure; on success status 0 and
// what the compiler driver printed for the temporary link (a final link runs the same command and
// would say the same again). Intermediate files are removed after the temporary link and after a
// final link that succeeded; a bundle that cannot be made for the final link leaves the temporary
// module in place.
ORB_API metadata::Result build_orb_linker_cmds(std::vector<std::string>& command, const std::string& optionText,
                                               int index);
// The same, for a module whose author declares it safe on the host's thread pool: the temporary
// link embeds that declaration, and the inspection keeps it only for a C++ module (any other
// module is relinked without it).
ORB_API metadata::Result build_orb_linker_cmds(std::vector<std::string>& command, const std::string& optionText,
                                               int index, bool threadpoolSafe);

namespace metadata {

// Whether `linker` takes the bundle as linked-in binary data (a GNU-style driver: its path holds
// "gcc" or "g++" anywhere) rather than as a compiled Windows resource. Off Windows every driver
// does.
ORB_API bool is_gnu_linker(const std::string& linker);

// The same test by the linker's path alone, whatever the platform.
ORB_API bool names_gnu_linker(const std::string& linker);

}  // namespace metadata
}  // namespace orbfile
