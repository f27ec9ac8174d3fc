// POSIX implementation of the machine-fault guard: signal handlers, a per-thread alternate signal
// stack, and a thread-local chain of armed jump buffers.
#include "platform/fault_guard.hpp"

#include <csetjmp>
#include <csignal>
#include <cstddef>
#include <mutex>

#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "platform/thread_block.hpp"

namespace orb::platform {

#if defined(__x86_64__)

// On x86-64 a guarded call runs through a trampoline that copies the caller's registers into the
// armed guard and records where its stack is (ArmedGuard, fault_guard.hpp); a fault makes the
// handler return into the trampoline's landing instead of to the faulting instruction, which
// loads the registers back. A jump buffer (sigsetjmp) would save the same registers on every
// call, and its landing would have to put the signal mask back itself; here the return from the
// handler restores the mask the faulting code ran with.
//
// orb_guard_call(a, b, c, d, armed, target) calls target(a, b, c, d) and answers 0, or the signal
// of the fault that ended it (the handler's return lands in orb_guard_landing with it in eax and
// the armed guard in rdx). The target's arguments come first, so that they are already where the
// target reads them. orb_guard_call_context(context, -, -, -, armed, target) is the same call of
// target(context).
extern "C" {
int orb_guard_call_context(void* context, void*, void*, void*, ArmedGuard* armed, void (*target)(void*))
    __attribute__((visibility("hidden")));
void orb_guard_landing() __attribute__((visibility("hidden")));
}

static_assert(offsetof(ArmedGuard, landingStack) == 0 && offsetof(ArmedGuard, registers) == 16,
              "the trampoline's offsets");

// The registers the callee must keep are copied, not pushed: a target that returns has kept them
// by its own contract, so only the landing after a fault reads the copies, and the usual return
// pops nothing. The trampoline changes none of them, so the unwind table needs no rule for them:
// an exception thrown by the target passes through to the caller's handler.
__asm__(R"(
    .text
    .p2align 4
    .globl orb_guard_call
    .hidden orb_guard_call
    .globl orb_guard_call_context
    .hidden orb_guard_call_context
    .globl orb_guard_landing
    .hidden orb_guard_landing
    .type orb_guard_call, @function
orb_guard_call:
orb_guard_call_context:
    .cfi_startproc
    movq %rbx, 16(%r8)
    movq %rbp, 24(%r8)
    movq %r12, 32(%r8)
    movq %r13, 40(%r8)
    movq %r14, 48(%r8)
    movq %r15, 56(%r8)
    subq $8, %rsp
    .cfi_adjust_cfa_offset 8
    movq %rsp, (%r8)
    call *%r9
    xorl %eax, %eax
    addq $8, %rsp
    .cfi_adjust_cfa_offset -8
    ret
    .cfi_adjust_cfa_offset 8
orb_guard_landing:
    movq 16(%rdx), %rbx
    movq 24(%rdx), %rbp
    movq 32(%rdx), %r12
    movq 40(%rdx), %r13
    movq 48(%rdx), %r14
    movq 56(%rdx), %r15
    addq $8, %rsp
    .cfi_adjust_cfa_offset -8
    ret
    .cfi_endproc
    .size orb_guard_call, . - orb_guard_call
)");

#else

// One armed guard. Lives in the frame of runUnderFaultGuard; `previous` is the guard that was
// armed when this one was (the caller's, when module code calls the host which calls a module).
struct ArmedGuard {
    sigjmp_buf jump;
    ArmedGuard* previous = nullptr;
    volatile sig_atomic_t signal = 0;
    // The signal mask the faulting code ran with, restored after the jump (arming saves none:
    // saving it would be a system call on every guarded call).
    sigset_t mask;
};

#endif

namespace {

// SIGABRT is here because a module that calls abort() (directly, through a failed assertion, or
// through std::terminate) has failed the call, not the host. It is raised on the aborting thread,
// so only an abort inside a guarded call is caught; any other still ends the process.
constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t kFaultSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];

// Room for the handler and whatever handler it chains to; the guarded path itself only jumps.
constexpr std::size_t kAltStackSize = 256 * 1024;

// The guard's state of a thread is in the thread block (platform/thread_block.hpp). The handler's
// access to it never allocates: the guarded call has touched it on this thread before any fault.

struct sigaction g_previous[kFaultSignalCount];
std::once_flag g_installOnce;

const struct sigaction* previousHandler(int signal) {
    for (std::size_t i = 0; i < kFaultSignalCount; ++i) {
        if (kFaultSignals[i] == signal) return &g_previous[i];
    }
    return nullptr;
}

// What would have happened without this library. Ignoring a fault is not possible (the kernel
// forces the default action on synchronous faults), so an ignored fault takes the default too.
void chainToPrevious(int signal, siginfo_t* info, void* context) {
    const struct sigaction* previous = previousHandler(signal);
    if (previous && (previous->sa_flags & SA_SIGINFO) && previous->sa_sigaction) {
        previous->sa_sigaction(signal, info, context);
        return;
    }
    if (previous && previous->sa_handler != SIG_DFL && previous->sa_handler != SIG_IGN) {
        previous->sa_handler(signal);
        return;
    }
    // The default action: delivered as soon as this handler returns and the signal is unblocked
    // (and a hardware fault recurs anyway when the instruction runs again).
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

void onFault(int signal, siginfo_t* info, void* context) {
    ThreadBlock& block = threadBlock();
    if (ArmedGuard* armed = block.armed) {
#if defined(__x86_64__)
        // Return into the trampoline's landing, with the signal as its answer: the module's frames
        // are abandoned, the caller's registers come back from where the trampoline saved them, and
        // the floating-point unit starts clean, as in a handler.
        auto* machine = &static_cast<ucontext_t*>(context)->uc_mcontext;
        machine->gregs[REG_RSP] = reinterpret_cast<greg_t>(armed->landingStack);
        machine->gregs[REG_RIP] = reinterpret_cast<greg_t>(&orb_guard_landing);
        machine->gregs[REG_RAX] = signal;
        machine->gregs[REG_RDX] = reinterpret_cast<greg_t>(armed);
        constexpr greg_t kDirectionFlag = 0x400;
        machine->gregs[REG_EFL] &= ~kDirectionFlag;
        if (machine->fpregs) {
            machine->fpregs->cwd = 0x37f;
            machine->fpregs->swd = 0;
            machine->fpregs->ftw = 0;
            machine->fpregs->mxcsr = 0x1f80;
        }
        block.armed = armed->previous;
        block.guard = ThreadBlock::kFaultUnclaimed;
#if defined(__SANITIZE_ADDRESS__)
        // What the sanitizer's own long jump does: the abandoned frames' poisoning goes.
        __asan_handle_no_return();
#endif
        return;
#else
        armed->signal = signal;
        armed->mask = static_cast<const ucontext_t*>(context)->uc_sigmask;
        siglongjmp(armed->jump, 1);
#endif
    }
    chainToPrevious(signal, info, context);
}

void installHandlers() {
    struct sigaction action {};
    action.sa_sigaction = &onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kFaultSignalCount; ++i) {
        sigaction(kFaultSignals[i], &action, &g_previous[i]);
    }
}

// The calling thread's alternate signal stack: made on the thread's first guarded call unless
// the thread has one already, and released when the thread ends.
class AlternateStack {
public:
    AlternateStack() {
        stack_t current{};
        if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;  // someone else's
        void* memory = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) return;  // faults are still caught, stack overflow is not
        stack_t stack{};
        stack.ss_sp = memory;
        stack.ss_size = kAltStackSize;
        if (sigaltstack(&stack, nullptr) != 0) {
            munmap(memory, kAltStackSize);
            return;
        }
        m_memory = memory;
    }
    ~AlternateStack() {
        if (!m_memory) return;
        stack_t disable{};
        disable.ss_flags = SS_DISABLE;
        sigaltstack(&disable, nullptr);
        munmap(m_memory, kAltStackSize);
    }
    AlternateStack(const AlternateStack&) = delete;
    AlternateStack& operator=(const AlternateStack&) = delete;

private:
    void* m_memory = nullptr;
};

#if !defined(__x86_64__)
// Where a caught fault lands: the handler ran with the signal blocked and the jump leaves it so;
// the mask the faulting code ran with comes back here, or the next fault on this thread would end
// the process.
__attribute__((noinline, cold)) int landAfterFault(ThreadBlock& block, ArmedGuard& armed) {
    pthread_sigmask(SIG_SETMASK, &armed.mask, nullptr);
    block.armed = armed.previous;
    block.guard = ThreadBlock::kFaultUnclaimed;
    return armed.signal;
}
#endif

}  // namespace

// Once per thread, and after each caught fault; every other guarded call skips the call_once and
// the alternate stack's initialisation check.
void prepareGuardedThread(ThreadBlock& block) {
    if (block.guard == ThreadBlock::kUnprepared) {
        std::call_once(g_installOnce, installHandlers);
        static thread_local AlternateStack stack;
    }
    block.guard = ThreadBlock::kReady;
}

#if defined(__x86_64__)

int runUnderFaultGuard(void (*fn)(void*), void* context) {
    return runArmed(threadBlock(), [&](ArmedGuard* armed) __attribute__((always_inline)) {
        return orb_guard_call_context(context, nullptr, nullptr, nullptr, armed, fn);
    });
}

#else

// Both guarded calls are written out in full: a function that sets a jump target is never
// inlined, and one more call level would cost every module call a prologue of its own. The jump
// target's frame holds no object with a destructor: disarming on an exception is the handler's
// job, and after a fault the landing disarms instead, because the jump skips the handler.
#define ORB_RUN_GUARDED(...)                                        \
    if (block.guard != ThreadBlock::kReady) [[unlikely]]            \
        prepareGuardedThread(block);                                \
    ArmedGuard armed;                                               \
    armed.previous = block.armed;                                   \
    if (sigsetjmp(armed.jump, 0) != 0) [[unlikely]]                 \
        return landAfterFault(threadBlock(), armed);                \
    block.armed = &armed;                                           \
    try {                                                           \
        __VA_ARGS__;                                                \
    } catch (...) {                                                 \
        block.armed = armed.previous;                               \
        throw;                                                      \
    }                                                               \
    block.armed = armed.previous;                                   \
    return 0

int runUnderFaultGuard(void (*fn)(void*), void* context) {
    ThreadBlock& block = threadBlock();
    ORB_RUN_GUARDED(fn(context));
}

int runEntryUnderFaultGuardOutOfLine(ThreadBlock& block, CEntryPoint entry, int nlhs, ryArray** plhs, int nrhs,
                                     ryArray** prhs) {
    ORB_RUN_GUARDED(entry(nlhs, plhs, nrhs, prhs));
}

#undef ORB_RUN_GUARDED

#endif

bool claimCaughtFault() noexcept {
    ThreadBlock& block = threadBlock();
    if (block.guard != ThreadBlock::kFaultUnclaimed) return false;
    block.guard = ThreadBlock::kReady;
    return true;
}

}  // namespace orb::platform
