// The runtime's per-thread state that every module call reads: the fault guard's chain. One
// variable, so that a call finds all of it
// with one thread-local access (a library's thread-local variables are reached through the
// dynamic loader, once per variable and function).
//
// Not the initial-exec model: the library may be opened late, and the loader's static room for
// such libraries is small. GCC builds use the descriptor dialect, which makes the access a short
// indirect call once resolved. Never allocates: plain data, zero at the start of every thread.
#pragma once

namespace orb::platform {

struct ArmedGuard;  // fault_guard.cpp: one armed guard, in the frame that armed it

struct ThreadBlock {
    // --- the fault guard (posix/fault_guard.cpp) ---
    // The innermost armed guard of the thread; null outside module code.
    ArmedGuard* armed;
    // Where the thread's guard stands: arming one finds kReady, so that it tests one byte and
    // writes nothing.
    enum GuardState : unsigned char {
        kUnprepared = 0,     // the thread has no handlers or alternate stack yet
        kReady = 1,          // prepared, no fault waiting to be claimed
        kFaultUnclaimed = 2  // a fault caught here that no module's call has claimed yet (claimCaughtFault)
    };
    GuardState guard;
};

extern __thread ThreadBlock t_threadBlock __attribute__((visibility("hidden")));

// The compiler would compute the address again at every use (a call into the dynamic loader each
// time) rather than keep it: the empty statement makes it a value it has to keep.
inline ThreadBlock& threadBlock() noexcept {
    ThreadBlock* block = &t_threadBlock;
    __asm__("" : "+r"(block));
    return *block;
}

}  // namespace orb::platform
