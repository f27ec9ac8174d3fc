#include "capi/callback_table.hpp"

#include <stdexcept>

#include <boost/thread/once.hpp>

#include "capi/per_engine.hpp"
#include "host/services.hpp"

namespace orb::capi {
namespace {

constexpr const char* kDisableDiagnosticFeature = "ORB_DisableDiagnosticMsg";

CallbackSlots g_slots;

// Two guards, deliberately independent: a host may install the call slot through either entry
// first, and the later one wins slot 11. Boost's once-guard rolls back when the function throws,
// so a failed installation can be retried.
boost::once_flag g_tableOnce = BOOST_ONCE_INIT;
boost::once_flag g_callFunctionOnce = BOOST_ONCE_INIT;

// The feature's setter. It runs on the thread that sets the feature, so it records the value for
// that thread's engine.
void setDisableDiagnosticMsg(int value) {
    PerEngine<OrbDisableDiagnosticsMsgPerEngine>::getOrCreate().value = value != 0;
}

void installTable(const OrbCallbackTable* table) {
    if (!table) throw std::invalid_argument("orbSetCallbacks: the callback table is null");
#define ORB_COPY_SLOT(slot, name, type) g_slots.name.store(table->name, std::memory_order_release);
    ORB_CALLBACK_SLOTS(ORB_COPY_SLOT)
#undef ORB_COPY_SLOT
    host::svRegisterFeature(kDisableDiagnosticFeature, 0, &setDisableDiagnosticMsg, nullptr);
}

}  // namespace

const CallbackSlots& callbackSlots() noexcept { return g_slots; }

OrbCallbackTable installedCallbacks() noexcept {
    OrbCallbackTable table{};
#define ORB_READ_SLOT(slot, name, type) table.name = g_slots.name.load(std::memory_order_acquire);
    ORB_CALLBACK_SLOTS(ORB_READ_SLOT)
#undef ORB_READ_SLOT
    return table;
}

}  // namespace orb::capi

extern "C" {

void orbSetCallbacks(const OrbCallbackTable* table) {
    boost::call_once(orb::capi::g_tableOnce, [table] { orb::capi::installTable(table); });
}

void orbSetCallbacksForLXE(OrbCallFunctionCallback callFunction) {
    boost::call_once(orb::capi::g_callFunctionOnce, [callFunction] {
        orb::capi::g_slots.callFunction.store(callFunction, std::memory_order_release);
    });
}

}  // extern "C"
