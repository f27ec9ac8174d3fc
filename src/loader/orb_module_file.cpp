#include "loader/orb_module_file.hpp"

#include <new>
#include <stdexcept>

#include <boost/optional/bad_optional_access.hpp>

#include "capi/call_frame_inline.hpp"
#include "capi/message_ids.hpp"
#include "capi/raise.hpp"
#include "capi/scopes.hpp"
#include "capi/trap_flag.hpp"
#include "cppapi/async.hpp"
#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "host/ut.hpp"
#include "loader/dispatch_strategies.hpp"
#include "loader/orb_file_reader.hpp"
#include "orbfile/retrieve_version.hpp"
#include "platform/fault_guard.hpp"
#include "platform/module_boundary.hpp"
#include "startup/log_record.hpp"

namespace orb::loader {
namespace {

using capi::FailureAction;

template <class Tag, class... Args>
std::string catalogueText(Args&&... args) {
    return host::i18n::to_string(host::i18n::GetFormattedMessage(capi::messageIdentifier<Tag>(),
                                                                  {host::MessageArg(std::forward<Args>(args))...}));
}

// The frame's view of one function record: how to load it, and what a failure becomes.
class FunctionCallSite final : public capi::ModuleCallSite {
public:
    explicit FunctionCallSite(OrbFunctionHandle& function) : m_function(function) {
        // A module that had a completion fault since the last call must be refused; the flag is
        // set for the whole process, and a loaded module's call otherwise reads one field. Each
        // field written once, without a branch.
        ready.record = function.loadRecord();
        ready.strategy = cppapi::anyCallbackFault() ? nullptr : function.readyStrategy();
    }

    // Asked only when the module was not ready as the call began.
    capi::LoadedModule ensureLoaded() override { return loadOrRefuse(); }

    FailureAction classifyFailure() override {
        std::string message;
        try {
            throw;
        } catch (host::FatalException& fault) {
            // Only the module whose own code faulted is refused from now on; the modules that
            // called it see the error pass through them.
            if (platform::claimCaughtFault()) {
                m_function.recordFault(fault.identifier());
                if (!host::HasBuiltinName(fault)) host::AnnotateWithBuiltinName(fault, m_function.get_hfuncname());
            }
            return FailureAction::rethrow();
        } catch (const host::IInternalException&) {
            return FailureAction::rethrow();
        } catch (const host::INamedFuncException&) {
            return FailureAction::rethrow();
        } catch (host::IUserException& error) {
            // The innermost function that knows it is named: a module calling another module
            // through the host reports the other module's name.
            if (!host::HasBuiltinName(error)) host::AnnotateWithBuiltinName(error, m_function.get_hfuncname());
            return FailureAction::rethrow();
        } catch (const host::LegacyThrowable& throwable) {
            host::report(throwable, 192);
            message = catalogueText<VELTRA::legacy_two_part::unexpectedVELTRAException>();
        } catch (const host::ShutdownException&) {
            // Before std::exception, which it derives from: the engine is going, nothing is tidied.
            return FailureAction::rethrowAtOnce();
        } catch (const platform::ForeignModuleException& foreign) {
            // Thrown by the module itself; the boundary kept its kind and text.
            using Foreign = platform::ModuleOutcome::ForeignKind;
            switch (foreign.kind()) {
                case Foreign::Standard:
                    message = catalogueText<VELTRA::legacy_two_part::unexpectedStandardException>(foreign.text());
                    break;
                case Foreign::Text:
                    message = catalogueText<VELTRA::legacy_two_part::unexpectedCharException>(foreign.text());
                    break;
                case Foreign::Other:
                    message = catalogueText<VELTRA::legacy_two_part::unexpectedUnkException>();
                    break;
            }
        } catch (const std::exception& error) {
            message = catalogueText<VELTRA::legacy_two_part::unexpectedStandardException>(std::string(error.what()));
        } catch (const char* text) {
            message = catalogueText<VELTRA::legacy_two_part::unexpectedCharException>(std::string(text ? text : ""));
        } catch (...) {
            message = catalogueText<VELTRA::legacy_two_part::unexpectedUnkException>();
        }
        return FailureAction::raise(
            std::make_unique<host::MsgIdException<VELTRA::legacy_two_part::unexpectedCPPexception>>(message));
    }

private:
    capi::LoadedModule loadOrRefuse() {
        if (cppapi::anyCallbackFault() && m_function.faultIdentifier().empty()) {
            if (std::string fault = cppapi::callbackFaultOf(m_function.loadRecord()); !fault.empty())
                m_function.recordFault(std::move(fault));
        }
        if (!m_function.faultIdentifier().empty()) {
            capi::raiseError<VELTRA::orb::ModuleFaulted>(m_function.get_hfuncname(), m_function.faultIdentifier());
        }
        if (!m_function.loadRecord()) m_function.module()->load();
        if (!m_function.strategy()) {
            // Only a host-supplied reader can produce a record of a kind nothing calls.
            throw std::logic_error("the orb module loaded with an entry point of an unknown kind");
        }
        return {m_function.loadRecord(), m_function.strategy()};
    }

    OrbFunctionHandle& m_function;
};

// Why a load failed, as the error the caller sees. A module built for an interface newer than
// this release is told so first, whatever else went wrong, when its manifest says so: only the
// file's bytes are read here, never its code run again.
[[noreturn]] void raiseLoadFailure(const std::u16string& path, int status, std::u16string errorText) {
    if (errorText.empty()) errorText = host::utLastLibraryError_u();
    orbfile::Version version;
    std::u16string builtFor;
    if (orbfile::retrieve_manifest_version(path, version) == orbfile::SUCCESS && version.is_incompatible_api() &&
        version.get_buildrel_string(builtFor)) {
        capi::raiseError<VELTRA::orb::MsgIncompatRel>(path, builtFor);
    }
    switch (status) {
        case kOrbLoadNoEntryPoint:
            capi::raiseError<VELTRA::orb::ErrInvalidORBFile>(
                path, host::i18n::get_message(capi::messageIdentifier<VELTRA::orb::MsgNoEntryPoint>()));
        case kOrbLoadMissingCppEntry:
            capi::raiseError<VELTRA::orb::ErrInvalidCPPORBFile>(path);
        case kOrbLoadOutOfMemory:
            capi::raiseError<VELTRA::orb::ErrOutOfMem>(path);
        default:
            capi::raiseError<VELTRA::orb::ErrInvalidORBFile>(path, errorText);
    }
}

// The contexts of the clear frame, left keeping nothing.
class ClearContexts {
public:
    ClearContexts()
        : m_allocToken(host::ryEnterNewAllocListContext()), m_arrayToken(host::ryEnterNewArrayListContext()) {}
    ~ClearContexts() {
        host::ryRestorePreviousAllocListContext(m_allocToken);
        host::ryExitArrayListContext(m_arrayToken, nullptr, 0, true);
    }
    ClearContexts(const ClearContexts&) = delete;
    ClearContexts& operator=(const ClearContexts&) = delete;

private:
    host::ryContextToken m_allocToken;
    host::ryContextToken m_arrayToken;
};

template <class Tag, class... Args>
void warn(Args&&... args) {
    host::ryWarningMsgId(host::MsgIdException<Tag>(std::forward<Args>(args)...));
}

// The name a module file's function is called by, for the reader: the file name without its last
// extension (a name starting with its only dot keeps it), as the dispatcher names the function.
// Made from the path's text, without the cost of a filesystem path for every load.
std::string calledName(std::u16string_view path) {
#ifdef _WIN32
    const std::size_t slash = path.find_last_of(u"/\\");
#else
    const std::size_t slash = path.find_last_of(u'/');
#endif
    std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    if (name != u"." && name != u"..") {
        const std::size_t dot = name.find_last_of(u'.');
        if (dot != std::u16string_view::npos && dot != 0) name = name.substr(0, dot);
    }
    return startup::logText(name);
}

}  // namespace

// --- function record ----------------------------------------------------------------------------

OrbFunctionHandle::OrbFunctionHandle(host::HostDispatcher* dispatcher, host::HostModuleFile* module,
                                     host::HostFunctionHandleFile* parent, const host::FileAspects& aspects)
    : HostFunctionHandleFile(dispatcher, module, parent, aspects.first, aspects.second, aspects.flag0, aspects.flag1,
                             aspects.flag2) {}

OrbFunctionHandle::~OrbFunctionHandle() = default;

void OrbFunctionHandle::dispatch_file(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    FunctionCallSite site(*this);
    capi::detail::runModuleCallHere(site, nlhs, plhs, nrhs, prhs);
}

void OrbFunctionHandle::chooseDispatchStrategy() {
    if (auto strategy = makeDispatchStrategy(m_loadRecord, *this)) m_strategy = std::move(strategy);
    updateReady();
}

// --- module record ------------------------------------------------------------------------------

OrbModuleFile::OrbModuleFile(host::HostDispatcher* dispatcher, std::u16string fullPath)
    : HostModuleFile(dispatcher, std::move(fullPath)) {
    const host::FileAspects aspects = get_aspects();
    setFunction(std::unique_ptr<host::HostFunctionHandleFile>(
        new (std::nothrow) OrbFunctionHandle(dispatcher, this, nullptr, aspects)));
}

OrbModuleFile::~OrbModuleFile() = default;

OrbFunctionHandle* OrbModuleFile::orbFunction() const noexcept { return static_cast<OrbFunctionHandle*>(function()); }

void OrbModuleFile::loadModuleFile() {
    std::u16string errorText;
    auto* readerRecord = capi::PerEngine<OrbFileReaderPerEngine>::find();
    if (!readerRecord || !readerRecord->reader) throw boost::bad_optional_access();

    OrbFunctionHandle* function = orbFunction();
    const std::u16string& path = get_hFullPath();
    if (!function) capi::raiseError<VELTRA::orb::ErrOutOfMem>(path);  // the record could not be made
    const std::string name = calledName(path);
    int status = kOrbLoadOk;
    impl_info_tag* record = nullptr;
    try {
        record = readerRecord->reader->loadOrb(path.c_str(), name.c_str(), &status);
    } catch (const host::LibraryLoadException& error) {
        errorText = host::generateDiagnosticMsg(error);
    }
    function->m_loadRecord = record;
    function->updateReady();
    if (!record) raiseLoadFailure(path, status, std::move(errorText));

    function->chooseDispatchStrategy();
}

void OrbModuleFile::unloadModuleFile() {
    OrbFunctionHandle* function = orbFunction();
    host::function_clear_notification(dispatcher(), function);
    if (!function || !function->m_loadRecord) return;
    // Its requests are settled before its code goes; a module that faulted hears of none of them.
    const cppapi::SettledRequests settled(function->m_loadRecord, !function->m_faultIdentifier.empty());
    if (!function->m_faultIdentifier.empty()) {
        // Its code faulted: none of it runs again, not its exit function, its destroy entry or
        // its finalisers.
        abandonFaultedRecord(function->m_loadRecord);
        function->m_loadRecord = nullptr;
        function->m_strategy.reset();
        function->m_faultIdentifier.clear();
        function->updateReady();
        return;
    }
    const bool cppModule = function->m_loadRecord->entryKind == kOrbEntryCpp;
    const std::u16string& path = get_hFullPath();
    {
        ClearContexts contexts;
        capi::resetTrapFlag();
        try {
            host::ProtectedCallGuard guard(function, false, dispatcher(), true);
            capi::CurrentModuleScope moduleScope(function->m_loadRecord);
            if (function->m_strategy) {
                function->m_strategy->clear();
            } else {
                clearLoadRecord(function->m_loadRecord);
            }
        } catch (const host::InterruptException& error) {
            if (cppModule) {
                warn<VELTRA::orb::CppOrbFailedToCleanupError>(path, error.message());
            } else {
                warn<VELTRA::atExit::FailedToCleanupError>(path, error.message());
            }
            // The clean-up swallowed the user's interrupt; it still applies to what runs next.
            host::utInterruptState::SetInterruptPending(true);
        } catch (const host::IUserException& error) {
            if (cppModule) {
                warn<VELTRA::orb::CppOrbFailedToCleanupError>(path, error.message());
            } else {
                warn<VELTRA::atExit::FailedToCleanupError>(path, error.message());
            }
        } catch (...) {
            if (cppModule) {
                warn<VELTRA::orb::CppOrbFailedToCleanup>(path);
            } else {
                warn<VELTRA::atExit::FailedToCleanup>(path);
            }
        }
    }
    function->m_loadRecord = nullptr;
    function->m_strategy.reset();
    function->m_faultIdentifier.clear();
    function->updateReady();
}

}  // namespace orb::loader

host::HostModuleFile* __construct_lm_orbw64(host::HostDispatcher* dispatcher, const char16_t* fullPath) {
    return new (std::nothrow) orb::loader::OrbModuleFile(dispatcher, std::u16string(fullPath ? fullPath : u""));
}
