#include "capi/call_frame.hpp"
#include "capi/call_frame_inline.hpp"

#include <algorithm>

#include <orb.h>

#include "capi/raise.hpp"
#include "capi/scopes.hpp"
#include "capi/trap_flag.hpp"
#include "host/ry.hpp"
#include "host/services.hpp"
#include "host/ut.hpp"
#include "platform/module_boundary.hpp"
#include "platform/thread_block.hpp"

namespace orb::capi {

DispatchStrategy::~DispatchStrategy() = default;
void DispatchStrategy::clear() { orbClearOrbFile(module); }

// --- output holder ------------------------------------------------------------------------------

void OutputHolder::initialiseMore() {
    if (m_capacity > kMinOutputEntries) {
        m_buffer = std::make_unique<ryArray*[]>(m_capacity);
    } else {
        for (std::size_t i = 1; i < m_capacity; ++i) m_inline[i] = nullptr;
    }
}

// --- failure actions ----------------------------------------------------------------------------

FailureAction::FailureAction(Kind kind, std::unique_ptr<host::UserException> replacement) noexcept
    : m_kind(kind), m_replacement(std::move(replacement)) {}
FailureAction::FailureAction(FailureAction&&) noexcept = default;
FailureAction& FailureAction::operator=(FailureAction&&) noexcept = default;
FailureAction::~FailureAction() = default;

FailureAction FailureAction::rethrow() noexcept { return FailureAction(Kind::Rethrow, nullptr); }
FailureAction FailureAction::rethrowAtOnce() noexcept { return FailureAction(Kind::RethrowAtOnce, nullptr); }
FailureAction FailureAction::raise(std::unique_ptr<host::UserException> error) noexcept {
    // Without an error to raise, the original exception is the only thing left to report.
    if (!error) return rethrow();
    return FailureAction(Kind::Raise, std::move(error));
}

FailureAction ModuleCallSite::classifyFailure() { return FailureAction::rethrow(); }

// --- the frame ----------------------------------------------------------------------------------

namespace {

// callEntry, written into the frame: one call level less on every module call.
[[gnu::always_inline]] inline void callEntryInline(platform::ThreadBlock& block, platform::CEntryPoint entry, int nlhs,
                                                   ryArray** plhs, int nrhs, ryArray** prhs) {
    host::RevertImpersonationGuard revert;
    for (int i = 0; i < nrhs; ++i) {
        if (prhs[i]) host::rySetReusable(prhs[i], false);
    }
    platform::runModuleEntry(block, entry, nlhs, plhs, nrhs, prhs);
}

// The protected part of the call: the module runs as the current module, with the caller's
// floating-point state saved, writing into the holder. The scopes and the holder end here also
// when the dispatch raises, before the exception leaves. `direct`: the host's part was entered
// for the frame's own call of the plain C entry (inputs marked, identity reverted), with `inputs`
// never null.
void callModule(platform::ThreadBlock& block, CurrentOrbInfoPerEngine& engine, const LoadedModule& target, bool direct,
                int nlhs, ryArray** plhs, int nrhs, ryArray** inputs) {
    CurrentModuleScope moduleScope(engine, target.record);
    FloatingPointScope fpScope;
    if (nlhs < 0) {
        // A negative count is passed through as the caller gave it, with the caller's own list.
        target.strategy->dispatch(nlhs, plhs, nrhs, inputs);
        return;
    }
    auto dispatch = [&](ryArray** entries) __attribute__((always_inline)) {
        if (direct) [[likely]] {
            platform::runModuleEntry(block, target.strategy->plainEntry, nlhs, entries, nrhs, inputs);
        } else {
            target.strategy->dispatch(nlhs, entries, nrhs, inputs);
        }
    };
    if (nlhs <= 1) [[likely]] {
        // At most one output to hand back: the holder's work without its bookkeeping.
        ryArray* held[kMinOutputEntries];
        held[0] = nullptr;
        dispatch(held);
        if (held[0] && plhs) plhs[0] = held[0];
        return;
    }
    OutputHolder holder(nlhs);
    dispatch(holder.entries());
    holder.copyBackTo(nlhs, plhs);
}

}  // namespace

void callEntry(platform::CEntryPoint entry, int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    callEntryInline(platform::threadBlock(), entry, nlhs, plhs, nrhs, prhs);
}

namespace detail {

// The frame's catch handler, with the exception that left the module call (or the interrupt
// check right after it) in flight: lets it go on, with the contexts left, or answers the error
// to raise in its place once the handler is done with the original.
std::unique_ptr<host::UserException> failedCall(ModuleCallSite& site, HostCallPart& host) {
    FailureAction action = FailureAction::rethrow();
    try {
        action = site.classifyFailure();
    } catch (...) {
        // A failing classification replaces the module's error; the call still ends tidily.
        host.leaveKeepingNothing();
        throw;
    }
    switch (action.kind()) {
        case FailureAction::Kind::RethrowAtOnce:
            throw;
        case FailureAction::Kind::Rethrow:
            host.leaveKeepingNothing();
            host.raiseIfInterrupted();
            throw;
        case FailureAction::Kind::Raise:
            break;
    }
    return action.takeReplacement();
}

[[noreturn, gnu::cold]] void raiseReplacement(HostCallPart& host, std::unique_ptr<host::UserException> replacement) {
    host.leaveKeepingNothing();
    host.raiseIfInterrupted();
    raiseError(*replacement);
}

// Every other call: a module to load first, a strategy of its own, several outputs, a negative
// count, no list of inputs or none of outputs.
void runGeneralCall(ModuleCallSite& site, int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    platform::ThreadBlock& block = platform::threadBlock();
    // A module may index its inputs without looking at nrhs first; give it a list to index.
    ryArray* noInputs[1] = {nullptr};
    ryArray** inputs = prhs ? prhs : noInputs;
    LoadedModule target = site.ready;
    const bool direct = target.strategy && target.strategy->plainEntry && nlhs >= 0;
    HostCallPart host(direct ? inputs : nullptr, nrhs);
    CurrentOrbInfoPerEngine& engine = enterEngineRecord(host);
    if (!target.strategy) {
        try {
            target = site.ensureLoaded();
        } catch (...) {
            // A load error goes to the caller as it is; what the attempt allocated goes with the
            // contexts.
            host.leaveKeepingNothing();
            throw;
        }
    }

    std::unique_ptr<host::UserException> replacement;
    try {
        callModule(block, engine, target, direct, nlhs, plhs, nrhs, inputs);
        host.raiseIfInterrupted();
    } catch (...) {
        replacement = failedCall(site, host);
    }
    if (replacement) raiseReplacement(host, std::move(replacement));
    if (nlhs >= 0 && plhs) {
        host.leave(plhs, std::max(nlhs, 1));
    } else {
        host.leaveKeepingNothing();
    }
    host.raiseIfInterrupted();
}

}  // namespace detail

// The caller's elements are kept whatever the module did with them: a caller always has room for
// at least one output, and null elements are skipped. The interrupt is checked as the module
// returns, inside the protected part: an interrupt then goes the way of the module's errors, and
// the outputs with the contexts. One that arrives while the contexts are left is raised after
// them, the outputs already the caller's.
void runModuleCall(ModuleCallSite& site, int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    detail::runModuleCallHere(site, nlhs, plhs, nrhs, prhs);
}

}  // namespace orb::capi
