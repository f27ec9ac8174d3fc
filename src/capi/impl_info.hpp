// The load record of one loaded module.
//
// A host may supply its own module-file reader (OrbFileReader), which then produces these, so
// the field order and widths are fixed: they are an ABI between the host and this library.
// Records are allocated zeroed with host::utCalloc and released with host::utFree.
#pragma once

#include <cstdint>

// The kinds of entry point a load found.
enum OrbEntryKind : std::int32_t {
    kOrbEntryC = 0,          // "orbFunction"
    kOrbEntryCpp = 1,        // "orbFunctionAdapter" with "orbCreateOrbFunction" and "orbDestroyOrbFunction"
    kOrbEntryFortran = 2,    // "ORBFUNCTION" or "orbfunction_"
    kOrbEntryRefused = 3,    // refused on the thread pool: nothing was loaded
};

struct impl_info_tag {
    void* library;            // the host library loader's handle; null for a refused module
    void* entry;              // the entry point found
    void* createFunction;     // C++ modules: "orbCreateOrbFunction"
    void* destroyFunction;    // C++ modules: "orbDestroyOrbFunction"
    void* engineHandle;       // C++ modules: the engine handle made for the module
    void* cppFunction;        // C++ modules: the function object the create entry point returned
    void (*exitFunction)();   // registered by orbAtExit; null when none
    std::int32_t entryKind;   // an OrbEntryKind
    bool locked;              // set by orbLock, cleared by orbUnlock: a locked library is never unloaded
    std::uint32_t builtRelease;      // release number the version function reported; 0 without one
    std::uint32_t targetApiVersion;  // interface number the version function reported; 0 without one
};

static_assert(sizeof(void*) != 8 || sizeof(impl_info_tag) == 72, "the load record's layout is fixed");
