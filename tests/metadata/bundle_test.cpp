// The manifest, bundle and Windows resource steps, run with the staged resource compiler.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <regex>
#include <string>

#include <nlohmann/json.hpp>

#include "metadata/metadata_support.hpp"
#include "orbfile/metadata/cppms_bundle.hpp"

namespace {

namespace fs = std::filesystem;
using orbfile::metadata::MetaData;
using orbfile::metadata::Result;

const std::string kTool = mdtest::kStage + "/bin/linux64/usResourceCompiler3";
const std::regex kUuid4("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");

TEST(GenerateBundle, FillsTheTemplateAndPacksTheManifestIntoTheBundle) {
    const fs::path dir = orbtest::scratchDir();
    std::string names[2];
    for (std::string& name : names) {
        const Result result = orbfile::generate_cppms_bundle(MetaData(dir.string(), 730, true), "", "p_", true, false);
        ASSERT_EQ(result.get_status(), 0) << result.get_cmdErr();
        EXPECT_EQ(result.get_cmd(), kTool + " --manifest-add " + result.get_manifestJsonPath() +
                                        " --bundle-name orbVersioning --out-file " + result.get_bundleZipPath() + "\n");
        EXPECT_EQ(orbtest::readBytes(result.get_manifestJsonPath()), result.get_manifestJsonString());
        const auto manifest = nlohmann::json::parse(result.get_manifestJsonString());
        EXPECT_EQ(manifest["kv"]["orb"]["apiVersion"], 730);
        EXPECT_EQ(manifest["kv"]["orb"]["threadpoolSafe"], 1);
        EXPECT_EQ(manifest["kv"]["orb"]["release"], "R2024b");
        name = manifest["bundle.symbolic_name"].get<std::string>();
        EXPECT_TRUE(std::regex_match(name, kUuid4)) << name;

        const auto listing = orbtest::runChild("/usr/bin/env", {"unzip", "-l", result.get_bundleZipPath()});
        EXPECT_NE(listing.out.find("orbVersioning/manifest.json"), std::string::npos) << listing.out << listing.err;
        EXPECT_FALSE(fs::exists(result.get_win64RCPath()));  // no Windows resource asked for
        EXPECT_FALSE(fs::exists(result.get_win64RESPath()));
    }
    EXPECT_NE(names[0], names[1]);  // a fresh name for every bundle
}

TEST(GenerateBundle, DryRunWritesManifestAndScriptButStartsNothing) {
    // Backslashes are doubled in the resource script, and the path stays one quoted string.
    const fs::path dir = orbtest::scratchDir() / "a b\\c";
    fs::create_directories(dir);
    const Result result = orbfile::generate_cppms_bundle(MetaData(dir.string(), 800, false), "rc", "", false, true);
    EXPECT_EQ(result.get_status(), 0);
    EXPECT_TRUE(fs::exists(result.get_manifestJsonPath()));
    EXPECT_FALSE(fs::exists(result.get_bundleZipPath()));
    EXPECT_FALSE(fs::exists(result.get_win64RESPath()));
    EXPECT_EQ(result.get_cmd(), kTool + " --manifest-add " + result.get_manifestJsonPath() +
                                    " --bundle-name orbVersioning --out-file " + result.get_bundleZipPath() + "\nrc /fo " +
                                    result.get_win64RESPath() + " " + result.get_win64RCPath() + "\n");
    std::string doubled = result.get_bundleZipPath();
    doubled.replace(doubled.find('\\'), 1, "\\\\");
    EXPECT_EQ(orbtest::readBytes(result.get_win64RCPath()),
              "#define US_RESOURCE 300\nUS_RESOURCES US_RESOURCE \"" + doubled + "\"\n");
}

TEST(EmbedMetaData, AppendsTheBundleToAnExistingModule) {
    const fs::path dir = orbtest::scratchDir();
    const std::string object = mdtest::compileGain(dir, "-DRY_COMPAT_32");
    const std::string module = (dir / "gain.orbw64").string();
    const auto link = orbtest::runChild("/usr/bin/env", mdtest::linkCommand("gcc", object, module));
    ASSERT_EQ(link.exitCode, 0) << link.err;
    EXPECT_EQ(mdtest::embeddedIn(module).strategy, "1.0");  // nothing embedded yet
    const auto size = fs::file_size(module);

    const MetaData md(dir.string(), 700, false);
    const Result dry = orbfile::embed_cppms_meta_data(module, md, true, true);
    EXPECT_EQ(fs::file_size(module), size);  // a dry run appends nothing
    EXPECT_EQ(dry.get_cmd(), kTool + " --manifest-add " + fs::canonical(dir).string() +
                                 "/gain_manifestorb_manifest.json --bundle-name orbVersioning --bundle-file " + module +
                                 " --verbose\n");

    const Result result = orbfile::embed_cppms_meta_data(module, md, false, false);
    ASSERT_EQ(result.get_status(), 0) << result.get_cmdErr();
    const auto embedded = mdtest::embeddedIn(module);
    EXPECT_EQ(embedded.status, orbfile::SUCCESS);
    EXPECT_EQ(embedded.apiVersion, 700u);
    EXPECT_EQ(embedded.strategy, "2.0");
}

// Runs in a child process whose installation root (fixed when the runtime loads) has a template of
// its own and no resource compiler; skipped when run directly.
TEST(FakeRoot, Child) {
    const char* dir = std::getenv("ORB_METADATA_TEST_DIR");
    if (dir == nullptr) GTEST_SKIP() << "runs only as the child of FakeRoot tests";
    const Result result = orbfile::generate_cppms_bundle(MetaData(dir, 730, true), "", "", true, false);
    std::cout << "<status>" << result.get_status() << "</status><err>" << result.get_cmdErr() << "</err><manifest>"
              << result.get_manifestJsonString() << "</manifest><bundle>" << fs::exists(result.get_bundleZipPath())
              << "</bundle>\n";
}

std::string between(const std::string& text, const std::string& tag) {
    const auto begin = text.find("<" + tag + ">");
    const auto end = text.find("</" + tag + ">");
    if (begin == std::string::npos || end == std::string::npos) return "(missing " + tag + ")";
    return text.substr(begin + tag.size() + 2, end - begin - tag.size() - 2);
}

TEST(FakeRoot, TemplatePlaceholdersAreReplacedOnceAndAMissingResourceCompilerIsReported) {
    const fs::path dir = orbtest::scratchDir();
    fs::create_directories(dir / "root" / "extern" / "version");
    orbtest::writeBytes(dir / "root" / "extern" / "version" / "orbMetadata.json",
                        R"({"n": KV_BUNDLE_SYMBOLIC_NAME, "a": KV_RY_API_VERSION, "b": KV_RY_API_VERSION})");
    const auto child = orbtest::runChild(orbtest::selfExecutable(), {"--gtest_filter=FakeRoot.Child"},
                                         {{"VELTRA_ROOT", (dir / "root").string()},
                                          {"ORB_METADATA_TEST_DIR", dir.string()}});
    ASSERT_EQ(child.exitCode, 0) << child.out << child.err;
    EXPECT_EQ(between(child.out, "status"), "1");
    EXPECT_NE(between(child.out, "err").find("usResourceCompiler3': no such program"), std::string::npos) << child.out;
    EXPECT_EQ(between(child.out, "bundle"), "0");
    // The thread-pool placeholder is missing: that part stays as it was; the second interface
    // placeholder is left alone.
    EXPECT_TRUE(std::regex_match(between(child.out, "manifest"),
                                 std::regex(R"(\{"n": "[-0-9a-f]{36}", "a": 730, "b": KV_RY_API_VERSION\})")))
        << child.out;
}

}  // namespace
