// POSIX implementation of the machine-fault guard: signal handlers, a per-thread alternate signal
// stack, and a thread-local chain of armed jump buffers.
#include "platform/fault_guard.hpp"

#include <csetjmp>
#include <csignal>
#include <cstddef>
#include <mutex>
#include <utility>

#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>


namespace orb::platform {
namespace {

// SIGABRT is here because a module that calls abort() (directly, through a failed assertion, or
// through std::terminate) has failed the call, not the host. It is raised on the aborting thread,
// so only an abort inside a guarded call is caught; any other still ends the process.
constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t kFaultSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];

// Room for the handler and whatever handler it chains to; the guarded path itself only jumps.
constexpr std::size_t kAltStackSize = 256 * 1024;

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

// The guard's state of one thread, in one variable: every guarded call reads and writes it, and
// each thread-local variable of a shared library is found through a call into the dynamic
// loader, once per variable and function. Not the initial-exec model: the library may be opened
// late, and the loader's static room for such libraries is too small for this library's
// thread-local variables together with the reference host's. The handler's access never
// allocates: the guarded call has touched the variable on this thread before any fault.
struct GuardState {
    // The innermost armed guard of the thread; null outside module code.
    ArmedGuard* armed = nullptr;
    // A fault caught on this thread that no module's call has claimed yet (see claimCaughtFault).
    bool faultUnclaimed = false;
    // Set once the thread has its handlers and alternate stack (see prepareThread).
    bool prepared = false;
};
thread_local GuardState t_guard;

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
    if (ArmedGuard* armed = t_guard.armed) {
        armed->signal = signal;
        armed->mask = static_cast<const ucontext_t*>(context)->uc_sigmask;
        siglongjmp(armed->jump, 1);
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

// Once per thread; every later guarded call skips the call_once and the alternate stack's
// initialisation check.
__attribute__((noinline)) void prepareThreadFirst() {
    std::call_once(g_installOnce, installHandlers);
    static thread_local AlternateStack stack;
    t_guard.prepared = true;
}

inline void prepareThread() {
    if (!t_guard.prepared) [[unlikely]]
        prepareThreadFirst();
}

// The call with the guard armed; its own frame so that the jump target's frame holds nothing
// with a destructor. Disarming on an exception is the scope's job; after a fault the guard's
// frame disarms instead, because the jump skips this frame.
__attribute__((noinline)) void runArmed(ArmedGuard& armed, void (*fn)(void*), void* context) {
    struct Disarm {
        ArmedGuard* previous;
        ~Disarm() { t_guard.armed = previous; }
    } disarm{armed.previous};
    t_guard.armed = &armed;
    fn(context);
}

}  // namespace

int runUnderFaultGuard(void (*fn)(void*), void* context) {
    prepareThread();
    t_guard.faultUnclaimed = false;
    ArmedGuard armed;
    armed.previous = t_guard.armed;
    // The handler runs with the signal blocked and the jump leaves it so; the mask the faulting
    // code ran with comes back here, or the next fault on this thread would end the process.
    if (sigsetjmp(armed.jump, 0) != 0) {
        pthread_sigmask(SIG_SETMASK, &armed.mask, nullptr);
        t_guard.armed = armed.previous;
        t_guard.faultUnclaimed = true;
        return armed.signal;
    }
    runArmed(armed, fn, context);
    return 0;
}

bool claimCaughtFault() noexcept { return std::exchange(t_guard.faultUnclaimed, false); }

}  // namespace orb::platform
