// `orb shell` as a user drives it: a session that outlives faulting modules. (What orb run
// shows of its arguments is in the command-line table, orb_cli_test.cpp.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/orb_tool.hpp"

namespace {

using orbtest::contains;
using orbtest::count;
using orbtest::numbersIn;

const std::string kModules = ORB_TEST_MODULE_DIR;

TEST(OrbShell, SurvivesFaultingModulesAndKeepsItsWorkspace) {
    // Each fault ends in a host error; the next call of a healthy module on the same engine works.
    const auto result = orbtest::orbShell(
        "twice(1)\n"
        "fault_null(1)\n"
        "fault_null(1)\n"
        "help fault_null\n"
        "twice(2)\n"
        "fault_intdiv(1)\n"
        "twice(3)\n"
        "fault_ill(1)\n"
        "twice(4)\n"
        "fault_recursion(1)\n"
        "twice(5)\n"
        "a = 21;\n"
        "   \n"
        "b = twice(a)\n"
        "quit;\n"
        "twice(99)\n",
        {"--path", kModules});
    EXPECT_EQ(result.exitCode, 1) << result.err;  // statements failed
    EXPECT_EQ(numbersIn(result.out), (std::vector<double>{2, 4, 6, 8, 10, 42})) << result.out;
    // The faulted module is refused from then on, and the shell says how to get it back.
    EXPECT_EQ(count(result.err, "Error"), 5u) << result.err;
    EXPECT_EQ(count(result.err, "(VELTRA:orb:ModuleFaulted)"), 1u) << result.err;
    EXPECT_TRUE(contains(result.err, "fault_null is refused from now on; fix it and run \"clear fault_null\""))
        << result.err;
    EXPECT_TRUE(contains(result.out, "loaded, and refused: a machine fault (VELTRA:fatal:segmentationViolation)"))
        << result.out;
    EXPECT_FALSE(contains(result.out, ">>")) << "no prompt without a terminal:\n" << result.out;
    // End of input leaves as exit does, and leaving unloads the modules: exit functions run.
    const auto eof = orbtest::orbShell("x = twice(1)\natexit_plain;", {"--path", kModules});
    EXPECT_EQ(eof.exitCode, 0) << eof.err;
    EXPECT_EQ(numbersIn(eof.out), std::vector<double>{2}) << eof.out;
    EXPECT_TRUE(contains(eof.out, "exit function ran")) << eof.out;
}

}  // namespace
