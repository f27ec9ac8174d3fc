// The module call frame's common path, written into the function record's dispatch as well as
// runModuleCall: every module call comes through here, and the call between them, with the call
// site handed over in memory, cost each call its own prologue and shape tests. The rest of the
// frame stays in call_frame.cpp.
#pragma once

#include <memory>

#include "capi/call_frame.hpp"
#include "capi/per_engine.hpp"
#include "capi/scopes.hpp"
#include "host/exceptions.hpp"
#include "host/ry.hpp"
#include "host/ut.hpp"
#include "platform/module_boundary.hpp"
#include "platform/thread_block.hpp"

namespace orb::capi::detail {

// PerEngine<CurrentOrbInfoPerEngine>::getOrCreate written into the frame: the engine's pinned
// record, as the host's entry answered it.
inline CurrentOrbInfoPerEngine& callRecord(void* pinned) {
    if (pinned) [[likely]]
        return *static_cast<CurrentOrbInfoPerEngine*>(pinned);
    return pinCallRecord();
}

// The host's part of one call: the allocation-list and array-list contexts, and, when the frame
// calls the entry itself, the inputs marked and the identity reverted (host::ryEnterModuleCall).
// One host call each way. Leaving is explicit, because what is kept depends on how the call
// ended, and on shutdown the contexts are not left at all.
class HostCallPart {
public:
    HostCallPart(ryArray* const* entryInputs, int count) { host::ryEnterModuleCall(m_call, entryInputs, count); }

    void* pinnedRecord() const noexcept { return m_call.pinned; }
    // Asking first is a plain load, where consuming the request is an exchange even when there
    // is none.
    void raiseIfInterrupted() const {
        if (m_call.interruptRequest->load(std::memory_order_relaxed)) [[unlikely]]
            host::utInterruptState::ThrowIfInterruptPending();
    }
    // Everything the call allocated is freed, except `count` arrays of `keep` (and what the
    // module made persistent); those move to the caller's context.
    void leave(ryArray** keep, int count) { host::ryLeaveModuleCall(m_call, keep, count); }
    void leaveKeepingNothing() { leave(nullptr, 0); }

private:
    host::ryModuleCall m_call;
};

// The frame's catch handler, with the exception that left the module call (or the interrupt
// check right after it) in flight: lets it go on, with the contexts left, or answers the error
// to raise in its place once the handler is done with the original.
std::unique_ptr<host::UserException> failedCall(ModuleCallSite& site, HostCallPart& host);
// Leaves the contexts keeping nothing, raises a pending interrupt, else `replacement`.
[[noreturn, gnu::cold]] void raiseReplacement(HostCallPart& host, std::unique_ptr<host::UserException> replacement);
// Every other call: a module to load first, a strategy of its own, several outputs, a negative
// count, no list of inputs or none of outputs.
[[gnu::noinline]] void runGeneralCall(ModuleCallSite& site, int nlhs, ryArray** plhs, int nrhs, ryArray** prhs);

// The engine's record of what runs on it, found once for the trap flag and the current module,
// with the trap flag cleared; an error leaves the contexts.
[[gnu::always_inline]] inline CurrentOrbInfoPerEngine& enterEngineRecord(HostCallPart& host) {
    try {
        CurrentOrbInfoPerEngine& engine = callRecord(host.pinnedRecord());
        engine.trapFlag = false;
        return engine;
    } catch (...) {
        host.leaveKeepingNothing();
        throw;
    }
}

// The common shape, every step of the frame in one straight path: a module the site has ready,
// with a plain C entry the frame calls itself, at most one output, a list of inputs and one of
// outputs. Nearly every call has it, and the general path's tests of shape and its output holder
// cost each call about twenty instructions more. The host marks the inputs and reverts the identity as it enters the
// contexts, rather than in host calls of their own around the entry.
[[gnu::always_inline]] inline void runCommonCall(ModuleCallSite& site, int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    platform::ThreadBlock& block = platform::threadBlock();
    // The entry read where the shape test has the strategy at hand; the record after the host's
    // entry, so that it is read from the site where it is used rather than kept across that call.
    const platform::CEntryPoint entry = site.ready.strategy->plainEntry;
    HostCallPart host(prhs, nrhs);
    CurrentOrbInfoPerEngine& engine = enterEngineRecord(host);
    impl_info_tag* const record = site.ready.record;

    // Owned when set; a plain pointer, so that the call that raises nothing has nothing to destroy.
    host::UserException* replacement = nullptr;
    try {
        {
            CurrentModuleScope moduleScope(engine, record);
            FloatingPointScope fpScope;
            ryArray* held[kMinOutputEntries];
            held[0] = nullptr;
            platform::runModuleEntry(block, entry, nlhs, held, nrhs, prhs);
            if (held[0]) plhs[0] = held[0];
        }
        host.raiseIfInterrupted();
    } catch (...) {
        replacement = failedCall(site, host).release();
    }
    if (replacement) [[unlikely]]
        raiseReplacement(host, std::unique_ptr<host::UserException>(replacement));
    host.leave(plhs, 1);
    host.raiseIfInterrupted();
}

[[gnu::always_inline]] inline void runModuleCallHere(ModuleCallSite& site, int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    const DispatchStrategy* ready = site.ready.strategy;
    // One test each, not a combined flag.
    if (!ready || !ready->plainEntry) [[unlikely]]
        return runGeneralCall(site, nlhs, plhs, nrhs, prhs);
    if (static_cast<unsigned>(nlhs) > 1) [[unlikely]]
        return runGeneralCall(site, nlhs, plhs, nrhs, prhs);
    if (!prhs || !plhs) [[unlikely]]
        return runGeneralCall(site, nlhs, plhs, nrhs, prhs);
    runCommonCall(site, nlhs, plhs, nrhs, prhs);
}

}  // namespace orb::capi::detail
