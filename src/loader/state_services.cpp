// The module's own state: locking, exit functions, clearing, persistent arrays and memory, and
// the name it was called under. The module is the calling engine's current module (set by the
// call frame), so a module called from within another module's call acts on itself.
#include <orb.h>

#include "capi/callback_table.hpp"
#include "capi/per_engine.hpp"
#include "host/ry.hpp"
#include "capi/impl_info.hpp"
#include "loader/orb_file_reader.hpp"

namespace orb::capi {
namespace {

impl_info_tag* currentModule() {
    auto* info = PerEngine<CurrentOrbInfoPerEngine>::find();
    return info ? info->currentModule : nullptr;
}

}  // namespace
}  // namespace orb::capi

using orb::capi::CallbackSlots;
using orb::capi::installedSlot;

extern "C" {

ORB_API void orbLock(void) {
    installedSlot(&CallbackSlots::lock)();
    if (impl_info_tag* module = orb::capi::currentModule()) module->locked = true;
}

ORB_API void orbUnlock(void) {
    installedSlot(&CallbackSlots::unlock)();
    if (impl_info_tag* module = orb::capi::currentModule()) module->locked = false;
}

ORB_API bool orbIsLocked(void) { return installedSlot(&CallbackSlots::isLocked)(); }

ORB_API int orbAtExit(void (*exitFunction)(void)) {
    if (auto slot = installedSlot(&CallbackSlots::atExit)) return slot(exitFunction);
    impl_info_tag* module = orb::capi::currentModule();
    // Outside a module call there is no module to attach the function to.
    if (!module) return 1;
    module->exitFunction = exitFunction;
    return 0;
}

ORB_API int orbClearOrbFile(impl_info_tag* module) {
    if (auto slot = installedSlot(&CallbackSlots::clearOrbFile)) return slot(module);
    return orb::loader::clearLoadRecord(module);
}

ORB_API void orbMakeArrayPersistent(ryArray* array) { host::rySetArrayScope(array, ryPERSISTENT_SCOPE); }

ORB_API void orbMakeMemoryPersistent(void* memory) { host::removeFromAllocList(memory); }

ORB_API const char* orbFunctionName(void) { return installedSlot(&CallbackSlots::functionName)(); }

ORB_API void orbLock_800(void) ORB_ALIAS(orbLock);
ORB_API void orbUnlock_800(void) ORB_ALIAS(orbUnlock);
ORB_API bool orbIsLocked_800(void) ORB_ALIAS(orbIsLocked);
ORB_API int orbAtExit_800(void (*)(void)) ORB_ALIAS(orbAtExit);
ORB_API void orbMakeArrayPersistent_800(ryArray*) ORB_ALIAS(orbMakeArrayPersistent);
ORB_API void orbMakeMemoryPersistent_800(void*) ORB_ALIAS(orbMakeMemoryPersistent);
ORB_API const char* orbFunctionName_800(void) ORB_ALIAS(orbFunctionName);

}  // extern "C"
