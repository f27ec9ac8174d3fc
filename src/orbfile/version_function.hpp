// The version function a module may export: it reports the release and the interface generation
// the module was built for. Finding it and running it are separate steps because running it runs
// module code, which goes through the module boundary like every other call into a module.
#pragma once

#include <cstdint>

#include "platform/export.hpp"
#include "platform/module_boundary.hpp"

namespace orbfile {

// Fills the release number first and the interface number second.
using VersionFunction = void (*)(std::uint32_t* relnum, std::uint32_t* apinum);

// The module's version function under the first spelling it exports, in this order:
// "orbfilerequiredapiversion", "ORBFILEREQUIREDAPIVERSION", "orbfilerequiredapiversion_".
// Null when the handle is null or none is exported.
ORB_API VersionFunction findVersionFunction(void* handle);

// Runs module code: the one place every version-function call goes through, for the loader and
// for inspection alike. `function` is not null. Both outputs are 0 before the call, so a function
// that writes nothing reports "no version", and 0 again when it failed (fault, abort, exception
// of any kind), which the outcome describes. The caller's floating-point state is kept.
ORB_API orb::platform::ModuleOutcome callVersionFunction(VersionFunction function, std::uint32_t& relnum,
                                                         std::uint32_t& apinum);

// Both steps. Answers whether the module exports a version function; outputs are 0 when it does
// not or when the function failed. `outcome`, when given, receives how the call ended (returned
// when there was nothing to call).
ORB_API bool readModuleVersionFunction(void* handle, std::uint32_t& relnum, std::uint32_t& apinum,
                                       orb::platform::ModuleOutcome* outcome = nullptr);

}  // namespace orbfile
