#include "capi/per_engine.hpp"

namespace orb::capi {

namespace detail {

CurrentOrbInfoPerEngine& pinCallRecord() {
    auto& record = host::storage::getOrCreate<CurrentOrbInfoPerEngine>(PerEngine<CurrentOrbInfoPerEngine>::key());
    host::storage::pin(&record);
    return record;
}

}  // namespace detail

template <>
CurrentOrbInfoPerEngine& PerEngine<CurrentOrbInfoPerEngine>::getOrCreate() {
    if (void* pinned = host::storage::pinned()) [[likely]]
        return *static_cast<CurrentOrbInfoPerEngine*>(pinned);
    return detail::pinCallRecord();
}

template class PerEngine<CurrentOrbInfoPerEngine>;
template class PerEngine<OrbDisableDiagnosticsMsgPerEngine>;

}  // namespace orb::capi
