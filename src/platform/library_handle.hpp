// A library the host loader mapped, owned by one scope: released (unloadLibrary) when the scope
// ends, on every path, unless ownership was handed on with release().
#pragma once

#include <mutex>
#include <string>
#include <utility>

#include "host/ut.hpp"
#include "platform/export.hpp"
#include "platform/isolated_call.hpp"

namespace orb::platform {

// The runtime's own calls into the system loader hold this gate; a start-up probe holds it while
// it forks, so that its copy of the process is never made halfway through one of them (the copy
// would find the loader's lock taken for good and the probe would have to try again, five times at
// most). An unload holds it from its proof in a copy to the unload itself, so that no other
// reference to the library comes or goes in between. The system loader takes one lock for a whole
// load or unload anyway, so the gate makes nothing wait that would not have waited, except behind
// an unload whose copy runs long. Recursive: a module's start-up or exit code that calls the
// runtime back must not wait for itself. Loads by the host's other code do not pass here; the
// probe tells those apart itself (posix/isolated_call.cpp).
std::recursive_mutex& loaderGate() noexcept;

// Notes, once, the libraries mapped before the runtime's first load (see hasUnloadCode).
ORB_API void noteResidentLibraries() noexcept;

// The host loader's local-symbol load, through the gate.
inline host::utLibHandle loadLibraryLocally(const std::u16string& path, std::u16string* error) {
    noteResidentLibraries();
    std::lock_guard gate(loaderGate());
    return host::utLoadLibraryWithLocalSymbolVisibility(path, error);
}

// How long a copy of the process may run a library's unload code (see probeLibraryUnload).
inline constexpr unsigned kUnloadProbeSeconds = 5;

// The host loader's unload, through the gate; nothing for a null handle. A library whose unload
// would run code of its own (hasUnloadCode) is unloaded in a forked copy first, and here only
// when it was unloaded there: otherwise it stays mapped (its code retired when that code failed)
// and the verdict says why.
ORB_API UnloadVerdict unloadLibrary(host::utLibHandle handle) noexcept;

// Whether unloading `library` now could run code the library brought: finalisers other than the
// compiler's default one, an old-style finaliser that does anything, functions it may have
// registered to run at its unload (it imports __cxa_atexit or atexit), or a library it needs that
// was not mapped before the runtime's first load (unloading the module may unload that one too).
// Read from the mapped image; answers true when the image cannot be read as expected.
ORB_API bool hasUnloadCode(host::utLibHandle library) noexcept;

class LibraryHandle {
public:
    LibraryHandle() noexcept = default;
    explicit LibraryHandle(host::utLibHandle handle) noexcept : m_handle(handle) {}
    ~LibraryHandle() { reset(); }
    LibraryHandle(LibraryHandle&& other) noexcept : m_handle(other.release()) {}
    LibraryHandle& operator=(LibraryHandle&& other) noexcept {
        if (this != &other) {
            reset();
            m_handle = other.release();
        }
        return *this;
    }
    LibraryHandle(const LibraryHandle&) = delete;
    LibraryHandle& operator=(const LibraryHandle&) = delete;

    host::utLibHandle get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != nullptr; }
    // Hands the handle on; this object owns nothing afterwards.
    host::utLibHandle release() noexcept { return std::exchange(m_handle, nullptr); }
    // A library whose unload code fails in a copy stays mapped; the caller's own failure says
    // what went wrong with the module.
    void reset() noexcept { (void)unloadLibrary(release()); }

private:
    host::utLibHandle m_handle = nullptr;
};

}  // namespace orb::platform
