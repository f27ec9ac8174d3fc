// What orb build runs, planned from its command line without a compiler: where each option, each
// source and each environment variable ends up in the compile and link commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "orb/build_plan.hpp"
#include "support/orb_tool.hpp"

namespace {

using namespace orbtool::build;
using Command = std::vector<std::string>;

// Whether `command` holds `parts` in this order (not necessarily next to each other).
bool holdsInOrder(const Command& command, const Command& parts) {
    auto at = command.begin();
    for (const auto& part : parts) {
        at = std::find(at, command.end(), part);
        if (at == command.end()) return false;
        ++at;
    }
    return true;
}

TEST(BuildPlan, OptionsSourcesAndEnvironmentLandInTheirCommands) {
    const std::string include = "-I/inst/include", lib = "/inst/lib";
    const std::string r2018a = "-DVELTRA_ORBCMD_RELEASE=R2018a", r2017b = "-DVELTRA_ORBCMD_RELEASE=R2017b";
    struct Case {
        Command args;
        std::map<std::string, std::string> environment;
        std::vector<Command> compiles;  // each compile holds these, in this order
        Command link;                   // and the link these
        std::string output;
        Command nowhere = {};  // in no command
        bool colour = false;
    };
    const Case cases[] = {
        // One source for the default generation is compiled by the link's own driver run.
        {{"gain.c"}, {}, {},
         {"gcc", "-shared", "-pipe", "-fPIC", "-fexceptions", "-Werror=implicit-function-declaration", include, r2018a, "gain.c",
          "-o", "gain.orbw64", "-L" + lib, "-Wl,-rpath," + lib, "-Wl,-z,noexecstack", "-Wl,--no-undefined", "-lorb",
          "-lvhost"},
         "gain.orbw64", {"-lVeltraDataArray", "-c"}},
        {{"-R2017b", "gain.c"}, {}, {{"gcc", "-c", "-pipe", "-fPIC", include, r2017b, "gain.c", "-o", "/scratch/0_gain.o"}},
         {"gcc", "-shared", "/scratch/0_gain.o", "-o", "gain.orbw64"}, "gain.orbw64", {r2018a}},
        // Each language its compiler; the link's driver is that of C++, else Fortran, else C.
        {{"-compatibleArrayDims", "a.c", "b.f90", "x.o", "-o", "out", "--outdir", "d"}, {},
         {{"gcc", "-c", "-fexceptions", "-DRY_COMPAT_32", "a.c"}, {"gfortran", "-c", "-fexceptions", "-cpp", "b.f90"}},
         {"gfortran", "-shared", "/scratch/0_a.o", "/scratch/1_b.o", "x.o", "-o", "d/out.orbw64"}, "d/out.orbw64"},
        {{"t.cpp", "f.f90", "--threadpool-safe"}, {},
         {{"g++", "-c", "-fPIC", "t.cpp"}, {"gfortran", "-c", "f.f90"}},
         {"g++", "-shared", "-lorb", "-lvhost", "-lgfortran", "-lVeltraDataArray"}, "t.orbw64"},
        // The environment's options before the command line's; code-generation options at the link too.
        {{"-Wall", "-O2", "-g3", "-fno-common", "-Xcompiler", "-pipe", "-Xlinker", "-O1", "-Wl,--as-needed", "-I", "inc",
          "-DX=1", "-UY", "-L", "ld", "-lm", "-g", "-O", "-R2017b", "gain.c"},
         {{"CFLAGS", "-DENV -Wextra"}, {"CXXFLAGS", "-DCXX"}, {"LDFLAGS", "-lenv"}},
         {{"gcc", "-c", "-g", "-O2", include, "-Iinc", r2017b, "-DX=1", "-UY", "-DENV", "-Wextra", "-Wall", "-O2", "-g3",
           "-fno-common", "-pipe", "gain.c"}},
         {"gcc", "-shared", "-fno-common", "/scratch/0_gain.o", "-o", "gain.orbw64", "-L" + lib, "-Lld", "-lorb", "-lm",
          "-lenv", "-Xlinker", "-O1", "-Wl,--as-needed"},
         "gain.orbw64", {"-DCXX"}},
        // A terminal gets the compilers' colours, unless the command line chooses.
        {{"-R2017b", "gain.c"}, {}, {{"gcc", "-c", "-fdiagnostics-color=always", "gain.c"}},
         {"gcc", "-shared", "-fdiagnostics-color=always"}, "gain.orbw64", {}, true},
        {{"-fdiagnostics-color=never", "gain.c"}, {}, {}, {"gcc", "-fdiagnostics-color=never"}, "gain.orbw64",
         {"-fdiagnostics-color=always"}, true},
    };
    std::set<std::string> keptVersionObjects;
    for (const Case& c : cases) {
        const std::string label = orbtest::commandLine(c.args);
        const Plan plan = orbtool::build::plan(parse(c.args), {"/inst", "/scratch", "/work", c.colour, c.environment});
        std::vector<Command> commands;
        for (const auto& step : plan.compiles) commands.push_back(step.command);
        commands.push_back(plan.link);
        ASSERT_EQ(commands.size(), c.compiles.size() + 1) << label;
        for (std::size_t i = 0; i < commands.size(); ++i) {
            const Command& expected = i < c.compiles.size() ? c.compiles[i] : c.link;
            EXPECT_TRUE(holdsInOrder(commands[i], expected)) << label << "\n" << orbtest::commandLine(commands[i]);
            for (const auto& absent : c.nowhere) EXPECT_FALSE(holdsInOrder(commands[i], {absent})) << label << absent;
        }
        EXPECT_EQ(plan.output, c.output) << label;
        EXPECT_EQ(plan.link[plan.outputIndex], "-o") << label;
        EXPECT_EQ(plan.link[plan.versionIndex], plan.versionFunction.kept.string()) << label;
        keptVersionObjects.insert(plan.versionFunction.kept.string());
        // An editor's entry per source: its compile, without the terminal's colours or an object file.
        ASSERT_EQ(plan.compileDatabase.size(), plan.compiles.size() + (plan.compileInLink ? 1 : 0)) << label;
        for (const auto& entry : plan.compileDatabase) {
            const auto arguments = entry["arguments"].get<Command>();
            EXPECT_TRUE(holdsInOrder(arguments, {"-c", include, entry["file"].get<std::string>().substr(6)})) << label;
            EXPECT_FALSE(holdsInOrder(arguments, {"-o"}) || holdsInOrder(arguments, {"-fdiagnostics-color=always"}));
        }
    }
    // Each generation's version function is kept apart, so one is never mistaken for another's.
    EXPECT_EQ(keptVersionObjects.size(), 3u);
}

}  // namespace
