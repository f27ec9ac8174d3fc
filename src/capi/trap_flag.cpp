#include "capi/trap_flag.hpp"

#include <orb.h>

#include "capi/callback_table.hpp"
#include "capi/per_engine.hpp"
#include "host/storage.hpp"

namespace orb::capi {

bool chooseTrapFlag() {
    if (host::storage::isRequiredContextActive()) return PerEngine<CurrentOrbInfoPerEngine>::getOrCreate().trapFlag;
    if (auto query = installedSlot(&CallbackSlots::trapFlag)) return query();
    return false;
}

void resetTrapFlag() { PerEngine<CurrentOrbInfoPerEngine>::getOrCreate().trapFlag = false; }

}  // namespace orb::capi

extern "C" ORB_API void orbSetTrapFlag(int flag) {
    orb::capi::PerEngine<orb::capi::CurrentOrbInfoPerEngine>::getOrCreate().trapFlag = flag != 0;
}
