// The orb command line: for each argument list, the exit status and what each stream says
// (subcommand dispatch, help, usage errors, and the verdicts of run, check and version), and
// `orb version` without a file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "support/orb_tool.hpp"

namespace {

using orbtest::contains;
using orbtest::modulePath;
using orbtest::pePath;

TEST(OrbCli, ExitStatusAndStreamsOfEachCommandLine) {
    const std::string twice = modulePath("twice");
    const std::string modules = ORB_TEST_MODULE_DIR;
    const std::string ok = modulePath("inspect_c800_vf");
    const std::string upgrade = modulePath("inspect_c700");
    const std::string error = modulePath("inspect_mixed_700_800");
    const std::string strictOnly = modulePath("inspect_c800_vf_default");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string out;  // expected in standard output
        std::string err;  // expected in standard error
        bool wholeOut = false;  // the output is exactly `out`
    };
    const Case cases[] = {
        // Dispatch and help.
        {{}, 2, "", "usage: orb SUBCOMMAND"},
        {{"help"}, 0, "version", ""},
        {{"--help"}, 0, "usage: orb SUBCOMMAND", ""},
        {{"version", "--help"}, 0, "usage: orb version", ""},
        {{"help", "version"}, 0, "usage: orb version", ""},
        {{"frobnicate"}, 2, "", "unknown subcommand 'frobnicate'"},
        {{"--version"}, 2, "", "unknown subcommand '--version'"},
        {{"version", "--frobnicate"}, 2, "", "orb version: "},
        // orb run and orb shell.
        {{"run", "--help"}, 0, "usage: orb run", ""},
        {{"run", twice, "4"}, 0, "ans = 8", ""},
        {{"run", "--path", modules, "twice", "-3"}, 0, "ans = -6", ""},  // a negative number is no option
        {{"run", "--path=" + modules, "-e", "y = twice(2); z = twice(y)"}, 0, "z = 8", ""},
        {{"run", twice, "'text'"}, 1, "", "(twice:input)"},
        {{"run", "-e", "nosuchfunction(1)"}, 1, "", "(VELTRA:undefinedFunction)"},
        {{"run", modulePath("fault_null"), "1"}, 1, "", "Error"},
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
        // Tasks mode admits no C or Fortran module, whatever the switch says.
        {{"run", modulePath("hello_fortran"), "21"}, 0, "Hello from Fortran", ""},
        {{"run", "--tasks", modulePath("hello_fortran"), "21"}, 1, "", "parallel:threadpool:DisallowedOrbFunction"},
        {{"run", "--tasks", "--feature", "ThreadPoolCppOrb=1", modulePath("tasks_outside")}, 1, "",
         "parallel:threadpool:DisallowedOrbFunction"},
        {{"run", "--feature", "NoSuchFeature=1", modulePath("tasks_outside")}, 2, "", "NoSuchFeature"},
        {{"run", "--feature", "ThreadPoolCppOrb", modulePath("tasks_outside")}, 2, "", "NAME=VALUE"},
        // orb check: 1 when any file has an error, or (strict) needs an upgrade.
        {{"check", ok}, 0, "", ""},
        {{"check", error}, 1, "", ""},
        {{"check", ok, error, upgrade}, 1, "", ""},
        {{"check", strictOnly}, 1, "", ""},
        {{"check", "--no-strict", strictOnly}, 0, "", ""},
        {{"check", "--json", "--summary", "--log", "--symbols", ok}, 0, "", ""},
        {{"check"}, 2, "", "no module file given"},
        {{"check", "--strict", "--no-strict", ok}, 2, "", "exclude each other"},
        {{"check", "--frobnicate", ok}, 2, "", "orb check: "},
        {{"check", "--help"}, 0, "usage: orb check", ""},
        // orb version FILE: the compatibility word of a module.
        {{"version", ok}, 0, "current\n", "", true},
        {{"version", modulePath("inspect_c800_vf_future")}, 0, "incompatible\n", "", true},
        {{"version", modulePath("inspect_c800_novf")}, 0, "unknown\n", "", true},
        {{"version", pePath("pe64_c800_manifest.dll")}, 0, "current\n", "", true},
        {{"version", "/nonexistent.orbw64"}, 1, "",
         "orb version: Cannot load the orb module '/nonexistent.orbw64': no such file\n", true},
        {{"version", pePath("pe64_c800_vf.dll")}, 1, "",
         "orb version: Cannot load the orb module '" + pePath("pe64_c800_vf.dll") + "': ", true},
        {{"version", ""}, 2, "", "orb version: ", true},
    };
    for (const Case& c : cases) {
        const auto result = orbtest::orb(c.args);
        const std::string label = orbtest::commandLine(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << label << "\n" << result.out << result.err;
        if (c.wholeOut) {
            EXPECT_EQ(result.out, c.out) << label;
        } else {
            EXPECT_TRUE(contains(result.out, c.out)) << label << " stdout:\n" << result.out;
        }
        EXPECT_TRUE(contains(result.err, c.err)) << label << " stderr:\n" << result.err;
        // Standard error is for failures; orb check reports its findings on standard output.
        if (c.exitCode == 0 || (!c.args.empty() && c.args.front() == "check" && c.exitCode == 1)) {
            EXPECT_EQ(result.err, "") << label;
        }
    }
}

TEST(OrbCli, VersionNamesReleaseAndCurrentInterface) {
    const auto result = orbtest::orb({"version"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "R2024b")) << result.out;
    const std::string interfaceName = host::i18n::to_string(host::get_current_version_name());
    ASSERT_FALSE(interfaceName.empty());
    EXPECT_TRUE(contains(result.out, interfaceName)) << result.out;
}

}  // namespace
