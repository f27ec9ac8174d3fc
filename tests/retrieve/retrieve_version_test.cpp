// Reading a module file's version: each status from a real file, the manifest found wherever it
// was put, the fallback to the version function, and proof that the manifest stage runs no
// module code.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "host/bundle.hpp"
#include "host/i18n.hpp"
#include "orbfile/retrieve_version.hpp"
#include "support/bundle_files.hpp"

namespace {

using namespace orbtest;
using orbfile::RetrieveStatus;

struct Read {
    RetrieveStatus status;
    std::string text;
    std::string strategy;
    unsigned relnum = 0;
    unsigned apinum = 0;
};

Read readVersion(const fs::path& path) {
    orbfile::Version version;
    Read r{orbfile::retrieve_version(host::i18n::to_ustring(path.string()), version), "", "", 0, 0};
    r.text = host::i18n::to_string(version.get_version());
    r.strategy = host::i18n::to_string(version.getVersioningStrategy());
    version.get_version(r.relnum, r.apinum);
    return r;
}

// What the two stages give for the test modules (see tests/modules/bundle).
const Read kFromManifest{orbfile::SUCCESS, "R2024b 0x8000000", "2.0", 0x2024B, 0x08000000};
const Read kFromFunction{orbfile::SUCCESS, "R2018a 0x8000000", "1.0", 0x2018A, 0x08000000};

void expectRead(const Read& actual, const Read& expected, const std::string& what) {
    EXPECT_EQ(actual.status, expected.status) << what;
    EXPECT_EQ(actual.text, expected.text) << what;
    EXPECT_EQ(actual.strategy, expected.strategy) << what;
    EXPECT_EQ(actual.relnum, expected.relnum) << what;
    EXPECT_EQ(actual.apinum, expected.apinum) << what;
}

// Every kind of file, with the manifest wherever a build or another tool put it.
TEST(RetrieveVersion, WhatIsReadFromEachKindOfFile) {
    const fs::path dir = scratchDir();
    writeBytes(dir / "notes.txt", "not a library\n");
    const std::string manifest = goodManifest();
    writeBytes(dir / "bundle.zip", compileBundle(manifest));
    const ChildResult objcopy = runChild("/usr/bin/objcopy",
                                         {"--add-section", ".us_resources=" + (dir / "bundle.zip").string(),
                                          testModule("bundle_plain").string(), (dir / "section.orbw64").string()});
    ASSERT_EQ(objcopy.exitCode, 0) << objcopy.err;
    const auto withManifest = [&](const char* release, const char* api, const char* threadpool, const char* file) {
        return moduleWith(dir, "bundle_noversion", compileBundle(orbManifest(release, api, threadpool)), file);
    };
    struct Case {
        const char* what;
        fs::path path;
        Read expected;
    };
    const Case cases[] = {
        {"manifest appended by the build", testModule("bundle_appended"), kFromManifest},
        {"manifest linked in", testModule("bundle_linked"), kFromManifest},
        {"appended by python3 zipfile",
         moduleWith(dir, "bundle_plain", pythonZip({{"orbVersioning/manifest.json", manifest}}), "python.orbw64"),
         kFromManifest},
        {"appended by Info-ZIP zip", moduleWith(dir, "bundle_plain", infoZip(manifest), "infozip.orbw64"), kFromManifest},
        {"an ELF section", dir / "section.orbw64", kFromManifest},
        // Not loadable here at all, so only the manifest can give this result.
        {"a PE resource", fs::path(ORB_SOURCE_DIR) / "tests" / "fixtures" / "bundle" / "pe_bundle.dll", kFromManifest},
        // The manifest's values are taken as they stand; an unknown interface setting reads as
        // interface 0, still a success of the manifest stage.
        {"interface 700", withManifest("\"R2024b\"", "700", "1", "api700.orbw64"),
         {orbfile::SUCCESS, "R2024b 0x7000000", "2.0", 0x2024B, 0x07000000}},
        {"interface 750", withManifest("\"R2024b\"", "750", "0", "api750.orbw64"),
         {orbfile::SUCCESS, "R2024b 0", "2.0", 0x2024B, 0}},
        {"a newer release", withManifest("\"R2025a\"", "800", "7", "r2025a.orbw64"),
         {orbfile::SUCCESS, "R2025a 0x8000000", "2.0", 0x2025A, 0x08000000}},
        {"version function only", testModule("bundle_plain"), kFromFunction},
        {"loadable, no release", testModule("bundle_noversion"), {orbfile::NOEVER, "0 0", "1.0", 0, 0}},
        {"neither library nor manifest", dir / "notes.txt", {orbfile::NOTORB, "0 0", "1.0", 0, 0}},
        {"a directory", dir, {orbfile::NOTORB, "0 0", "1.0", 0, 0}},
    };
    for (const auto& c : cases) expectRead(readVersion(c.path), c.expected, c.what);

    // The checks that fail leave the version as it was.
    for (const auto& [path, status] : {std::pair{std::u16string(), orbfile::NONAME},
                                       std::pair{host::i18n::to_ustring((dir / "missing.orbw64").string()), orbfile::NOFILE},
                                       std::pair{std::u16string(u"bad\xD800path"), orbfile::NOFILE}}) {
        orbfile::Version version(0x2017B, 0x07300000);
        EXPECT_EQ(orbfile::retrieve_version(path, version), status);
        EXPECT_EQ(host::i18n::to_string(version.get_version()), "R2017b 0x7300000");
    }
}

TEST(RetrieveVersion, AnUnreadableFileIsNoread) {
    const fs::path path = scratchDir() / "locked.orbw64";
    fs::copy_file(testModule("bundle_appended"), path);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    // Permissions do not bind root, so the check runs as an ordinary user in a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(100);
        orbfile::Version version;
        ::_exit(orbfile::retrieve_version(host::i18n::to_ustring(path.string()), version));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), orbfile::NOREAD);
    EXPECT_EQ(orbfile::check_version_file(host::i18n::to_ustring(testModule("bundle_plain").string())), orbfile::NOEVER);
}

// A manifest of the wrong shape, or a zip that cannot be read: the version function decides, on a
// module with one, on one without, and on a file that is no library.
TEST(RetrieveVersion, UnusableManifestsFallBackToTheVersionFunction) {
    const fs::path dir = scratchDir();
    writeBytes(dir / "base.txt", "not a library\n");
    const std::string zip = compileBundle(goodManifest());
    std::string badOffset = zip;  // the central directory's offset, in the end record, outside the file
    const std::size_t offsetField = zip.size() - 22 + 16;
    for (int i = 0; i < 4; ++i) badOffset[offsetField + i] = static_cast<char>((0x7FFFFFF0u >> (8 * i)) & 0xFF);
    std::string badData = zip;
    // Inside the compressed manifest, which follows its local header (30 bytes) and name.
    const std::size_t compressed = 30 + std::string("orbVersioning/manifest.json").size() + 3;
    badData[compressed] = static_cast<char>(badData[compressed] ^ 0x55);
    struct Case {
        const char* what;
        std::string zip;
    };
    const Case cases[] = {
        {"interface as a string", compileBundle(orbManifest("\"R2024b\"", "\"800\"", "0"))},
        {"no thread-pool flag", compileBundle(orbManifest("\"R2024b\"", "800", ""))},
        {"no release", compileBundle(orbManifest("", "800", "0"))},
        {"JSON that is not an object", pythonZip({{"orbVersioning/manifest.json", "[\"R2024b\", 800, 0]"}})},
        {"JSON that does not parse", pythonZip({{"orbVersioning/manifest.json", "{\"kv\": {\"orb\": "}})},
        {"no symbolic name", pythonZip({{"orbVersioning/manifest.json", "{\"kv\": {\"orb\": {\"release\": "
                                                                        "\"R2024b\", \"apiVersion\": 800, "
                                                                        "\"threadpoolSafe\": 0}}}"}})},
        {"zip without a bundle", pythonZip({{"manifest.json", goodManifest()}})},
        {"zip cut in its end record", zip.substr(0, zip.size() - 5)},
        {"central directory offset outside the file", badOffset},
        {"damaged compressed data", badData},
    };
    for (const auto& c : cases) {
        expectRead(readVersion(moduleWith(dir, "bundle_plain", c.zip, "plain.orbw64")), kFromFunction, c.what);
        expectRead(readVersion(moduleWith(dir, "bundle_noversion", c.zip, "noversion.orbw64")),
                   {orbfile::NOEVER, "0 0", "1.0", 0, 0}, c.what);
        fs::copy_file(dir / "base.txt", dir / "text.bin", fs::copy_options::overwrite_existing);
        writeBytes(dir / "text.bin", c.zip, /*append=*/true);
        expectRead(readVersion(dir / "text.bin"), {orbfile::NOTORB, "0 0", "1.0", 0, 0}, c.what);
    }
}

TEST(RetrieveVersion, TheManifestStageRunsNoModuleCode) {
    // Loading either module sets its trace variable (a static constructor does).
    const char* manifestTrace = "ORB_BUNDLE_TRACE_APPENDED";
    const char* functionTrace = "ORB_BUNDLE_TRACE_PLAIN";
    ::unsetenv(functionTrace);
    ASSERT_EQ(std::getenv(manifestTrace), nullptr) << "something loaded the module before this test";

    expectRead(readVersion(testModule("bundle_appended")), kFromManifest, "manifest stage");
    EXPECT_EQ(std::getenv(manifestTrace), nullptr) << "the manifest stage ran the module's initialisation";
    EXPECT_EQ(::dlopen(testModule("bundle_appended").c_str(), RTLD_LAZY | RTLD_NOLOAD), nullptr);

    // The same trace does appear when the legacy stage loads a module: the proof can fail.
    expectRead(readVersion(testModule("bundle_plain")), kFromFunction, "legacy stage");
    EXPECT_NE(std::getenv(functionTrace), nullptr);
}

TEST(RetrieveVersion, OrbRetrieveVersionCountsNoeverAsSuccess) {
    const fs::path dir = scratchDir();
    writeBytes(dir / "notes.txt", "x");
    struct Case {
        std::u16string path;
        int result;
        unsigned relnum;
        unsigned apinum;
    };
    const auto u = [](const fs::path& p) { return host::i18n::to_ustring(p.string()); };
    const Case cases[] = {
        {u(testModule("bundle_appended")), 0, 0x2024B, 0x08000000},
        {u(testModule("bundle_plain")), 0, 0x2018A, 0x08000000},
        {u(testModule("bundle_noversion")), 0, 0, 0},
        {u(dir / "notes.txt"), 1, 0, 0},
        {u"", 1, 0, 0},
    };
    for (const auto& c : cases) {
        unsigned relnum = 0xDEAD, apinum = 0xBEEF;  // overwritten whatever happens
        EXPECT_EQ(OrbRetrieveVersion(c.path, relnum, apinum), c.result) << host::i18n::to_string(c.path);
        EXPECT_EQ(relnum, c.relnum) << host::i18n::to_string(c.path);
        EXPECT_EQ(apinum, c.apinum) << host::i18n::to_string(c.path);
    }
}

TEST(RetrieveVersion, InterleavedComplexFollowsTheInterfaceRead) {
    const fs::path dir = scratchDir();
    const fs::path separate =
        moduleWith(dir, "bundle_noversion", compileBundle(orbManifest("\"R2024b\"", "730", "0")), "separate.orbw64");
    const fs::path noRelease =
        moduleWith(dir, "bundle_noversion", compileBundle(orbManifest("\"R0\"", "800", "0")), "norelease.orbw64");
    struct Case {
        fs::path path;
        bool interleaved;
    };
    const Case cases[] = {
        {testModule("bundle_appended"), true},  // manifest: 800
        {testModule("bundle_plain"), true},     // version function: 800
        {separate, false},
        {noRelease, false},  // an interface without a release is not believed
        {dir / "missing.orbw64", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(orbfile::is_interleaved_complex(host::i18n::to_ustring(c.path.string())), c.interleaved) << c.path;
        EXPECT_EQ(orb_file_is_interleaved_complex(c.path.c_str()), c.interleaved ? 1 : 0) << c.path;
    }
    EXPECT_FALSE(orbfile::is_interleaved_complex(std::u16string()));
    EXPECT_EQ(orb_file_is_interleaved_complex(nullptr), 0);
    EXPECT_EQ(orb_file_is_interleaved_complex("\xff\xfe"), 0);
}

TEST(RetrieveVersion, ReadingLeavesNoBundleInstalled) {
    const fs::path dir = scratchDir();
    const std::size_t before = host::installedBundles().size();
    const std::string second = "{\"bundle.symbolic_name\": \"second\"}";
    const fs::path twoBundles = moduleWith(
        dir, "bundle_plain",
        pythonZip({{"orbVersioning/manifest.json", goodManifest()}, {"other/manifest.json", second}}), "two.orbw64");
    const fs::path wrongType =
        moduleWith(dir, "bundle_plain", compileBundle(orbManifest("\"R2024b\"", "\"800\"", "0")), "wrong.orbw64");
    for (int i = 0; i < 3; ++i) {
        expectRead(readVersion(twoBundles), kFromManifest, "the first bundle is the one read");
        expectRead(readVersion(wrongType), kFromFunction, "wrong type");
    }
    EXPECT_EQ(host::installedBundles().size(), before);
}

TEST(RetrieveVersion, TheInstalledTemplateMakesAManifestThatReadsBack) {
    std::string text = readBytes(fs::path(ORB_STAGE_DIR) / "extern" / "version" / "orbMetadata.json");
    // Filled in as the build's manifest step does: first occurrence of each placeholder.
    struct Fill {
        const char* placeholder;
        const char* value;
    };
    for (const Fill& f : {Fill{"KV_BUNDLE_SYMBOLIC_NAME", "\"0b4e0a3c-2f52-4a7e-8f9d-1c2b3a4d5e6f\""},
                          Fill{"KV_RY_API_VERSION", "730"}, Fill{"KV_CPPORB_THREADPOOL_SAFE", "1"}}) {
        const auto at = text.find(f.placeholder);
        ASSERT_NE(at, std::string::npos) << f.placeholder;
        EXPECT_EQ(text.find(f.placeholder, at + 1), std::string::npos) << f.placeholder << " occurs twice";
        text.replace(at, std::string(f.placeholder).size(), f.value);
    }
    const fs::path path = moduleWith(scratchDir(), "bundle_noversion", compileBundle(text));
    expectRead(readVersion(path), {orbfile::SUCCESS, "R2024b 0x7300000", "2.0", 0x2024B, 0x07300000}, "template");
    auto bundles = host::install(path.string());
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(bundles[0].GetSymbolicName(), "0b4e0a3c-2f52-4a7e-8f9d-1c2b3a4d5e6f");
    EXPECT_EQ(host::any_cast<int>(bundles[0].GetHeaders().AtCompoundKey("kv.orb.threadpoolSafe")), 1);
    bundles[0].Uninstall();
}

// Run in a child process with the channel switched on (see the test below); skipped otherwise.
TEST(RetrieveLogChild, ReadsAModuleWithAWrongTypedManifest) {
    const char* target = std::getenv("ORB_RETRIEVE_LOG_TARGET");
    if (target == nullptr) GTEST_SKIP() << "runs only as the child of RetrieveVersion.FailuresAreLoggedOnTheChannel";
    orbfile::Version version;
    EXPECT_EQ(orbfile::retrieve_version(host::i18n::to_ustring(target), version), orbfile::SUCCESS);
}

TEST(RetrieveVersion, FailuresAreLoggedOnTheChannel) {
    const fs::path path =
        moduleWith(scratchDir(), "bundle_plain", compileBundle(orbManifest("\"R2024b\"", "\"800\"", "0")));
    // The variables are set by env(1): Boost.Process's own environment editing reads past the end
    // of shorter names (seen under AddressSanitizer).
    const std::string filter = "--gtest_filter=RetrieveLogChild.*";
    const std::string target = "ORB_RETRIEVE_LOG_TARGET=" + path.string();
    const ChildResult on =
        runChild("/usr/bin/env", {"ORB_LOG=orb::retrieve_version:debug", target, selfExecutable(), filter});
    ASSERT_EQ(on.exitCode, 0) << on.out << on.err;
    EXPECT_NE(on.err.find(" e.what()=any_cast"), std::string::npos) << on.err;

    const ChildResult off = runChild("/usr/bin/env", {"-u", "ORB_LOG", target, selfExecutable(), filter});
    ASSERT_EQ(off.exitCode, 0) << off.out << off.err;
    EXPECT_EQ(off.err.find("e.what()"), std::string::npos) << off.err;
}

}  // namespace
