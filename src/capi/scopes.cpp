#include "capi/scopes.hpp"

#include "platform/fp_state.hpp"

namespace orb::capi {

CurrentModuleScope::CurrentModuleScope(impl_info_tag* module)
    : m_info(PerEngine<CurrentOrbInfoPerEngine>::getOrCreate()), m_saved(m_info.currentModule) {
    m_info.currentModule = module;
}

CurrentModuleScope::~CurrentModuleScope() { m_info.currentModule = m_saved; }

FloatingPointScope::FloatingPointScope() : m_saved(host::ut_fnstcw()) {}

FloatingPointScope::~FloatingPointScope() {
    if (platform::fpStateUnchangedSince(m_saved)) return;
    // Clear first: restoring a control word that unmasks an exception whose flag is still set
    // would raise it on the next floating-point instruction.
    host::ut_fnclex();
    host::ut_fldcw(m_saved);
}

}  // namespace orb::capi
