// The machine-fault guard: the machine-level half of the module boundary
// (platform/module_boundary.hpp), through which every call into module code goes.
//
// A module that dereferences a bad pointer, divides an integer by zero, executes an illegal
// instruction, recurses without bound or aborts must end in a host error, not end the process.
// While module code runs under the guard, SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT on the
// calling thread jump back to the guard, which answers the signal number. The handlers run on an
// alternate signal stack of the thread, so a fault caused by exhausting the thread's own stack is
// caught too. An abort is a signal the module's thread sends
// itself: aborts elsewhere (another thread, host code outside a guard) still end the process.
//
// Outside a guard (another thread, or host code not called from a guarded call) the handlers
// that were installed before this library's run unchanged: default action, ignore, or the other
// handler with its own arguments.
//
// Guards nest: a module that calls the host, which calls another module, has two guards armed;
// a fault returns to the innermost, and the outer one is armed again once the inner call ends,
// normally or by an exception. After a caught fault the thread's signal mask is the one the
// faulting code ran with (arming costs no system call), and the alternate stack is free for the
// next fault.
//
// Frames of the module between the guard and the fault are abandoned, not unwound: their
// destructors do not run. Module code is C, Fortran or C++ compiled for that contract; host code
// that a module called and that faulted loses its clean-up too, which a fault makes moot anyway.
#pragma once

#include <ry_types.h>

#include "platform/export.hpp"
#include "platform/thread_block.hpp"

namespace orb::platform {

// Calls fn(context) under the guard. Answers 0 when it returned, or the signal of the machine
// fault (or abort) that ended it; C++ exceptions pass through unchanged. Module code goes through
// platform/module_boundary.hpp, which adds the exceptions; this is its machine-level half.
ORB_API int runUnderFaultGuard(void (*fn)(void*), void* context);

// The same for a C entry point called with its four arguments, without a function in between.
// The library's own: called directly, not through the exported name.
// `block` is the calling thread's block (platform/thread_block.hpp), which the caller has found
// already: a second look-up would be a second call into the dynamic loader.
using CEntryPoint = void (*)(int, ryArray**, int, ryArray**);
struct ThreadBlock;
inline int runEntryUnderFaultGuard(ThreadBlock& block, CEntryPoint entry, int nlhs, ryArray** plhs, int nrhs,
                                   ryArray** prhs);

// True once after a guard on this thread caught a fault (which the boundary raises as
// host::FatalException), until the next guard is armed. The fatal error travels on through the frames of every module that called
// the faulting one; the first to claim it (the innermost, as the stack unwinds) is the module
// whose code faulted, and the callers see an error that is not theirs.
ORB_API bool claimCaughtFault() noexcept;

// --- the inline part --------------------------------------------------------------------------

#if defined(__x86_64__)
// One armed guard, in the frame of the call it guards: where the trampoline's stack is, the guard
// that was armed before it (the caller's, when module code calls the host which calls a module),
// and the caller's registers as the trampoline found them (rbx, rbp, r12 to r15), which its
// landing loads back after a fault. The trampoline and its landing are in posix/fault_guard.cpp.
struct ArmedGuard {
    void* landingStack;
    ArmedGuard* previous;
    void* registers[6];
};
// The entry's arguments first, where the entry reads them: the trampoline moves none.
extern "C" int orb_guard_call(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs, ArmedGuard* armed,
                              CEntryPoint target) __attribute__((visibility("hidden")));
// Makes the calling thread's guard ready: its handlers and alternate stack once, and a fault
// still unclaimed forgotten, as arming another guard does.
[[gnu::cold]] void prepareGuardedThread(ThreadBlock& block);

// Arms a guard in this frame around `call(&armed)`, a call through the trampoline, and answers
// what it answers: 0, or the signal of a fault. Arming is a test and two stores; a fault
// disarms in the handler, an exception here.
template <class TrampolineCall>
[[gnu::always_inline]] inline int runArmed(ThreadBlock& block, TrampolineCall call) {
    if (block.guard != ThreadBlock::kReady) [[unlikely]]
        prepareGuardedThread(block);
    ArmedGuard armed;
    armed.previous = block.armed;
    block.armed = &armed;
    int signal;
    try {
        signal = call(&armed);
    } catch (...) {
        block.armed = armed.previous;
        throw;
    }
    if (signal == 0) block.armed = armed.previous;
    return signal;
}

// Written into the call frame: every module call comes through here.
inline int runEntryUnderFaultGuard(ThreadBlock& block, CEntryPoint entry, int nlhs, ryArray** plhs, int nrhs,
                                   ryArray** prhs) {
    return runArmed(block, [&](ArmedGuard* armed) __attribute__((always_inline)) {
        return orb_guard_call(nlhs, plhs, nrhs, prhs, armed, entry);
    });
}
#else
int runEntryUnderFaultGuardOutOfLine(ThreadBlock& block, CEntryPoint entry, int nlhs, ryArray** plhs, int nrhs,
                                     ryArray** prhs);
inline int runEntryUnderFaultGuard(ThreadBlock& block, CEntryPoint entry, int nlhs, ryArray** plhs, int nrhs,
                                   ryArray** prhs) {
    return runEntryUnderFaultGuardOutOfLine(block, entry, nlhs, plhs, nrhs, prhs);
}
#endif

}  // namespace orb::platform
