// `orb run` and `orb shell` as a user drives them: exit statuses, literals on the command line,
// a shell session that outlives faulting modules, and the example modules built the way the
// demo builds them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "support/run_child.hpp"
#include "tools/tool_output.hpp"

namespace {

namespace fs = std::filesystem;
using tooltest::contains;
using tooltest::numbersIn;

const std::string kOrb = std::string(ORB_STAGE_DIR) + "/bin/orb";
const std::string kModules = ORB_TEST_MODULE_DIR;

std::string module(const std::string& name) { return kModules + "/" + name + ".orbw64"; }

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

std::string label(const std::vector<std::string>& args) {
    std::string text = "orb";
    for (const auto& arg : args) text += " " + arg;
    return text;
}

orbtest::ChildResult orb(const std::vector<std::string>& args) {
    if (!fs::exists(kOrb)) throw std::runtime_error(kOrb + " is not built");
    return orbtest::runChild(kOrb, args);
}

// `orb shell OPTIONS` with `input` on its standard input (a file, so the shell sees no terminal).
orbtest::ChildResult shell(const std::string& input, const std::vector<std::string>& options = {}) {
    const fs::path file = fs::path(ORB_TEST_BINARY_DIR) / ("shell_input_" + std::to_string(::getpid()));
    std::ofstream(file) << input;
    std::vector<std::string> args = {"sh", "-c", "input=$1; shift; exec \"$@\" < \"$input\"", "sh", file.string(),
                                     kOrb, "shell"};
    args.insert(args.end(), options.begin(), options.end());
    auto result = orbtest::runChild("/usr/bin/env", args);
    fs::remove(file);
    return result;
}

TEST(OrbRun, ExitStatusesAndUsage) {
    const std::string twice = module("twice");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* out;  // expected in standard output
        const char* err;  // expected in standard error
    };
    const Case cases[] = {
        {{"run", "--help"}, 0, "usage: orb run", ""},
        {{"run", twice, "4"}, 0, "ans = 8", ""},
        {{"run", "--path", kModules, "twice", "-3"}, 0, "ans = -6", ""},  // a negative number is no option
        {{"run", "--path=" + kModules, "-e", "y = twice(2); z = twice(y)"}, 0, "z = 8", ""},
        {{"run", twice, "'text'"}, 1, "", "(twice:input)"},
        {{"run", "-e", "nosuchfunction(1)"}, 1, "", "(VELTRA:undefinedFunction)"},
        {{"run", module("fault_null"), "1"}, 1, "", "Error"},
        {{"run"}, 2, "", "nothing to run"},
        {{"run", "--frobnicate", twice}, 2, "", "unknown option '--frobnicate'"},
        {{"run", "-e", "1", twice}, 2, "", "not both"},
        {{"run", "--nargout", "many", twice, "1"}, 2, "", "whole number"},
        {{"run", "--path", "/nonexistent-folder", twice, "1"}, 2, "", "no such folder"},
        {{"run", twice, "[1 2"}, 2, "", "argument 1 ([1 2) is not a literal"},
        {{"run", "/nonexistent/module.orbw64"}, 2, "", "no such module file"},
        {{"run", std::string(ORB_SOURCE_DIR) + "/README.md"}, 2, "", "is not a module file"},
        {{"shell", "--help"}, 0, "usage: orb shell", ""},
        {{"shell", "--frobnicate"}, 2, "", "unknown option"},
    };
    for (const Case& c : cases) {
        const auto result = orb(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << label(c.args) << "\n" << result.out << result.err;
        EXPECT_TRUE(contains(result.out, c.out)) << label(c.args) << " stdout:\n" << result.out;
        EXPECT_TRUE(contains(result.err, c.err)) << label(c.args) << " stderr:\n" << result.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(result.err, "") << label(c.args);
        }
    }
}

TEST(OrbRun, ArgumentsAreLiteralsAndOutputsAreShown) {
    const std::string twice = module("twice");
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
    // Several outputs are numbered; --nargout asks for them.
    const auto sized = orb({"run", "--nargout", "2", "size", "[1 2 3]"});
    EXPECT_EQ(sized.exitCode, 0) << sized.err;
    EXPECT_TRUE(contains(sized.out, "ans1 = 1") && contains(sized.out, "ans2 = 3")) << sized.out;
}

TEST(OrbShell, SurvivesFaultingModulesAndKeepsItsWorkspace) {
    // Each fault ends in a host error; the next call of a healthy module on the same engine works.
    const auto result = shell(
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
    EXPECT_EQ(result.exitCode, 0) << result.err;
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
    const auto eof = shell("x = twice(1)\natexit_plain;", {"--path", kModules});
    EXPECT_EQ(eof.exitCode, 0) << eof.err;
    EXPECT_EQ(numbersIn(eof.out), std::vector<double>{2}) << eof.out;
    EXPECT_TRUE(contains(eof.out, "exit function ran")) << eof.out;
}

}  // namespace
