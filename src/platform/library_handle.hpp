// A library the host loader mapped, owned by one scope: released (host::utUnloadLibrary) when the
// scope ends, on every path, unless ownership was handed on with release().
#pragma once

#include <utility>

#include "host/ut.hpp"

namespace orb::platform {

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
        if (host::utLibHandle handle = release()) host::utUnloadLibrary(handle);
    }

private:
    host::utLibHandle m_handle = nullptr;
};

}  // namespace orb::platform
