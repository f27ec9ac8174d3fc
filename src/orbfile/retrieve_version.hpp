// Reading a module file's release and interface generation without running its initialisation.
//
// Two stages: first the manifest of the resource bundle the module carries (read from the file's
// bytes; the library is not loaded), and, when that fails for any reason, the legacy stage: the
// library is mapped as the loader maps it (start-up code proved in a child process first, every
// symbol resolved at once) and its version function runs through the module boundary. Mapping
// runs the library's start-up code, so only the manifest stage is free of module code.
//
// No function here throws for a bad file: every failure is a status. Any thread may call them;
// manifest reads of all threads are serialised by one process-wide lock, the file checks and the
// legacy stage run unlocked.
#pragma once

#include <string>

#include "orbfile/version.hpp"
#include "platform/export.hpp"

namespace orbfile {

enum RetrieveStatus {
    SUCCESS = 0,  // a version was read
    NONAME = 1,   // the path is empty
    NOFILE = 2,   // no file exists at the path
    NOREAD = 3,   // the file exists but may not be read
    NOTORB = 4,   // no manifest could be read and the library could not be loaded (or its start-up
                  // code or version function failed)
    NOEVER = 5,   // the library loaded but declares no release
};

// The file checks, then the two-stage read. `version` is untouched when a check fails and
// overwritten otherwise.
ORB_API RetrieveStatus retrieve_version(const std::u16string& path, Version& version);

// The file checks, then the manifest stage only: runs no module code, whatever the file holds.
// NOTORB when the file carries no manifest of a module.
ORB_API RetrieveStatus retrieve_manifest_version(const std::u16string& path, Version& version);

// The file checks alone: NONAME, NOFILE or NOREAD, and NOEVER for a file that passes them (the
// caller goes on to read it).
ORB_API RetrieveStatus check_version_file(const std::u16string& path);

// The two-stage read of a file that passed the checks. `version` starts as release 0, interface
// 0, strategy "1.0" and ends holding the manifest's values with strategy "2.0" (SUCCESS from the
// manifest), or the version function's values with strategy "1.0".
ORB_API RetrieveStatus read_embedded_version(const std::u16string& path, Version& version);

// Whether the manifest of the module file at `path` declares the module safe to run on the host's
// thread pool ("kv.orb.threadpoolSafe" 1, written by `orb build --threadpool-safe`). Reads the
// file's bytes only; false for a file without a readable manifest. Never throws.
ORB_API bool declares_threadpool_safe(const std::u16string& path);

// Whether the module file at `path` uses interleaved complex storage: false for an empty path,
// a failed read or release 0; otherwise the host's answer for its interface.
ORB_API bool is_interleaved_complex(const std::u16string& path);

}  // namespace orbfile

// The release and interface numbers of the module file at `path`, both 0 unless read (and also
// copied out when the read failed). Returns 0 for SUCCESS or NOEVER, 1 for any other status.
ORB_API int OrbRetrieveVersion(const std::u16string& path, unsigned& relnum, unsigned& apinum);

// orbfile::is_interleaved_complex for an 8-bit (UTF-8) path: 1 for yes, 0 for no (also for a
// null path or one that is not valid UTF-8).
extern "C" ORB_API int orb_file_is_interleaved_complex(const char* path);
