// Address space and thread ends, for the host's array slots (vhost/ry/slots.cpp): large ranges
// reserved at once and backed by memory only where they are touched, and a hook that runs when a
// thread ends.
#pragma once

#include <cstddef>

namespace vhost::platform {

// Reserves `bytes` of address space, readable, writable and zero-filled; pages are backed only
// once touched and are not counted against the system's commit limit. Null when the system
// refuses.
void* reserveAddressRange(std::size_t bytes) noexcept;

// Runs `hook` at the end of each thread that armed it, with the value the thread armed it with.
// Made once and never destroyed: a thread may end at any time.
class ThreadExitHook {
public:
    explicit ThreadExitHook(void (*hook)(void* value)) noexcept;
    ThreadExitHook(const ThreadExitHook&) = delete;
    ThreadExitHook& operator=(const ThreadExitHook&) = delete;

    // Arms the hook for the calling thread with `value` (not null); arming again replaces it.
    void arm(void* value) noexcept;

private:
    unsigned m_key = 0;
};

}  // namespace vhost::platform
