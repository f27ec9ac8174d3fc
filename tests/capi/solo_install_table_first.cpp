// orbSetCallbacks before orbSetCallbacksForLXE, in a fresh process.
#include <stdexcept>

#include <gtest/gtest.h>

#include "install_support.hpp"
#include "host/services.hpp"

namespace {

using orbtest::entryAt;
using orbtest::markerTable;

constexpr std::size_t kCallSlot = 11;

TEST(InstallTableFirst, OnceOnlyWithRetryAfterAFailedAttemptAndLxeDecidingTheCallSlot) {
    // A failed first attempt installs nothing and leaves the guard open.
    EXPECT_THROW(orbSetCallbacks(nullptr), std::invalid_argument);
    EXPECT_EQ(entryAt(orb::capi::installedCallbacks(), 17), nullptr);
    EXPECT_EQ(host::svFeatureRegistrationCount("ORB_DisableDiagnosticMsg"), 0);

    const OrbCallbackTable first = markerTable(1), second = markerTable(2);
    orbSetCallbacks(&first);
    for (std::size_t slot = 0; slot < kOrbCallbackSlotCount; ++slot) {
        EXPECT_EQ(entryAt(orb::capi::installedCallbacks(), slot), entryAt(first, slot)) << "slot " << slot;
    }
    EXPECT_EQ(host::svFeatureRegistrationCount("ORB_DisableDiagnosticMsg"), 1);

    orbSetCallbacks(&second);
    orbSetCallbacks(nullptr);  // not even read
    for (std::size_t slot = 0; slot < kOrbCallbackSlotCount; ++slot) {
        EXPECT_EQ(entryAt(orb::capi::installedCallbacks(), slot), entryAt(first, slot)) << "slot " << slot;
    }
    EXPECT_EQ(host::svFeatureRegistrationCount("ORB_DisableDiagnosticMsg"), 1);

    // The later of the two entries decides slot 11, and only slot 11.
    orbSetCallbacksForLXE(orbtest::markerCall(1));
    orbSetCallbacksForLXE(orbtest::markerCall(2));
    const OrbCallbackTable now = orb::capi::installedCallbacks();
    for (std::size_t slot = 0; slot < kOrbCallbackSlotCount; ++slot) {
        void* expected = slot == kCallSlot ? reinterpret_cast<void*>(orbtest::markerCall(1)) : entryAt(first, slot);
        EXPECT_EQ(entryAt(now, slot), expected) << "slot " << slot;
    }
}

}  // namespace
