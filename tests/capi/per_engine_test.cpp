// Per-engine records, the current-module scope and the trap-flag choice. This executable never
// installs host callbacks, so slot 21 is empty throughout.
#include <gtest/gtest.h>

#include <memory>

#include <orb.h>

#include "capi/per_engine.hpp"
#include "capi/trap_flag.hpp"
#include "host/exceptions.hpp"
#include "vhost/engine/engine.hpp"

namespace {

using namespace orb::capi;

impl_info_tag* fakeRecord(int& storage) { return reinterpret_cast<impl_info_tag*>(&storage); }

TEST(PerEngineRecords, EachEngineHasItsOwnMadeOnFirstUse) {
    vhost::Engine first, second;
    int a = 0, b = 0;
    {
        vhost::EngineScope bound(first);
        PerEngine<CurrentOrbInfoPerEngine>::getOrCreate().currentModule = fakeRecord(a);
        orbSetTrapFlag(1);
    }
    {
        // A fresh engine has no record until one is made, and a made one starts clear.
        vhost::EngineScope bound(second);
        EXPECT_EQ(PerEngine<CurrentOrbInfoPerEngine>::find(), nullptr);
        EXPECT_THROW(PerEngine<CurrentOrbInfoPerEngine>::mustExist(), host::UserException);
        CurrentOrbInfoPerEngine& created = PerEngine<CurrentOrbInfoPerEngine>::getOrCreate();
        EXPECT_EQ(created.currentModule, nullptr);
        EXPECT_FALSE(created.trapFlag);
        EXPECT_FALSE(PerEngine<OrbDisableDiagnosticsMsgPerEngine>::getOrCreate().value);
        created.currentModule = fakeRecord(b);
        EXPECT_EQ(PerEngine<CurrentOrbInfoPerEngine>::find(), &created);
    }
    vhost::EngineScope bound(first);
    EXPECT_EQ(PerEngine<CurrentOrbInfoPerEngine>::mustExist().currentModule, fakeRecord(a));
    EXPECT_TRUE(PerEngine<CurrentOrbInfoPerEngine>::mustExist().trapFlag);
}

// The calling thread keeps the record it found; a record that left (its engine ended, or it was
// erased) must not be answered again, even for an engine made where the ended one was.
TEST(PerEngineRecords, ARecordThatLeftIsNotAnsweredAgain) {
    int a = 0;
    for (int round = 0; round < 3; ++round) {
        auto engine = std::make_unique<vhost::Engine>();
        vhost::EngineScope bound(*engine);
        EXPECT_EQ(PerEngine<CurrentOrbInfoPerEngine>::getOrCreate().currentModule, nullptr) << round;
        PerEngine<CurrentOrbInfoPerEngine>::getOrCreate().currentModule = fakeRecord(a);
    }
    vhost::Engine engine;
    vhost::EngineScope bound(engine);
    PerEngine<CurrentOrbInfoPerEngine>::getOrCreate().currentModule = fakeRecord(a);
    host::storage::erase(PerEngine<CurrentOrbInfoPerEngine>::key(), typeid(CurrentOrbInfoPerEngine));
    EXPECT_EQ(PerEngine<CurrentOrbInfoPerEngine>::getOrCreate().currentModule, nullptr);
}

TEST(TrapFlag, EngineFlagCountsOnlyInsideAnEngineContext) {
    // Not bound to an engine: with slot 21 empty the answer is false whatever the flag says.
    orbSetTrapFlag(1);
    EXPECT_FALSE(chooseTrapFlag());

    vhost::Engine engine;
    vhost::EngineScope bound(engine);
    const std::pair<int, bool> cases[] = {{5, true}, {0, false}, {-1, true}, {1, true}};
    for (auto [flag, expected] : cases) {
        orbSetTrapFlag(flag);
        EXPECT_EQ(chooseTrapFlag(), expected) << flag;
    }
    resetTrapFlag();
    EXPECT_FALSE(chooseTrapFlag());
}

}  // namespace
