// `orb run` and `orb shell` as a user drives them: literals on the command line and their shown
// results, and a shell session that outlives faulting modules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/orb_tool.hpp"

namespace {

using orbtest::contains;
using orbtest::modulePath;
using orbtest::numbersIn;
using orbtest::orb;

const std::string kModules = ORB_TEST_MODULE_DIR;

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

TEST(OrbRun, ArgumentsAreLiteralsAndOutputsAreShown) {
    const std::string twice = modulePath("twice");
    struct Case {
        std::string literal;
        std::vector<double> doubled;
    };
    const Case cases[] = {
        {"-2.5", {-5}},
        {"[1 2; 3 4]", {2, 4, 6, 8}},  // shown row by row
        {"[1 -2]", {2, -4}},           // a blank separates elements, so -2 is one of them
    };
    for (const Case& c : cases) {
        const auto result = orb({"run", twice, c.literal});
        ASSERT_EQ(result.exitCode, 0) << c.literal << "\n" << result.err;
        EXPECT_EQ(numbersIn(result.out), c.doubled) << c.literal << "\n" << result.out;
    }
}

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
