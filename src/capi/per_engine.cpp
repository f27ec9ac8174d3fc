#include "capi/per_engine.hpp"

namespace orb::capi {

template class PerEngine<CurrentOrbInfoPerEngine>;
template class PerEngine<OrbDisableDiagnosticsMsgPerEngine>;

}  // namespace orb::capi
