// The example modules, built with a plain C compiler against the staged installation root and
// called through `orb run -e`; and the README's tutorial, run as a reader runs it, which must show
// what the README says it shows, word for word.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "support/files.hpp"
#include "support/orb_tool.hpp"

namespace {

namespace fs = std::filesystem;
using orbtest::contains;
using orbtest::numbersIn;

const std::string kStage = ORB_STAGE_DIR;
// One folder per test process: ctest runs the tests of this file in parallel processes, and one
// must not load a module while another rewrites it.
const fs::path kBuilt = fs::path(ORB_TEST_BINARY_DIR) / ("examples_" + std::to_string(::getpid()));

class Examples : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fs::create_directories(kBuilt);
        for (const std::string name : {"scale", "describe", "callback"}) {
            const auto result = orbtest::runChild(
                "/usr/bin/env",
                {"cc", "-shared", "-fPIC", "-fexceptions", "-I" + kStage + "/include",
                 std::string(ORB_SOURCE_DIR) + "/examples/" + name + ".c", "-L" + kStage + "/lib", "-lorb", "-lvhost",
                 "-o", (kBuilt / (name + ".orbw64")).string()});
            s_buildLog += result.out + result.err;
            if (result.exitCode != 0) s_built = false;
        }
        const auto tally = orbtest::runChild(
            "/usr/bin/env", {"c++", "-std=c++17", "-shared", "-fPIC", "-Wall", "-I" + kStage + "/include",
                             std::string(ORB_SOURCE_DIR) + "/examples/tally.cpp", "-L" + kStage + "/lib", "-lorb",
                             "-lVeltraDataArray", "-o", (kBuilt / "tally.orbw64").string()});
        s_buildLog += tally.out + tally.err;
        if (tally.exitCode != 0) s_built = false;
    }

    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(kBuilt, ignored);
    }

    void SetUp() override { ASSERT_TRUE(s_built) << s_buildLog; }

    static orbtest::ChildResult run(const std::string& statements) {
        return orbtest::runChild(kStage + "/bin/orb", {"run", "--path", kBuilt.string(), "-e", statements});
    }

    static inline bool s_built = true;
    static inline std::string s_buildLog;
};

TEST_F(Examples, BuildCleanlyAndPassTheCheck) {
    EXPECT_EQ(s_buildLog, "");  // no warning from the plain compiler either
    const auto result = orbtest::runChild(kStage + "/bin/orb", {"check", (kBuilt / "scale.orbw64").string(),
                                                                (kBuilt / "describe.orbw64").string(),
                                                                (kBuilt / "callback.orbw64").string()});
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(result.out.find("upgrade"), std::string::npos) << result.out;
}

TEST_F(Examples, ScaleKeepsTheClassAndRoundsAndSaturatesIntegers) {
    struct Case {
        std::string expression;
        std::string className;
        std::vector<double> values;  // as shown, row by row
    };
    const Case cases[] = {
        {"scale([1 -2; 3 4], -1.5)", "double", {-1.5, 3, -4.5, -6}},
        {"scale(single([1.5 2]), 2)", "single", {3, 4}},
        {"scale(int16([3 -3 1]), 2.5)", "int16", {8, -8, 3}},  // halves away from zero
        {"scale(int8([100 -100 7]), 2)", "int8", {127, -128, 14}},
        {"scale(uint8([10 200]), -1)", "uint8", {0, 0}},
        {"scale(int32(7), int8(3))", "int32", {21}},
        {"scale([], 2)", "double", {}},
    };
    for (const Case& c : cases) {
        const auto result = run("y = " + c.expression + "; c = class(y)\ny");
        ASSERT_EQ(result.exitCode, 0) << c.expression << "\n" << result.err;
        EXPECT_TRUE(contains(result.out, "c = '" + c.className + "'")) << c.expression << "\n" << result.out;
        const std::string shown = result.out.substr(result.out.find("y ="));
        EXPECT_EQ(numbersIn(shown), c.values) << c.expression << "\n" << shown;
    }
    const auto complex = run("z = scale([1+2i 3], -2)");
    EXPECT_EQ(complex.exitCode, 0) << complex.err;
    EXPECT_TRUE(contains(complex.out, "-2 - 4i") || contains(complex.out, "-2.0000 - 4.0000i")) << complex.out;
}

TEST_F(Examples, BadInputRaisesIdentifiedErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"scale('text', 2)", "(scale:notNumeric)"},
        {"scale(int8(1), [1 2])", "(scale:badFactor)"},
        {"scale(1)", "(scale:nargin)"},
        {"[a, b] = scale(1, 2)", "(scale:nargout)"},
        {"describe()", "(describe:nargin)"},
        {"callback('shout')", "(callback:usage)"},
        {"callback('get', 'nosuchvariable')", "(callback:noVariable)"},
        // An error inside the host function a module calls reaches the module's caller intact.
        {"callback('call', 'error', 'tools:inner', 'raised inside')", "(tools:inner): raised inside"},
    };
    for (const auto& [statement, expected] : cases) {
        const auto result = run(statement);
        EXPECT_EQ(result.exitCode, 1) << statement;
        EXPECT_TRUE(contains(result.err, expected)) << statement << "\n" << result.err;
    }
}

TEST_F(Examples, DescribeAndCallbackWorkThroughTheHost) {
    const auto described = run("s = describe([1 2 3; 4 5 6], 'ab', {1, 'x'}, 1+2i);\n"
                                "a = s(1).size, b = s(2).class, c = s(3).contents{2}, d = s(4).bytes\n"
                                "e = s(4).isComplex, f = numel(s)\n"
                                "t = describe(describe(1)); g = t.contents{3}");
    ASSERT_EQ(described.exitCode, 0) << described.err;
    for (const char* line : {"b = 'char'", "c = 'char'", "d = 16", "e = true", "f = 4", "g = 'numel'"}) {
        EXPECT_TRUE(contains(described.out, line)) << line << "\n" << described.out;
    }
    EXPECT_EQ(numbersIn(described.out.substr(0, described.out.find("b ="))), (std::vector<double>{2, 3}));

    // put, eval and get share the base workspace with the statements around them; a failed
    // evaluation answers a non-zero status.
    const auto workspace = run("callback('put', 'v', [1 2 3]); w = callback('get', 'v')\n"
                               "ok = callback('eval', 'u = v;'), bad = callback('eval', 'u = nothing;'), u\n"
                               "n = callback('call', 'size', [1 2; 3 4; 5 6])");
    ASSERT_EQ(workspace.exitCode, 0) << workspace.err;
    EXPECT_EQ(numbersIn(workspace.out), (std::vector<double>{1, 2, 3, 0, 1, 1, 2, 3, 3, 2})) << workspace.out;
}

TEST_F(Examples, TallyKeepsItsStateInItsObjectUntilTheModuleIsCleared) {
    const auto result = run("tally([1 2 3]); a = tally(int8([4 5]))\n"
                            "r = tally('report')\ns = tally('scaled', 10)\nclear tally\nb = tally(7)");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    // [count total] twice, the report through disp, the scale module's product, then a fresh
    // object after the clear.
    const std::string shown = result.out.substr(0, result.out.find("tally: cleared"));
    EXPECT_EQ(numbersIn(shown), (std::vector<double>{5, 15, 5, 15, 150})) << result.out;
    EXPECT_TRUE(contains(shown, "r = 'count and total:")) << result.out;
    // Each object says when it goes: at the clear, and the last one when the host ends.
    EXPECT_TRUE(contains(result.out, "tally: cleared after 4 calls (total 15)\nb =")) << result.out;
    EXPECT_TRUE(contains(result.out, "tally: cleared after 1 call (total 7)")) << result.out;

    const auto bad = run("tally('average')");
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(contains(bad.err, "(tally:unknownCommand)")) << bad.err;
}

// The README's lines, and what it shows after a command: the commands that follow it in the
// same block run too, and the output is the next indented block (after prose or a blank line).
struct Readme {
    std::vector<std::string> lines;

    Readme() {
        std::ifstream file(std::string(ORB_SOURCE_DIR) + "/README.md");
        for (std::string line; std::getline(file, line);) lines.push_back(line);
    }

    std::size_t find(const std::string& line) const {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i] == line) return i;
        }
        ADD_FAILURE() << "README.md has no line '" << line << "'";
        return lines.size();
    }

    // The commands starting at `command` (indented lines starting with "orb "), and the output shown.
    std::pair<std::vector<std::string>, std::string> shownAfter(const std::string& command) const {
        std::size_t i = find("    " + command);
        std::vector<std::string> commands;
        for (; i < lines.size() && lines[i].starts_with("    orb "); ++i) commands.push_back(lines[i].substr(4));
        while (i < lines.size() && !lines[i].starts_with("    ")) ++i;
        std::string shown;
        std::size_t blanks = 0;
        for (; i < lines.size() && (lines[i].empty() || lines[i].starts_with("    ")); ++i) {
            if (lines[i].empty()) {
                ++blanks;
                continue;
            }
            shown += std::string(blanks, '\n') + lines[i].substr(4) + "\n";
            blanks = 0;
        }
        return {commands, shown};
    }

    // The text of the here-document that writes `file`, without its indent.
    std::string hereDocument(const std::string& file) const {
        std::string text;
        for (std::size_t i = find("    cat > " + file + " <<'EOF'") + 1; i < lines.size() && lines[i] != "    EOF"; ++i) {
            text += (lines[i].size() > 4 ? lines[i].substr(4) : std::string()) + "\n";
        }
        return text;
    }
};

TEST(ReadmeTutorial, EveryCommandShowsWhatTheReadmeSays) {
    const Readme readme;
    const fs::path dir = orbtest::scratchDir();
    std::ofstream(dir / "gain.c") << readme.hereDocument("gain.c");
    for (const std::string first : {"orb build gain.c", "orb check gain.orbw64", "orb run gain.orbw64 '[1 2; 3 4]' 2.5",
                                    "orb run gain.orbw64 \"'text'\" 2", "orb manifest gain.orbw64"}) {
        const auto [commands, shown] = readme.shownAfter(first);
        std::string printed;
        for (const auto& command : commands) {
            const auto result = orbtest::runChild(
                "/bin/sh", {"-c", "cd \"$1\" && PATH=\"$2:$PATH\" && " + command, "sh", dir.string(), kStage + "/bin"});
            printed += result.out + result.err;
        }
        // The bundle's name is made afresh by every build.
        EXPECT_EQ(std::regex_replace(printed, std::regex("[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}"), "UUID"),
                  std::regex_replace(shown, std::regex("[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}"), "UUID"))
            << first;
    }
}

}  // namespace
