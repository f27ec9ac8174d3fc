#include "platform/module_boundary.hpp"

#include <csignal>
#include <exception>
#include <memory>

#include <cxxabi.h>

#include "host/dispatcher.hpp"
#include "host/exceptions.hpp"
#include "platform/signal_name.hpp"
#include "platform/thread_block.hpp"

namespace orb::platform {

__thread ThreadBlock t_threadBlock __attribute__((tls_model("initial-exec")));

ModuleOutcome ModuleOutcome::fault(int signal) {
    ModuleOutcome outcome;
    outcome.m_kind = signal == SIGABRT ? Kind::Abort : Kind::MachineFault;
    outcome.m_signal = signal;
    return outcome;
}

void raiseGuardedFailure(int signal, ModuleOutcome* caught) {
    std::unique_ptr<ModuleOutcome> owned(caught);
    const ModuleOutcome failure = owned ? std::move(*owned) : ModuleOutcome::fault(signal);
    owned.reset();
    failure.raise();
    // A returned outcome is never handed here.
    std::terminate();
}

ModuleOutcome ModuleOutcome::fromCurrentException() {
    ModuleOutcome outcome;
    try {
        throw;
    } catch (abi::__forced_unwind&) {
        // A cancelled thread unwinds through here; stopping it would end the process.
        throw;
    } catch (const host::UserException&) {
        // Raised by the host while the module called it, or a fault of a module it called in
        // turn (already charged to that module).
        outcome.m_kind = Kind::HostError;
        outcome.m_hostError = std::current_exception();
    } catch (const host::ShutdownException&) {
        outcome.m_kind = Kind::HostError;
        outcome.m_hostError = std::current_exception();
    } catch (const host::LegacyThrowable&) {
        outcome.m_kind = Kind::HostError;
        outcome.m_hostError = std::current_exception();
    } catch (const host::LibraryLoadException&) {
        outcome.m_kind = Kind::HostError;
        outcome.m_hostError = std::current_exception();
    } catch (const ForeignModuleException&) {
        // Another boundary's report, passing through a module that called the host.
        outcome.m_kind = Kind::HostError;
        outcome.m_hostError = std::current_exception();
    } catch (const std::exception& error) {
        outcome.m_kind = Kind::Foreign;
        outcome.m_foreignKind = ForeignKind::Standard;
        outcome.m_text = error.what();
    } catch (const char* text) {
        outcome.m_kind = Kind::Foreign;
        outcome.m_foreignKind = ForeignKind::Text;
        outcome.m_text = text ? text : "";
    } catch (...) {
        outcome.m_kind = Kind::Foreign;
        outcome.m_foreignKind = ForeignKind::Other;
    }
    return outcome;
}

std::string ModuleOutcome::describe() const {
    switch (m_kind) {
        case Kind::Returned:
            return {};
        case Kind::MachineFault:
        case Kind::Abort: {
            return "signal " + std::to_string(m_signal) + " (" + signalName(m_signal) + ")";
        }
        case Kind::HostError:
            try {
                std::rethrow_exception(m_hostError);
            } catch (const std::exception& error) {
                return error.what();
            } catch (const host::LegacyThrowable& throwable) {
                return throwable.text();
            } catch (...) {
                return "a host error";
            }
        case Kind::Foreign:
            if (m_foreignKind == ForeignKind::Other) return "a C++ exception of an unknown type";
            return "a C++ exception: " + m_text;
    }
    return {};
}

void ModuleOutcome::raiseFailure() const {
    switch (m_kind) {
        case Kind::MachineFault:
        case Kind::Abort:
            throw host::FatalException(m_signal);
        case Kind::HostError:
            std::rethrow_exception(m_hostError);
        case Kind::Foreign:
        case Kind::Returned:
            break;
    }
    throw ForeignModuleException(m_foreignKind, m_text);
}

ForeignModuleException::ForeignModuleException(ModuleOutcome::ForeignKind kind, std::string text)
    : m_kind(kind), m_text(std::move(text)) {}

}  // namespace orb::platform
