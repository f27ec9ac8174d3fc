// A library the host loader mapped, owned by one scope: released (host::utUnloadLibrary) when the
// scope ends, on every path, unless ownership was handed on with release().
#pragma once

#include <mutex>
#include <string>
#include <utility>

#include "host/ut.hpp"

namespace orb::platform {

// The runtime's own calls into the system loader hold this gate; a start-up probe holds it while
// it forks, so that its copy of the process is never made halfway through one of them (the copy
// would find the loader's lock taken for good and the probe would have to try again, five times at
// most). The system loader takes one lock for a whole load or unload anyway, so the gate makes
// nothing wait that would not have waited. Recursive: a module's start-up or exit code that calls
// the runtime back must not wait for itself. Loads by the host's other code do not pass here; the
// probe tells those apart itself (posix/isolated_call.cpp).
std::recursive_mutex& loaderGate() noexcept;

// The host loader's local-symbol load, through the gate.
inline host::utLibHandle loadLibraryLocally(const std::u16string& path, std::u16string* error) {
    std::lock_guard gate(loaderGate());
    return host::utLoadLibraryWithLocalSymbolVisibility(path, error);
}

// The host loader's unload, through the gate; nothing for a null handle.
inline void unloadLibrary(host::utLibHandle handle) noexcept {
    if (!handle) return;
    std::lock_guard gate(loaderGate());
    host::utUnloadLibrary(handle);
}

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
    void reset() noexcept {
        unloadLibrary(release());
    }

private:
    host::utLibHandle m_handle = nullptr;
};

}  // namespace orb::platform
