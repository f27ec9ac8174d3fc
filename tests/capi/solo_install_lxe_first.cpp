// orbSetCallbacksForLXE before orbSetCallbacks, in a fresh process: the table's call slot wins.
#include <gtest/gtest.h>

#include "install_support.hpp"

namespace {

using orbtest::entryAt;

TEST(InstallLxeFirst, TheTableLaterOverwritesTheCallSlot) {
    orbSetCallbacksForLXE(orbtest::markerCall(1));
    const OrbCallbackTable before = orb::capi::installedCallbacks();
    for (std::size_t slot = 0; slot < kOrbCallbackSlotCount; ++slot) {
        EXPECT_EQ(entryAt(before, slot), slot == 11 ? reinterpret_cast<void*>(orbtest::markerCall(1)) : nullptr)
            << "slot " << slot;
    }
    const OrbCallbackTable table = orbtest::markerTable(3);
    orbSetCallbacks(&table);
    orbSetCallbacksForLXE(orbtest::markerCall(2));
    for (std::size_t slot = 0; slot < kOrbCallbackSlotCount; ++slot) {
        EXPECT_EQ(entryAt(orb::capi::installedCallbacks(), slot), entryAt(table, slot)) << "slot " << slot;
    }
}

}  // namespace
