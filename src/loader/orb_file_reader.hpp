// The module-file reader: maps a module's library, finds its entry point and learns which
// generation of the array interface it was built for. The host installs one reader per engine
// (inSetOrbfileReader); the module records of that engine load through it.
#pragma once

#include <memory>

#include "capi/per_engine.hpp"
#include "capi/impl_info.hpp"
#include "platform/export.hpp"

// Load statuses (the `status` out-value of loadOrb). When the library itself cannot be mapped
// the status is left as it was (0), and the host loader's diagnostic explains the failure.
enum OrbLoadStatus : int {
    kOrbLoadOk = 0,
    kOrbLoadOutOfMemory = 1,      // the load record could not be allocated
    kOrbLoadMissingCppEntry = 2,  // a C++ module lacks its create or destroy entry point
    kOrbLoadNoEntryPoint = 4,     // the library exports none of the entry points
};

class ORB_API OrbFileReader {
public:
    OrbFileReader() = default;
    OrbFileReader(const OrbFileReader&) = default;
    OrbFileReader& operator=(const OrbFileReader&) = default;
    virtual ~OrbFileReader();

    // Loads the module file at `path` (full path, NUL-terminated UTF-16). `functionName` is the
    // name under which the module is being called (not used by this reader). Answers a new load
    // record, or null with the reason in *status; raises host::LibraryLoadException with the
    // reason when the module's own code failed. The file's start-up code runs first in a child
    // process (platform/startup_probe.hpp); the version function and a C++ module's create entry
    // run through the module boundary.
    virtual impl_info_tag* loadOrb(const char16_t* path, const char* functionName, int* status);
};

// Per engine: the engine's reader; null when the record is created.
struct ORB_API OrbFileReaderPerEngine {
    std::unique_ptr<OrbFileReader> reader;
};

namespace orb::capi {
extern template class PerEngine<OrbFileReaderPerEngine>;
}

// Makes `reader` the calling engine's reader (the previous one is destroyed); an empty pointer
// erases the engine's reader record, after which loading on that engine fails.
ORB_API void inSetOrbfileReader(std::unique_ptr<OrbFileReader> reader);

namespace orb::loader {

// Undoes a load: the exit function (through the module boundary; its failure continues to the
// caller after the record is released), then a C++ module's destroy entry, then the library is
// unloaded unless the module is locked or was refused, and the record is freed. Module code that
// faults here is treated as abandonFaultedRecord does. The floating-point state is restored.
// Answers 1, or 0 for a null record (nothing is cleared).
ORB_API int clearLoadRecord(impl_info_tag* record);

// Releases the record of a module whose code faulted, running none of its code again: no exit
// function, no destroy entry, no finalisers. Its library stays mapped for the life of the
// process, and a later load of the same file maps a private copy of it instead of the damaged
// mapping. Null is ignored.
ORB_API void abandonFaultedRecord(impl_info_tag* record) noexcept;

}  // namespace orb::loader
