#include "loader/dispatch_strategies.hpp"

#include "capi/message_ids.hpp"
#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "host/services.hpp"
#include "loader/cpp_lifecycle.hpp"
#include "platform/module_boundary.hpp"

namespace orb::loader {
namespace {

using FortranEntry = void (*)(int*, ryArray**, int*, ryArray**);
using Fortran64Entry = void (*)(std::int64_t*, ryArray**, std::int64_t*, ryArray**);

// How the task-constraints log names the kind of a refused module function.
constexpr const char* kOrbBuiltinKind = "orb";
constexpr const char* kUserWrittenOrb = "user written orb";

// The Fortran entries take their counts by address; the rest is what a C entry call does.
template <class Call>
void callEntryWith(int nrhs, ryArray** prhs, Call&& call) {
    host::RevertImpersonationGuard revert;
    for (int i = 0; i < nrhs; ++i) {
        if (prhs[i]) host::rySetReusable(prhs[i], false);
    }
    platform::runModuleCode(call);
}

}  // namespace

void C_DispatchStrategy::dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    capi::callEntry(plainEntry, nlhs, plhs, nrhs, prhs);
}

void Fortran_DispatchStrategy::dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    auto entry = reinterpret_cast<FortranEntry>(m_entry);
    callEntryWith(nrhs, prhs, [&] { entry(&nlhs, plhs, &nrhs, prhs); });
}

void Fortran_64bit_DispatchStrategy::dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    auto entry = reinterpret_cast<Fortran64Entry>(m_entry);
    std::int64_t wideNlhs = nlhs;
    std::int64_t wideNrhs = nrhs;
    callEntryWith(nrhs, prhs, [&] { entry(&wideNlhs, plhs, &wideNrhs, prhs); });
}

SCCompatDispatchStrategy::SCCompatDispatchStrategy(std::unique_ptr<DispatchStrategy> inner)
    : DispatchStrategy(inner->module), m_inner(std::move(inner)) {}

void SCCompatDispatchStrategy::dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    host::OrbFunctionGuard guard(nlhs, plhs, nrhs, prhs);
    m_inner->dispatch(nlhs, plhs, nrhs, prhs);
}

void SCCompatDispatchStrategy::clear() {
    host::OrbFunctionGuard guard;
    m_inner->clear();
}

Tasks_DispatchStrategy::Tasks_DispatchStrategy(impl_info_tag* module, std::string functionName, bool KorvaleCodeFlag)
    : DispatchStrategy(module), m_functionName(std::move(functionName)), m_KorvaleCodeFlag(KorvaleCodeFlag) {}

void Tasks_DispatchStrategy::dispatch(int, ryArray**, int, ryArray**) {
    // Product code is logged by name; user code is not named in the log.
    host::logDisallowedTaskBuiltin(m_KorvaleCodeFlag ? m_functionName : kUserWrittenOrb, kOrbBuiltinKind);
    // Shown with the catalogue's text, reported under the thread pool's own identifier.
    using Tag = VELTRA::mtasks::constraints::DisallowedOrbFunction;
    throw host::SimpleException(capi::kDisallowedOrbFunctionErrorId,
                                host::i18n::to_string(host::i18n::get_message(capi::messageIdentifier<Tag>())));
}

std::unique_ptr<DispatchStrategy> makeDispatchStrategy(impl_info_tag* record,
                                                       const host::HostFunctionHandleFile& function) {
    std::unique_ptr<DispatchStrategy> strategy;
    switch (record->entryKind) {
        case kOrbEntryC:
            strategy = std::make_unique<C_DispatchStrategy>(record);
            break;
        case kOrbEntryFortran:
            if (host::is_64bit_version(record->targetApiVersion)) {
                strategy = std::make_unique<Fortran_64bit_DispatchStrategy>(record);
            } else {
                strategy = std::make_unique<Fortran_DispatchStrategy>(record);
            }
            break;
        case kOrbEntryCpp:
            // Never wrapped: a C++ module sees data arrays, not the host's complex storage.
            return std::make_unique<CPP_DispatchStrategy>(record, function.secondAspect());
        case kOrbEntryRefused:
            strategy = std::make_unique<Tasks_DispatchStrategy>(record, function.get_hfuncname(),
                                                                function.isKorvaleCode());
            break;
        default:
            return nullptr;
    }
    if (host::is_interleaved_complex_version(record->targetApiVersion)) return strategy;
    return std::make_unique<SCCompatDispatchStrategy>(std::move(strategy));
}

}  // namespace orb::loader
