#include "capi/per_engine.hpp"

#include "platform/thread_block.hpp"

namespace orb::capi {

namespace detail {

CurrentOrbInfoPerEngine& findCallRecord(host::storage::Stamp stamp) {
    // The stamp is taken before the look-up: a removal in between leaves the kept stamp behind,
    // never ahead.
    auto& record = host::storage::getOrCreate<CurrentOrbInfoPerEngine>(PerEngine<CurrentOrbInfoPerEngine>::key());
    platform::ThreadBlock& block = platform::threadBlock();
    block.engineRecord = &record;
    block.engineStamp = stamp;
    return record;
}

}  // namespace detail

template <>
CurrentOrbInfoPerEngine& PerEngine<CurrentOrbInfoPerEngine>::getOrCreate() {
    const host::storage::Stamp stamp = host::storage::currentStamp();
    platform::ThreadBlock& block = platform::threadBlock();
    if (block.engineStamp == stamp) [[likely]]
        return *static_cast<CurrentOrbInfoPerEngine*>(block.engineRecord);
    return detail::findCallRecord(stamp);
}

template class PerEngine<CurrentOrbInfoPerEngine>;
template class PerEngine<OrbDisableDiagnosticsMsgPerEngine>;

}  // namespace orb::capi
