// MetaData and Result: equality, the names of a step's intermediate files, their removal, and the
// linker arguments that carry a bundle.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "metadata/metadata_support.hpp"
#include "orbfile/metadata/linker_commands.hpp"
#include "orbfile/metadata/metadata.hpp"

namespace {

namespace fs = std::filesystem;
using orbfile::metadata::MetaData;
using orbfile::metadata::Result;

TEST(MetaData, EqualityComparesTheMetadataButNotTheFolder) {
    const MetaData base("/one", 800, false);
    struct Case {
        MetaData other;
        bool equal;
    } cases[] = {{MetaData("/another/folder", 800, false), true},
                 {MetaData("/one", 730, false), false},
                 {MetaData("/one", 800, true), false},
                 {MetaData("/one", 0, false), false}};
    for (const auto& c : cases) {
        EXPECT_EQ(base == c.other, c.equal) << c.other.get_outdir() << " " << c.other.get_apiVersion();
    }
}

TEST(Result, NamesItsFilesInTheCanonicalFolderWithThePrefixJoinedDirectly) {
    const fs::path dir = orbtest::scratchDir();
    fs::create_directories(dir / "sub");
    const std::string canonical = fs::canonical(dir).string() + "/";
    struct Case {
        std::string outdir;
        std::string prefix;
    } cases[] = {{(dir / "sub" / "..").string(), ""}, {(dir / "." / "sub" / "..").string(), "mod_"}};
    for (const auto& c : cases) {
        const Result result(c.outdir, c.prefix);
        EXPECT_EQ(result.get_manifestJsonPath(), canonical + c.prefix + "orb_manifest.json");
        EXPECT_EQ(result.get_bundleZipPath(), canonical + c.prefix + "orb_bundle.zip");
        EXPECT_EQ(result.get_win64RCPath(), canonical + c.prefix + "orb_rc.rc");
        EXPECT_EQ(result.get_win64RESPath(), canonical + c.prefix + "orb_res.res");
        EXPECT_EQ(result.get_status(), 0);
        EXPECT_EQ(result.get_cmd() + result.get_cmdOutput() + result.get_cmdErr(), "");
    }
    EXPECT_ANY_THROW(Result((dir / "missing").string(), ""));
}

TEST(Result, DeleteFilesRemovesTheFourFilesAndNothingElse) {
    const fs::path dir = orbtest::scratchDir();
    Result result(dir.string(), "m");
    result.delete_files();  // nothing written yet: nothing happens
    for (const auto& path : {result.get_manifestJsonPath(), result.get_bundleZipPath(), result.get_win64RCPath(),
                             result.get_win64RESPath(), (dir / "m.orbw64").string()}) {
        orbtest::writeBytes(path, "x");
    }
    result.delete_files();
    EXPECT_EQ(mdtest::filesIn(dir), std::vector<std::string>{"m.orbw64"});
}

TEST(Result, LinkerFlagsQuoteBothPathsWhenEitherHoldsABlank) {
    const fs::path dir = orbtest::scratchDir();
    fs::create_directories(dir / "a b");
    const std::string plainDir = fs::canonical(dir).string() + "/";
    const std::string blankDir = fs::canonical(dir / "a b").string() + "/";
    const Result plain(dir.string(), "m_");
    const Result blank((dir / "a b").string(), "m_");
    EXPECT_EQ(plain.getLinkerFlags(true),
              "-Wl,--format=binary -Wl," + plainDir + "m_orb_bundle.zip -Wl,--format=default");
    EXPECT_EQ(plain.getLinkerFlags(false), plainDir + "m_orb_res.res");
    EXPECT_EQ(blank.getLinkerFlags(true),
              "-Wl,--format=binary -Wl,\"" + blankDir + "m_orb_bundle.zip\" -Wl,--format=default");
    EXPECT_EQ(blank.getLinkerFlags(false), "\"" + blankDir + "m_orb_res.res\"");
}

TEST(LinkerFamily, ADriverNamingGccOrGxxAnywhereIsGnuStyle) {
    struct Case {
        const char* linker;
        bool gnu;
    } cases[] = {{"/usr/bin/x86_64-linux-gnu-g++-12", true}, {"/opt/gcc-13/bin/driver", true},
                 {"link.exe", false}, {"clang", false}, {"/usr/bin/gfortran", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(orbfile::metadata::names_gnu_linker(c.linker), c.gnu) << c.linker;
        // Off Windows the bundle is linked in as data by every driver.
        EXPECT_TRUE(orbfile::metadata::is_gnu_linker(c.linker)) << c.linker;
    }
}

}  // namespace
