// Unloading: the exit function runs once, at clear; a locked module's library stays mapped; an
// exit function that fails becomes a warning and the module is unloaded anyway.
#include "loader_support.hpp"
#include "vhost/lang/values.hpp"
#include "vhost/lang/workspace.hpp"
#include "vhost/ry/warnings.hpp"
#include "vhost/ut/output.hpp"

namespace {

using orbtest::LoaderTest;
using orbtest::ModuleCallTest;
using orbtest::TestModule;

std::size_t exitRuns(const std::string& output) { return orbtest::count(output, "exit function ran"); }

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

// The reference host counts locks and leaves a locked module whole through a clear: its exit
// function does not run and its library stays. The runtime's own flag is clear after lock, lock,
// unlock; it decides only when a host clears a module it holds locked (an engine's end).
TEST_F(ModuleCallTest, TheHostCountsLocksAndAClearLeavesALockedModuleWhole) {
    vhost::OutputCapture output;
    vhost::lang::evaluate("atexit_plain(1); atexit_plain(1); held = atexit_plain(-1); clear atexit_plain");
    EXPECT_EQ(vhost::lang::elementAt(vhost::lang::workspaces().base().find("held"), 0).real(), 1.0);
    EXPECT_EQ(exitRuns(output.text()), 0u);
    EXPECT_TRUE(orbtest::libraryMapped(orbtest::modulePath("atexit_plain")));
    vhost::lang::evaluate("atexit_plain(-1); clear atexit_plain");
    EXPECT_EQ(exitRuns(output.text()), 1u);
    EXPECT_FALSE(orbtest::libraryMapped(orbtest::modulePath("atexit_plain")));
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
