// Calls of real modules that go wrong, and what the caller finds afterwards: machine faults and
// foreign exceptions become host errors, the engine's state is as it was, nothing the module
// allocated survives, and the next call works.
#include <cfenv>
#include <csignal>
#include <fstream>

#include "capi/per_engine.hpp"
#include "host/ut.hpp"
#include "loader_support.hpp"
#include "vhost/ry/leaks.hpp"

namespace {

using orbtest::errorOf;
using orbtest::LoaderTest;
using orbtest::HostState;
using orbtest::TestModule;

void expectTwiceWorks() {
    TestModule twice("twice");
    EXPECT_EQ(twice.callScalar({21}), 42);
}

TEST_F(LoaderTest, MachineFaultsEndInTheFatalErrorAndLeaveTheEngineAsItWas) {
    const std::pair<const char*, int> faults[] = {
        {"fault_null", SIGSEGV}, {"fault_intdiv", SIGFPE}, {"fault_ill", SIGILL}, {"fault_recursion", SIGSEGV}};
    for (int round = 0; round < 2; ++round) {
        for (const auto& [name, signal] : faults) {
            SCOPED_TRACE(name);
            TestModule module(name);
            const HostState before = HostState::now();
            std::vector<ryArray*> outputs(1, nullptr);
            int caught = 0;
            try {
                module.function().dispatch_file(1, outputs.data(), 0, nullptr);
            } catch (const host::FatalException& fault) {
                caught = fault.code();
            }
            EXPECT_EQ(caught, signal);
            EXPECT_EQ(outputs[0], nullptr);
            EXPECT_EQ(HostState::now(), before);
        }
    }
    expectTwiceWorks();
}

TEST_F(LoaderTest, ForeignExceptionsBecomeOneErrorCarryingTheirTextAndNoOutputs) {
    const std::pair<double, std::string> cases[] = {
        {1, "the standard one"}, {2, "the text one"}, {3, "unknown type"}};
    TestModule module("throwing");
    for (const auto& [kind, text] : cases) {
        SCOPED_TRACE(text);
        const HostState before = HostState::now();
        ryArray* input = ryCreateDoubleScalar(kind);
        std::vector<ryArray*> outputs(1, nullptr);
        host::UserException error = errorOf([&] { module.function().dispatch_file(1, outputs.data(), 1, &input); });
        ryDestroyArray(input);
        EXPECT_EQ(error.identifier(), "VELTRA:legacy_two_part:unexpectedCPPexception");
        EXPECT_NE(error.message().find(text), std::string::npos) << error.message();
        EXPECT_EQ(outputs[0], nullptr);
        EXPECT_EQ(HostState::now(), before);
    }
}

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

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
