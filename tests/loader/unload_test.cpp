// Unloading: the exit function runs once, at clear; a locked module's library stays mapped; an
// exit function that fails becomes a warning and the module is unloaded anyway.
#include <algorithm>

#include "loader_support.hpp"
#include "vhost/ry/warnings.hpp"
#include "vhost/ut/output.hpp"

namespace {

using orbtest::LoaderTest;
using orbtest::TestModule;

std::size_t exitRuns(const std::string& output) {
    std::size_t count = 0;
    for (std::size_t at = output.find("exit function ran"); at != std::string::npos;
         at = output.find("exit function ran", at + 1)) {
        ++count;
    }
    return count;
}

struct UnloadCase {
    const char* module;
    bool stillMapped;
    std::string warning;  // identifier of the warning the clear gives, or empty
};

TEST_F(LoaderTest, ClearRunsTheExitFunctionOnceAndUnloadsUnlessLocked) {
    const UnloadCase cases[] = {
        {"atexit_plain", false, ""},
        {"atexit_locked", true, ""},
        {"atexit_raises", false, "VELTRA:atExit:FailedToCleanupError"},
    };
    for (const UnloadCase& c : cases) {
        SCOPED_TRACE(c.module);
        vhost::ry::clearWarnings();
        vhost::OutputCapture output;
        TestModule module(c.module);
        module.callScalar({});
        module.callScalar({});
        EXPECT_EQ(exitRuns(output.text()), 0u) << "the exit function ran before the clear";
        ASSERT_TRUE(orbtest::libraryMapped(module.path()));

        module.unload();
        EXPECT_EQ(exitRuns(output.text()), 1u);
        EXPECT_EQ(orbtest::libraryMapped(module.path()), c.stillMapped);
        EXPECT_EQ(module.function().loadRecord(), nullptr);
        EXPECT_EQ(module.function().strategy(), nullptr);
        const auto warnings = vhost::ry::takeWarnings();
        if (c.warning.empty()) {
            EXPECT_TRUE(warnings.empty());
        } else {
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_EQ(warnings[0].identifier, c.warning);
            EXPECT_NE(warnings[0].message.find(module.path()), std::string::npos);
            EXPECT_NE(warnings[0].message.find("the exit function failed"), std::string::npos);
        }

        // Unloading again, or a module that was never called, is only a notice to the dispatcher.
        module.unload();
        EXPECT_EQ(exitRuns(output.text()), 1u);
    }
}

TEST_F(LoaderTest, AModuleLoadsAfreshAfterItWasCleared) {
    TestModule module("twice");
    EXPECT_EQ(module.callScalar({1}), 2);
    module.unload();
    EXPECT_FALSE(orbtest::libraryMapped(module.path()));
    EXPECT_EQ(module.callScalar({3}), 6);
    EXPECT_NE(module.function().loadRecord(), nullptr);
}

}  // namespace
