#include "capi/scopes.hpp"

namespace orb::capi {

CurrentModuleScope::CurrentModuleScope(impl_info_tag* module)
    : m_info(PerEngine<CurrentOrbInfoPerEngine>::getOrCreate()), m_saved(m_info.currentModule) {
    m_info.currentModule = module;
}

void FloatingPointScope::restore(const host::utFpControl& saved) {
    // Clear first: restoring a control word that unmasks an exception whose flag is still set
    // would raise it on the next floating-point instruction.
    host::ut_fnclex();
    host::ut_fldcw(saved);
}

}  // namespace orb::capi
