#include "vhost/boot/boot.hpp"

#include <memory>
#include <mutex>

#include "capi/callback_table.hpp"
#include "loader/orb_file_reader.hpp"
#include "loader/orb_module_file.hpp"
#include "vhost/callbacks/callbacks.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/engine/engine.hpp"

namespace vhost::boot {
namespace {

void giveEngineAReader() {
    auto* record = orb::capi::PerEngine<OrbFileReaderPerEngine>::find();
    if (!record || !record->reader) inSetOrbfileReader(std::make_unique<OrbFileReader>());
}

}  // namespace

void attachRuntime() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The runtime copies the table; it need not outlive the call.
        const OrbCallbackTable table = vhost::callbackTable();
        orbSetCallbacks(&table);
        vhost::registerModuleFactory(".orbw64", &__construct_lm_orbw64);
        installHostEngine();
        vhost::addEngineInitializer([](Engine&) { giveEngineAReader(); });
    });
    // Engines that existed before the first attachment get theirs when attached from them.
    giveEngineAReader();
}

}  // namespace vhost::boot
