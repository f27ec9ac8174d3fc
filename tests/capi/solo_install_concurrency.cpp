// Concurrent first calls of orbSetCallbacks: exactly one table is installed, completely, and every
// caller sees it complete as soon as its own call returns.
#include <barrier>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "install_support.hpp"
#include "host/services.hpp"

namespace {

using orbtest::entryAt;

// The number of the marker table that every slot of `table` came from, or -1 when they differ.
int sourceTable(const OrbCallbackTable& table) {
    std::uintptr_t first = reinterpret_cast<std::uintptr_t>(entryAt(table, 0)) / 0x10000;
    for (std::size_t slot = 0; slot < kOrbCallbackSlotCount; ++slot) {
        auto value = reinterpret_cast<std::uintptr_t>(entryAt(table, slot));
        if (value / 0x10000 != first || value % 0x10000 != 0x10 * slot) return -1;
    }
    return static_cast<int>(first) - 1;
}

TEST(InstallConcurrency, OneCompleteTableWins) {
    constexpr int kThreads = 8;
    std::vector<OrbCallbackTable> tables;
    for (int i = 0; i < kThreads; ++i) tables.push_back(orbtest::markerTable(i));
    std::vector<int> seen(kThreads, -2);
    std::barrier start(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            orbSetCallbacks(&tables[i]);
            seen[i] = sourceTable(orb::capi::installedCallbacks());
        });
    }
    for (auto& t : threads) t.join();
    const int winner = sourceTable(orb::capi::installedCallbacks());
    ASSERT_GE(winner, 0);
    for (int s : seen) EXPECT_EQ(s, winner);
    EXPECT_EQ(host::svFeatureRegistrationCount("ORB_DisableDiagnosticMsg"), 1);
}

}  // namespace
