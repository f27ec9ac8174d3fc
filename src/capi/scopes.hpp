// The two scopes every module call and every clear of a module runs inside. Both put back what
// they saved when they end, normally or by an exception, so a module that raises, or that calls
// into the host which runs another module, leaves the caller's state as it found it.
//
// Exported for hosts that run their own strategies, and for the test suite.
#pragma once

#include "capi/per_engine.hpp"
#include "host/ut.hpp"
#include "platform/export.hpp"
#include "platform/fp_state.hpp"

namespace orb::capi {

// Makes `module` the calling engine's current module (the one C services act on) for the
// scope's lifetime. Scopes nest strictly, as module calls do.
class ORB_API CurrentModuleScope {
public:
    explicit CurrentModuleScope(impl_info_tag* module);
    // The same with the engine's record found already.
    CurrentModuleScope(CurrentOrbInfoPerEngine& engine, impl_info_tag* module) noexcept
        : m_info(engine), m_saved(engine.currentModule) {
        engine.currentModule = module;
    }
    ~CurrentModuleScope() { m_info.currentModule = m_saved; }
    CurrentModuleScope(const CurrentModuleScope&) = delete;
    CurrentModuleScope& operator=(const CurrentModuleScope&) = delete;

private:
    // Records live as long as their engine, which outlives any call on it.
    CurrentOrbInfoPerEngine& m_info;
    impl_info_tag* m_saved;
};

// Saves the floating-point control state (x87 control word and MXCSR) and restores it at the end,
// after clearing any floating-point exception the module left pending: a module that changes the
// rounding mode or unmasks exceptions must not change the host's arithmetic.
class ORB_API FloatingPointScope {
public:
    FloatingPointScope() noexcept { platform::saveFpState(m_saved); }
    ~FloatingPointScope() {
        if (!platform::fpStateUnchangedSince(m_saved)) [[unlikely]]
            restore(m_saved);
    }
    FloatingPointScope(const FloatingPointScope&) = delete;
    FloatingPointScope& operator=(const FloatingPointScope&) = delete;

private:
    // Clears pending exceptions and loads `saved`; out of line, as nearly every module call
    // leaves the state alone.
    [[gnu::cold]] static void restore(const host::utFpControl& saved);

    host::utFpControl m_saved;
};

}  // namespace orb::capi
