// The one boundary through which the runtime runs module code: entry points, exit functions,
// version functions, the C++ create and destroy entries, and completions a module registered.
//
// Module code may fail in four ways, and each becomes one ModuleOutcome instead of ending the
// host or escaping as whatever it was:
//   - a machine fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL, stack exhaustion) on the calling thread;
//   - an abort (SIGABRT raised on the calling thread: abort(), a failed assertion, terminate);
//   - an error of the host's own kinds that travelled through the module (a module that called
//     the host, which raised): it is kept whole, to be raised again unchanged;
//   - any other C++ exception ("foreign"): its kind and text are taken at once and the exception
//     object is released inside the boundary, because its type and destructor are the module's
//     code, which may be unmapped before anyone reports the failure.
//
// Faults are caught with the machine-fault guard (platform/fault_guard.hpp): module frames
// between the boundary and the fault are abandoned, not unwound. Only a thread cancellation
// passes through unchanged, as the thread library requires.
//
// Cost on the normal path: arming the guard (a few thread-local stores) and an empty outcome.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <type_traits>

#include "platform/export.hpp"
#include "platform/fault_guard.hpp"

namespace orb::platform {

class ORB_API ModuleOutcome {
public:
    enum class Kind : unsigned char {
        Returned,      // the module code returned
        MachineFault,  // signal() is SIGSEGV, SIGBUS, SIGFPE or SIGILL
        Abort,         // signal() is SIGABRT
        HostError,     // a host error passed through the module; raise() throws it unchanged
        Foreign,       // any other C++ exception; foreignKind() and text() describe it
    };
    enum class ForeignKind : unsigned char {
        Standard,  // derived from std::exception; text() is its what()
        Text,      // a thrown const char*; text() is the text
        Other,     // any other type; text() is empty
    };

    ModuleOutcome() noexcept = default;

    // How the module code ended when it did not return: a fault or abort with its signal.
    static ModuleOutcome fault(int signal);
    // Classifies the exception being handled. Call only inside a catch handler. A thread
    // cancellation is rethrown.
    static ModuleOutcome fromCurrentException();

    bool ok() const noexcept { return m_kind == Kind::Returned; }
    explicit operator bool() const noexcept { return ok(); }
    Kind kind() const noexcept { return m_kind; }
    int signal() const noexcept { return m_signal; }
    ForeignKind foreignKind() const noexcept { return m_foreignKind; }
    const std::string& text() const noexcept { return m_text; }

    // One line for a message: "signal 11 (Segmentation fault)", "a C++ exception: <text>",
    // "a C++ exception of an unknown type", or the host error's own message. Empty when it
    // returned.
    std::string describe() const;

    // Raises the failure as the runtime's call paths expect it: a fault or abort as
    // host::FatalException(signal), a host error unchanged, a foreign exception as
    // ForeignModuleException. Does nothing when the module code returned.
    void raise() const {
        if (!ok()) raiseFailure();
    }

private:
    [[noreturn]] void raiseFailure() const;

    Kind m_kind = Kind::Returned;
    ForeignKind m_foreignKind = ForeignKind::Other;
    int m_signal = 0;
    std::string m_text;
    std::exception_ptr m_hostError;
};

// A foreign exception that left module code, raised again in the runtime's own terms.
class ORB_API ForeignModuleException : public std::exception {
public:
    ForeignModuleException(ModuleOutcome::ForeignKind kind, std::string text);
    const char* what() const noexcept override { return m_text.c_str(); }
    ModuleOutcome::ForeignKind kind() const noexcept { return m_kind; }
    const std::string& text() const noexcept { return m_text; }

private:
    ModuleOutcome::ForeignKind m_kind;
    std::string m_text;
};

// Runs module code: fn() under the machine-fault guard, with every exception caught.
//   if (auto outcome = callModuleCode([&] { entry(nlhs, plhs, nrhs, prhs); }); !outcome) ...
template <class Fn>
ModuleOutcome callModuleCode(Fn&& fn) {
    using Callable = std::remove_reference_t<Fn>;
    try {
        const int signal = runUnderFaultGuard([](void* context) { (*static_cast<Callable*>(context))(); },
                                              const_cast<void*>(static_cast<const void*>(&fn)));
        if (signal == 0) return ModuleOutcome();
        return ModuleOutcome::fault(signal);
    } catch (...) {
        return ModuleOutcome::fromCurrentException();
    }
}

// Runs `guarded` (a guarded call answering the signal it caught, or 0) and raises what failed:
// the machine fault, or the exception classified here, so that the exception object is released
// before the failure is raised. Every module call comes through here, so the outcome is only
// built when the module code failed.
// Raises what a guarded call caught: `caught` when set (made in the handler; taken over and
// freed here), else the machine fault of `signal`.
[[noreturn, gnu::cold]] ORB_API void raiseGuardedFailure(int signal, ModuleOutcome* caught);

template <class Guarded>
[[gnu::always_inline]] inline void raiseOnFailure(Guarded&& guarded) {
    // The outcome lives on the heap, made only on failure: the common path builds nothing.
    ModuleOutcome* caught = nullptr;
    int signal = 0;
    try {
        signal = guarded();
    } catch (...) {
        caught = new ModuleOutcome(ModuleOutcome::fromCurrentException());
    }
    if ((signal != 0) | (caught != nullptr)) [[unlikely]]
        raiseGuardedFailure(signal, caught);
}

// callModuleCode, then raise() on failure: for call paths that report by exception.
template <class Fn>
void runModuleCode(Fn&& fn) {
    using Callable = std::remove_reference_t<Fn>;
    raiseOnFailure([&fn] {
        return runUnderFaultGuard([](void* context) { (*static_cast<Callable*>(context))(); },
                                  const_cast<void*>(static_cast<const void*>(&fn)));
    });
}

// runModuleCode for a C entry point called with its four arguments, on the thread of `block`.
[[gnu::always_inline]] inline void runModuleEntry(ThreadBlock& block, CEntryPoint entry, int nlhs, ryArray** plhs,
                                                  int nrhs, ryArray** prhs) {
    raiseOnFailure([&] { return runEntryUnderFaultGuard(block, entry, nlhs, plhs, nrhs, prhs); });
}

}  // namespace orb::platform
