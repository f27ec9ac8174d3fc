// What a module leaves behind is freed by every call. (How calls that go wrong end is the hostile
// table's, in tests/faults.)
#include "capi/per_engine.hpp"
#include "host/ut.hpp"
#include "loader_support.hpp"
#include "vhost/ry/leaks.hpp"

namespace {

using orbtest::LoaderTest;
using orbtest::residentBytes;
using orbtest::TestModule;

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer holds freed memory in quarantine, so the process grows by design and each
// allocation costs far more: the live counts are still checked, over fewer calls.
constexpr bool kMeasuresGrowth = false;
constexpr int kCalls = 50;
#else
constexpr bool kMeasuresGrowth = true;
constexpr int kCalls = 1000;
#endif

// 10,000 arrays and 10,000 blocks left behind per call, 1,000 calls: everything is freed by the
// frame, so the host's live counts do not move and the process does not grow.
TEST_F(LoaderTest, WhatAModuleLeavesBehindIsFreedEveryCall) {
    TestModule module("alloc_many");
    for (int i = 0; i < 20; ++i) module.callScalar({});  // warm-up: allocator pools, lazy binding
    const auto live = vhost::ry::liveCounts();
    const std::size_t rss = residentBytes();
    for (int i = 0; i < kCalls; ++i) ASSERT_EQ(module.callScalar({}), 10000);
    const auto after = vhost::ry::liveCounts();
    EXPECT_EQ(after.arrays, live.arrays);
    EXPECT_EQ(after.blocks, live.blocks);
    EXPECT_EQ(after.bytes, live.bytes);
    if (!kMeasuresGrowth) return;
    const std::size_t grown = residentBytes() > rss ? residentBytes() - rss : 0;
    RecordProperty("rss_growth_bytes", std::to_string(grown));
    EXPECT_LT(grown, 8u << 20) << "resident set grew by " << grown << " bytes over 1000 calls";
}

}  // namespace
