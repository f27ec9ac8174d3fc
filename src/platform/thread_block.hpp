// The runtime's per-thread state that every module call reads: the fault guard's chain and state.
// One variable of sixteen bytes in the initial-exec model, so that a call finds it with one load
// from the thread register: in the default model each access is a call into the dynamic loader.
// A library opened late gets its initial-exec variables from the loader's small static room,
// which sixteen bytes beside the reference host's own fit (a host that opens the runtime with
// dlopen still loads it). Never allocates: plain data, zero at the start of every thread.
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

extern __thread ThreadBlock t_threadBlock __attribute__((visibility("hidden"), tls_model("initial-exec")));

inline ThreadBlock& threadBlock() noexcept { return t_threadBlock; }

}  // namespace orb::platform
