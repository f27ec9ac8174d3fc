// orb build, run as a user runs it: the module it writes, what it embeds, whether it runs, what
// -v shows, and what a failing build reports and leaves behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "metadata/metadata_support.hpp"
#include "orbfile/inspector.hpp"
#include "orbfile/retrieve_version.hpp"
#include "support/orb_tool.hpp"

namespace {

namespace fs = std::filesystem;

const std::string kOrb = mdtest::kStage + "/bin/orb";
const std::string kGain = (mdtest::kModuleSources / "gain.c").string();

// orb with `args`, in the folder `cwd`.
orbtest::ChildResult orb(const fs::path& cwd, std::vector<std::string> args,
                         const std::map<std::string, std::string>& environment = {}) {
    args.insert(args.begin(), {"-C", cwd.string(), kOrb});
    return orbtest::runChild("/usr/bin/env", args, environment);
}

// The module alone is left in the current folder; a rebuild replaces the file rather than writing
// into it: a host that has the old module mapped keeps the file it mapped, and the next load finds
// the new one. (What a module embeds and how it runs is the next test's.)
TEST(OrbBuild, TheExampleIsBuiltIntoTheCurrentFolderAndARebuildReplacesIt) {
    const fs::path dir = orbtest::scratchDir();
    ASSERT_EQ(orb(dir, {"build", std::string(ORB_SOURCE_DIR) + "/examples/scale.c"}).exitCode, 0);
    EXPECT_EQ(mdtest::filesIn(dir), std::vector<std::string>{"scale.orbw64"});
    const int held = ::open((dir / "scale.orbw64").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    struct stat before {};
    ASSERT_EQ(::fstat(held, &before), 0);
    ASSERT_EQ(orb(dir, {"build", std::string(ORB_SOURCE_DIR) + "/examples/scale.c"}).exitCode, 0);
    struct stat after {};
    ASSERT_EQ(::stat((dir / "scale.orbw64").c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "the module was written in place";
    EXPECT_EQ(::fstat(held, &before), 0);
    EXPECT_EQ(before.st_nlink, 0u) << "the old file is replaced, not kept";
    ::close(held);
    EXPECT_EQ(mdtest::filesIn(dir), std::vector<std::string>{"scale.orbw64"});
}

TEST(OrbBuild, EachGenerationEmbedsItsSettingAndRunsComplexData) {
    struct Case {
        std::vector<std::string> options;
        unsigned apiVersion;
        std::size_t links;
        // The generation's version function was compiled by an earlier build, which keeps it.
        bool versionFunctionKept;
    } cases[] = {{{}, 800, 1, false},
                 {{"-R2018a"}, 800, 1, true},
                 {{"-R2017b"}, 730, 2, false},
                 {{"-compatibleArrayDims"}, 700, 2, false}};
    for (const auto& c : cases) {
        const fs::path dir = orbtest::scratchDir() / std::to_string(c.apiVersion) / std::to_string(c.options.size());
        fs::create_directories(dir);
        std::vector<std::string> args = {"build", "-v", kGain};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto built = orb(dir, args);
        ASSERT_EQ(built.exitCode, 0) << built.out << built.err;
        EXPECT_EQ(orbtest::count("\n" + built.out, "\ngcc -shared"), c.links) << built.out;
        if (c.versionFunctionKept) {
            EXPECT_EQ(built.out.find("orb_version_function.c"), std::string::npos) << built.out;
        }
        EXPECT_EQ(mdtest::embeddedIn(dir / "gain.orbw64").apiVersion, c.apiVersion);
        const auto run = orb(dir, {"run", "-e", "y = gain([1+2i 3-1i], 2)"});
        EXPECT_NE(run.out.find("2 + 4i"), std::string::npos) << c.apiVersion << ": " << run.out << run.err;
        EXPECT_NE(run.out.find("6 - 2i"), std::string::npos) << c.apiVersion << ": " << run.out << run.err;
    }
}

TEST(OrbBuild, AnOutputPathWithBlanksAndSeveralSourcesWithACheck) {
    const fs::path dir = orbtest::scratchDir();
    const auto built = orb(dir, {"build", "-v", "-R2017b", "--check", kGain, (mdtest::kModuleSources / "gain_helper.c").string(),
                                 "--outdir", "out dir", "-o", "my gain"});
    ASSERT_EQ(built.exitCode, 0) << built.out << built.err;
    EXPECT_NE(built.out.find("[1/2] Compiling"), std::string::npos) << built.out;
    EXPECT_NE(built.out.find("[2/2] Compiling"), std::string::npos) << built.out;
    // The inspection ran on the module and says what orb check says: built for 730, move on.
    const auto checked = orb(dir, {"check", "out dir/my gain.orbw64"});
    EXPECT_TRUE(checked.out.starts_with("out dir/my gain.orbw64: upgrade recommended - ")) << checked.out;
    EXPECT_TRUE(built.out.ends_with(checked.out)) << built.out;
    EXPECT_EQ(mdtest::filesIn(dir / "out dir"), std::vector<std::string>{"my gain.orbw64"});
    EXPECT_EQ(mdtest::embeddedIn(dir / "out dir" / "my gain.orbw64").apiVersion, 730u);
}

// A C++ module's declaration that it is safe on the thread pool: written into its manifest, read
// back by the inspection and by the loader's admission; without the option it is not declared.
TEST(OrbBuild, ACppModuleDeclaresThreadPoolSafetyOnlyWhenAskedTo) {
    const fs::path dir = orbtest::scratchDir();
    const std::string tally = std::string(ORB_SOURCE_DIR) + "/examples/tally.cpp";
    for (const bool declared : {true, false}) {
        const std::string name = declared ? "safe" : "plain";
        std::vector<std::string> args = {"build", tally, "-o", name};
        if (declared) args.push_back("--threadpool-safe");
        const auto built = orb(dir, args);
        ASSERT_EQ(built.exitCode, 0) << built.out << built.err;
        const std::u16string path = host::i18n::to_ustring((dir / (name + ".orbw64")).string());
        EXPECT_EQ(orbfile::declares_threadpool_safe(path), declared) << name;
        EXPECT_EQ(orbfile::Inspector(path, false).is_threadpool_safe(), declared) << name;
    }
}

// (What each command line answers, usage errors and failures included, is in the tool's table,
// tests/tools/orb_cli_test.cpp; the argument lists a build runs are the planner's,
// tests/tools/build_plan_test.cpp.)

}  // namespace
