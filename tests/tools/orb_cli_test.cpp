// The orb command line as a user types it: one table of command lines, each with the exit status
// it must end with and a word each stream must hold, covering every subcommand (dispatch and help,
// build, check, manifest, run, shell, version); then the help layout every subcommand shares.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "support/files.hpp"
#include "support/orb_tool.hpp"

namespace {

namespace fs = std::filesystem;
using orbtest::contains;
using orbtest::modulePath;
using orbtest::pePath;

// Sources a module author writes, right and wrong, in the folder the build rows run in.
void writeSources(const fs::path& dir) {
    fs::copy_file(fs::path(ORB_SOURCE_DIR) / "tests" / "modules" / "metadata" / "gain.c", dir / "gain.c");
    const std::string entry = "#include \"orb.h\"\nvoid orbFunction(int nlhs, ryArray *plhs[], int nrhs, const ryArray *prhs[]) {\n"
                              "    (void)nlhs; (void)nrhs;\n";
    // A function of the interleaved generation only, which -R2017b does not have.
    std::ofstream(dir / "late.c") << entry << "    plhs[0] = ryCreateDoubleScalar(ryGetDoubles(prhs[0])[0]);\n}\n";
    // A misspelt function: no declaration.
    std::ofstream(dir / "typo.c") << entry << "    plhs[0] = ryCreateDoubleScalar(ryGetDouble(prhs[0])[0]);\n}\n";
    // Declared, defined nowhere: only the link can tell.
    std::ofstream(dir / "nowhere.c") << "double defined_nowhere(void);\n" << entry
                                     << "    (void)prhs;\n    plhs[0] = ryCreateDoubleScalar(defined_nowhere());\n}\n";
    std::ofstream(dir / "warn.c") << entry << "    int unused = 0;\n    (void)prhs;\n    plhs[0] = ryCreateDoubleScalar(1);\n}\n";
    std::ofstream(dir / "notes.txt") << "not a source\n";
    fs::create_directory(dir / "folder");
    fs::create_directories(dir / "fake_root" / "bin");  // an installation without the resource compiler
    for (const char* part : {"include", "lib", "extern", "resources"}) {
        fs::create_directory_symlink(fs::path(ORB_STAGE_DIR) / part, dir / "fake_root" / part);
    }
}

TEST(OrbCli, ExitStatusAndStreamsOfEachCommandLine) {
    const fs::path dir = orbtest::scratchDir();
    writeSources(dir);
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
        std::map<std::string, std::string> environment = {};
        std::string input = {};  // standard input, for orb shell
    };
    const Case cases[] = {
        // Dispatch and help.
        {{}, 2, "", "usage: orb SUBCOMMAND"},
        {{"help"}, 0, "Exit status: 0 success, 1 the work failed", ""},
        {{"--help"}, 0, "usage: orb SUBCOMMAND", ""},
        {{"help", "--help"}, 0, "usage: orb SUBCOMMAND", ""},
        {{"--version"}, 0, "release:   R2024b", ""},
        {{"version"}, 0, "\ninterface: " + host::i18n::to_string(host::get_current_version_name()) + "\n", ""},
        {{"frobnicate"}, 2, "", "unknown subcommand 'frobnicate'"},
        {{"help", "frobnicate"}, 2, "", "unknown subcommand 'frobnicate'"},
        {{"version", "--frobnicate"}, 2, "", "orb version: "},
        {{"shell", "--help"}, 0, "  clear NAME", ""},
        // orb build: one line on success, the compiler's words as it says them, the progress only
        // with -v.
        {{"build", "gain.c"}, 0, "Built gain.orbw64\n", "", true},
        {{"build", "-Wall", "warn.c"}, 0, "Built warn.orbw64", "unused variable"},
        {{"build", "gain.c"}, 1, "", "asked not to compile", false, {{"CFLAGS", "-DGAIN_BROKEN"}}},
        {{"build", "-R2017b", "late.c"}, 1, "",
         "orb build: ryGetDoubles is not part of the R2017b interface; it exists from R2018a: build with -R2018a\n"},
        {{"build", "typo.c"}, 1, "", "implicit declaration of function"},
        {{"build", "nowhere.c"}, 1, "", "defined_nowhere"},
        {{"build", "--compile-commands", "gain.c"}, 0, "Built gain.orbw64", ""},
        {{"build", "nosuch.c"}, 1, "", "nosuch.c: no such file"},
        {{"build", "gain.c", "-o", "rootless"}, 1, "", "usResourceCompiler3': no such program", false,
         {{"VELTRA_ROOT", (dir / "fake_root").string()}}},
        {{"build", "gain.c", "--threadpool-safe"}, 2, "", "--threadpool-safe is for C++ modules only"},
        {{"build"}, 2, "", "no source file given"},
        {{"build", "--frobnicate", "gain.c"}, 2, "", "-Xcompiler --frobnicate"},
        {{"build", "gain.c", "-R2017b", "-compatibleArrayDims"}, 2, "", "exclude each other"},
        {{"build", "notes.txt"}, 2, "", "is not a C, C++ or Fortran source"},
        // orb manifest: what the build embedded.
        {{"manifest", "gain.orbw64"}, 0, "\"apiVersion\": 800", ""},
        {{"manifest", "--list", "gain.orbw64"}, 0, "gain.orbw64: orbVersioning/manifest.json\n", "", true},
        {{"manifest", twice}, 1, "", "carries no metadata bundle"},
        {{"manifest", "nosuch.orbw64"}, 1, "", "nosuch.orbw64: no such file"},
        {{"manifest"}, 2, "", "no module file given"},
        // orb run.
        {{"run", "--help"}, 0, "--no-guard", ""},
        {{"run", twice, "4"}, 0, "ans = 8", ""},
        {{"run", twice, "[1 2; 3 4]"}, 0, "ans =\n\n    2    4\n    6    8\n", "", true},  // row by row
        {{"run", twice, "[1 -2]"}, 0, "ans =\n\n     2    -4\n", "", true},  // a blank separates elements
        {{"run", "--no-guard", twice, "4"}, 0, "ans = 8", ""},
        {{"run", "--path", modules, "twice", "-3"}, 0, "ans = -6", ""},  // a negative number is no option
        {{"run", "--path=" + modules, "-e", "y = twice(2); z = twice(y)"}, 0, "z = 8", ""},
        {{"run", "--nargout", "2", "size", "[1 2 3]"}, 0, "ans2 = 3", ""},
        {{"run", twice, "'text'"}, 1, "", "(twice:input)"},
        {{"run", "-e", "nosuchfunction(1)"}, 1, "", "(VELTRA:undefinedFunction)"},
        {{"run", "--path", modules, "-e", "twcie(1)"}, 1, "", "Did you mean 'twice'?\n  A module is found as twcie.orbw64"},
        {{"run", "--path", modules, "-e", "[a, b] = twice(1)"}, 1, "", "VELTRA:unassignedOutput): Output 2 of twice was not set."},
        {{"run", "--path", modules, "-e", "probe('getprop', 1, int32(1), 'X')"}, 1, "", "The array is int32, not double."},
        {{"run", modulePath("fault_null"), "1"}, 1, "", "Error"},
        // Without the guard the fault ends the process, as it would a plain program (for the debugger).
        {{"run", "--no-guard", modulePath("fault_null"), "1"}, 128 + 11, "", ""},
        {{"run", "/nonexistent/module.orbw64"}, 1, "", "no such module file"},
        {{"run", "--path", "/nonexistent-folder", twice, "1"}, 1, "", "no such folder"},
        {{"run"}, 2, "", "nothing to run"},
        {{"run", "--frobnicate", twice}, 2, "", "unknown option '--frobnicate'"},
        {{"run", "-e", "1", twice}, 2, "", "not both"},
        {{"run", "--nargout", "many", twice, "1"}, 2, "", "whole number"},
        {{"run", twice, "[1 2"}, 2, "", "argument 1 ([1 2) is not a literal"},
        {{"run", std::string(ORB_SOURCE_DIR) + "/README.md"}, 2, "", "is not a module file"},
        {{"run", "./folder"}, 2, "", "./folder is a folder"},
        // Tasks mode admits no C or Fortran module, whatever the switch says.
        {{"run", modulePath("hello_fortran"), "21"}, 0, "Hello from Fortran", ""},
        {{"run", "--tasks", modulePath("hello_fortran"), "21"}, 1, "", "parallel:threadpool:DisallowedOrbFunction"},
        {{"run", "--tasks", "--feature", "ThreadPoolCppOrb=1", modulePath("tasks_outside")}, 1, "",
         "parallel:threadpool:DisallowedOrbFunction"},
        {{"run", "--feature", "NoSuchFeature=1", modulePath("tasks_outside")}, 2, "", "NoSuchFeature"},
        {{"run", "--feature", "ThreadPoolCppOrb", modulePath("tasks_outside")}, 2, "", "NAME=VALUE"},
        // orb shell: piped statements are a script, which fails when a statement failed.
        {{"shell", "--path", modules}, 0, "y = 4", "", false, {}, "y = twice(2)\n"},
        {{"shell", "--path", modules}, 1, "y = 4", "Undefined function or variable 'nosuch'", false, {},
         "nosuch(1)\ny = twice(2)\n"},
        {{"shell", "--frobnicate"}, 2, "", "unknown option"},
        {{"shell", "--path", "/nonexistent-folder"}, 1, "", "no such folder"},
        // orb check: 1 when any file has an error, or (strict) needs an upgrade.
        {{"check", ok}, 0, "", ""},
        {{"check", error}, 1, "", ""},
        {{"check", ok, error, upgrade}, 1, "", ""},
        {{"check", strictOnly}, 1, "", ""},
        {{"check", "--no-strict", strictOnly}, 0, "", ""},
        {{"check", "--json", "--summary", "--log", "--symbols", ok}, 0, "", ""},
        {{"check", "folder"}, 1, "folder: error - a folder, not a module file", ""},
        {{"check"}, 2, "", "no module file given"},
        {{"check", "--strict", "--no-strict", ok}, 2, "", "exclude each other"},
        {{"check", "--frobnicate", ok}, 2, "", "orb check: "},
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
        // In the folder of the sources, as a user builds; orb shell reads its statements from a file.
        const fs::path input = dir / "input.txt";
        std::ofstream(input) << c.input;
        // No core file from the row that faults on purpose; a signal shows as 128 + its number.
        std::vector<std::string> args = {"-c", "ulimit -c 0; input=$1; shift; /usr/bin/env \"$@\" < \"$input\"", "sh",
                                         input.string(), "-C", dir.string()};
        for (const auto& [name, value] : c.environment) args.push_back(name + "=" + value);
        args.push_back(orbtest::kOrb);
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto result = orbtest::runChild("/bin/sh", args);
        const std::string label = orbtest::commandLine(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << label << "\n" << result.out << result.err;
        if (c.wholeOut) {
            EXPECT_EQ(result.out, c.out) << label;
        } else {
            EXPECT_TRUE(contains(result.out, c.out)) << label << " stdout:\n" << result.out;
        }
        EXPECT_TRUE(contains(result.err, c.err)) << label << " stderr:\n" << result.err;
        // Standard error is for failures and the compiler's warnings; orb check reports its
        // findings on standard output.
        const bool checkFindings = !c.args.empty() && c.args.front() == "check" && c.exitCode == 1;
        if ((c.exitCode == 0 && c.err.empty()) || checkFindings) {
            EXPECT_EQ(result.err, "") << label;
        }
    }

    // The compile command of each source, for an editor (what it holds is the planner's).
    std::ifstream database(dir / "compile_commands.json");
    const auto commands = nlohmann::json::parse(database);
    ASSERT_EQ(commands.size(), 1u) << commands.dump(2);
    EXPECT_EQ(commands[0]["file"], (dir / "gain.c").string());
    // A failed build leaves no module behind, nor any file of its steps.
    for (const char* left : {"late.orbw64", "typo.orbw64", "nowhere.orbw64", "late_kv_temp_.orbw64", "rootless.orbw64",
                             "rootless_kv_temp_.orbw64"}) {
        EXPECT_FALSE(fs::exists(dir / left)) << left;
    }
}

TEST(OrbCli, EverySubcommandLaysOutItsHelpAlike) {
    const auto overview = orbtest::orb({"help"});
    ASSERT_EQ(overview.exitCode, 0);
    const std::vector<std::string> names = {"build", "check", "manifest", "run", "shell", "version"};
    for (const auto& name : names) {
        EXPECT_TRUE(contains(overview.out, "\n  " + name + " ")) << name << " is missing from orb help:\n" << overview.out;
        const auto help = orbtest::orb({name, "--help"});
        EXPECT_EQ(help.exitCode, 0) << name;
        EXPECT_TRUE(help.out.starts_with("usage: orb " + name)) << help.out;
        // Every option it takes is listed under "Options:", help last, and the exit statuses end it.
        EXPECT_TRUE(contains(help.out, "\n\nOptions:\n")) << help.out;
        EXPECT_TRUE(std::regex_search(help.out, std::regex("\n  -h, --help +show this help\n\nExit status: 0 ")))
            << help.out;
        EXPECT_TRUE(contains(help.out, "2 usage error.\n")) << help.out;
        EXPECT_EQ(orbtest::orb({"help", name}).out, help.out) << name;
    }
}

}  // namespace
