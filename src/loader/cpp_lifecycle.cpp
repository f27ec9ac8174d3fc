#include "loader/cpp_lifecycle.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "capi/message_ids.hpp"
#include "capi/per_engine.hpp"
#include "cppapi/engine_handle.hpp"
#include "cppapi/error_conversion.hpp"
#include "host/dataarray.hpp"
#include "host/i18n.hpp"
#include "host/services.hpp"
#include "host/ut.hpp"
#include "capi/impl_info.hpp"
#include "orbfile/entry_points.hpp"
#include "orbfile/load_readiness.hpp"
#include "platform/module_boundary.hpp"

namespace orb::loader {
namespace {

using capi::CurrentOrbInfoPerEngine;
using capi::PerEngine;

constexpr const char* kOutputConversionFailed = "Failed to return veltra::data::Array output to VELTRA.";

void recordError(CurrentOrbInfoPerEngine& info, std::u16string message, std::string identifier) {
    if (info.pendingError) {
        info.pendingError->message = std::move(message);
        info.pendingError->identifier = std::move(identifier);
        return;
    }
    auto record = std::make_shared<capi::PendingOrbError>();
    record->message = std::move(message);
    record->identifier = std::move(identifier);
    info.pendingError = std::move(record);
}

template <class Tag>
void recordCatalogueError(CurrentOrbInfoPerEngine& info) {
    const std::string identifier = capi::messageIdentifier<Tag>();
    recordError(info, host::i18n::get_message(identifier), identifier);
}

// Empties the engine's pending error and output list when a call ends, however it ends.
struct CallStateReset {
    CurrentOrbInfoPerEngine& info;
    ~CallStateReset() {
        info.pendingError.reset();
        info.errorPending = false;
        info.cppOutputs.clear();
    }
};

}  // namespace

std::unique_ptr<host::UserException> CppOrbException::clone() const { return std::make_unique<CppOrbException>(*this); }
void CppOrbException::rethrow() const { throw *this; }

void cppOutputCallback(int count, void** arrays) {
    auto& info = PerEngine<CurrentOrbInfoPerEngine>::getOrCreate();
    info.cppOutputs.clear();
    info.dispatchAspect = 0;
    for (int i = 0; i < count; ++i) {
        info.cppOutputs.push_back(host::data::Array::share(static_cast<host::data::ArrayImpl*>(arrays[i])));
    }
}

void cppErrorCallback(const char* message, const char* identifier) noexcept {
    try {
        auto& info = PerEngine<CurrentOrbInfoPerEngine>::mustExist();
        info.errorPending = true;
        const bool noMessage = !message || !*message;
        const bool noIdentifier = !identifier || !*identifier;
        if (noMessage && noIdentifier) {
            recordCatalogueError<VELTRA::orb::CppOrbErrorWithNoIDOrMsg>(info);
        } else if (identifier && capi::messageIdentifier<VELTRA::orb::CppOrbThreadMismatch>() == identifier) {
            recordCatalogueError<VELTRA::orb::CppOrbThreadMismatch>(info);
        } else if (message) {
            recordError(info, host::i18n::to_ustring(message), identifier ? identifier : "");
        }
    } catch (...) {
        // Never raises into the module: a text that cannot be recorded leaves what was recorded.
    }
}

void raisePendingError() {
    auto* info = PerEngine<CurrentOrbInfoPerEngine>::find();
    if (!info || !info->errorPending || !info->pendingError) return;
    std::shared_ptr<capi::PendingOrbError> pending = std::move(info->pendingError);
    info->errorPending = false;
    if (pending->runtimeError) pending->runtimeError->rethrow();
    throw CppOrbException(pending->identifier, host::i18n::to_string(pending->message));
}

platform::ModuleOutcome destroyCppFunction() {
    auto& info = PerEngine<CurrentOrbInfoPerEngine>::mustExist();
    impl_info_tag* current = info.currentModule;
    if (!current || !current->destroyFunction) return {};
    auto destroy = reinterpret_cast<CppDestroyEntry>(current->destroyFunction);
    void* function = current->cppFunction;
    return platform::callModuleCode([&] { destroy(function, &cppErrorCallback); });
}

void CPP_DispatchStrategy::dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    host::RevertImpersonationGuard revert;
    auto& info = PerEngine<CurrentOrbInfoPerEngine>::mustExist();
    CallStateReset reset{info};
    info.dispatchAspect = m_dispatchAspect;

    std::vector<host::data::Array> inputs;
    std::vector<void*> inputList(static_cast<std::size_t>(std::max(nrhs, 0)));
    inputs.reserve(inputList.size());
    for (std::size_t i = 0; i < inputList.size(); ++i) {
        inputs.push_back(host::data::createArrayFromRyArray(prhs[i]));
        inputList[i] = inputs.back().impl();
    }

    const int capacity = std::max(nlhs, static_cast<int>(capi::kMinOutputEntries));
    auto adapter = reinterpret_cast<CppAdapterEntry>(m_entry);
    void* function = module->cppFunction;
    platform::runModuleCode([&] {
        adapter(nlhs, capacity, nrhs, inputList.data(), function, &cppOutputCallback, &cppErrorCallback);
    });

    const std::size_t handBack = std::min(info.cppOutputs.size(), static_cast<std::size_t>(capacity));
    for (std::size_t i = 0; i < handBack; ++i) {
        try {
            plhs[i] = host::data::createRyArray(info.cppOutputs[i]);
        } catch (const std::exception& error) {
            throw CppOrbException("", std::string(kOutputConversionFailed) + " " + error.what());
        }
    }
    info.cppOutputs.clear();
    raisePendingError();
}

}  // namespace orb::loader

using orb::capi::CurrentOrbInfoPerEngine;
using orb::capi::PerEngine;

namespace {

// Set while a create entry runs on this thread: whether the module has fetched its engine handle.
// A create entry may load another C++ module, so each run keeps its own flag.
thread_local bool* t_handleFetched = nullptr;

// A creation that failed before the module fetched its handle leaves nobody else to release it.
// Once fetched, the handle belongs to the half-made object, whose base destructor may have
// released it already.
struct HandleOwnership {
    impl_info_tag* record;
    bool fetched = false;
    bool* outer = std::exchange(t_handleFetched, &fetched);
    bool created = false;

    ~HandleOwnership() {
        t_handleFetched = outer;
        if (created || fetched) return;
        orbDestroyFunctionImpl(record->engineHandle);
        record->engineHandle = nullptr;
    }
};

}  // namespace

namespace orb::loader {

platform::ModuleOutcome createCppFunction(impl_info_tag* record) {
    auto create = reinterpret_cast<CppCreateEntry>(record->createFunction);
    void* function = nullptr;
    HandleOwnership ownership{record};
    platform::ModuleOutcome outcome = platform::callModuleCode([&] { function = create(&cppErrorCallback); });
    if (!outcome) function = nullptr;
    record->cppFunction = function;
    ownership.created = function != nullptr;
    return outcome;
}

}  // namespace orb::loader

namespace {

constexpr const char* kCreateEntry = "its create entry point (orbCreateOrbFunction)";

// The load's create step in the copy of the process that proved a C++ module's start-up code for
// `orb check`: the same record, engine handle and module under construction as loadOrb makes, so
// that the check refuses what the load refuses. The copy ends right after; nothing is destroyed.
std::string tryCreateEntryInCopy(void* library) {
    using orbfile::EntryPoints;
    const EntryPoints found = orbfile::resolveEntryPoints(
        [library](const char* name) -> const void* { return host::utFindSymbolInLibrary(library, name); });
    if (found.outcome != EntryPoints::Found || found.kind != EntryPoints::Cpp) return {};
    auto* record = static_cast<impl_info_tag*>(host::utCalloc(1, sizeof(impl_info_tag)));
    if (!record) return std::string(kCreateEntry) + " could not be tried: no memory";
    record->library = library;
    record->entry = const_cast<void*>(found.entry);
    record->entryKind = kOrbEntryCpp;
    record->createFunction = const_cast<void*>(found.create);
    record->destroyFunction = const_cast<void*>(found.destroy);
    record->engineHandle = orb::cppapi::makeEngineHandle(u"");
    PerEngine<CurrentOrbInfoPerEngine>::getOrCreate().moduleUnderConstruction = record;
    const orb::platform::ModuleOutcome created = orb::loader::createCppFunction(record);
    if (!created) return std::string(kCreateEntry) + " failed: " + created.describe();
    if (record->cppFunction) return {};
    std::string reason;
    try {
        orb::loader::raisePendingError();
        reason = host::i18n::to_string(
            host::i18n::get_message(orb::capi::messageIdentifier<VELTRA::orb::MsgNoFunctionObject>()));
    } catch (const std::exception& error) {
        reason = std::string(kCreateEntry) + " made no function object and reported: " + error.what();
    }
    // The reason goes inside a sentence of its own.
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
    return reason.empty() ? std::string(kCreateEntry) + " made no function object" : reason;
}

[[maybe_unused]] const bool kCreateTrialInstalled =
    (orbfile::installCreateEntryTrial({kCreateEntry, &tryCreateEntryInCopy}), true);

}  // namespace

int orbRunCreateOrbFunction(void) {
    auto* info = PerEngine<CurrentOrbInfoPerEngine>::find();
    impl_info_tag* record = info ? info->moduleUnderConstruction : nullptr;
    if (!record || !record->createFunction) return 1;
    return orb::loader::createCppFunction(record).ok() && record->cppFunction ? 0 : 1;
}

void* orbGetFunctionImpl(void) {
    auto* info = PerEngine<CurrentOrbInfoPerEngine>::find();
    if (!info || !info->moduleUnderConstruction) return nullptr;
    if (t_handleFetched) *t_handleFetched = true;
    return info->moduleUnderConstruction->engineHandle;
}

namespace orb::loader {

void forgetModuleUnderConstruction(const impl_info_tag* record) noexcept {
    auto* info = PerEngine<CurrentOrbInfoPerEngine>::find();
    if (info && info->moduleUnderConstruction == record) info->moduleUnderConstruction = nullptr;
}

}  // namespace orb::loader

void orbOrbDebug(std::uint32_t flag) { PerEngine<CurrentOrbInfoPerEngine>::getOrCreate().debugFlag = flag; }

void orbDestroyFunctionImpl(void* handle) {
    auto* impl = static_cast<orb::cppapi::OrbFunctionImpl*>(handle);
    if (!impl) return;
    delete impl->engineCell;
    delete impl;
}

namespace orb {
void initializeFcn() {}
void terminateFcn() {}
}  // namespace orb
