// The resource compiler as the build runs it: options, the zip it writes (checked with other
// tools: unzip and python3's zipfile), appending to a binary, and exit statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/bundle.hpp"
#include "support/bundle_files.hpp"

namespace {

using namespace orbtest;

ChildResult compile(const std::vector<std::string>& args) { return runChild(resourceCompiler(), args); }

// Entry name, general purpose flags and compression method of each entry, one line each, as
// python3's zipfile reads them.
std::string describeZip(const fs::path& zip) {
    const ChildResult run = runChild("/usr/bin/env", {"python3", "-c",
                                                      "import sys, zipfile\n"
                                                      "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                                                      "    print(i.filename, i.flag_bits & 0x800, i.compress_type, i.file_size)\n",
                                                      zip.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.out;
}

TEST(ResourceCompiler, WritesTheBundleLayout) {
    const fs::path dir = scratchDir();
    writeBytes(dir / "manifest.json", goodManifest());
    const ChildResult run =
        compile({"-m", (dir / "manifest.json").string(), "-n", "orbVersioning", "-o", (dir / "b.zip").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");  // quiet unless asked

    const ChildResult listing = runChild("/usr/bin/env", {"unzip", "-l", (dir / "b.zip").string()});
    ASSERT_EQ(listing.exitCode, 0) << listing.err;
    EXPECT_NE(listing.out.find("orbVersioning/manifest.json"), std::string::npos) << listing.out;
    EXPECT_NE(listing.out.find("orbVersioning/\n"), std::string::npos) << listing.out;
    EXPECT_NE(listing.out.find("2 files"), std::string::npos) << listing.out;

    // UTF-8 names; the manifest deflated, the directory stored with no bytes.
    const std::string entries = describeZip(dir / "b.zip");
    EXPECT_NE(entries.find("orbVersioning/manifest.json 2048 8 "), std::string::npos) << entries;
    EXPECT_NE(entries.find("orbVersioning/ 2048 0 0\n"), std::string::npos) << entries;

    const ChildResult test = runChild("/usr/bin/env", {"unzip", "-t", (dir / "b.zip").string()});
    EXPECT_EQ(test.exitCode, 0) << test.out;
}

TEST(ResourceCompiler, ManifestsAreMergedByTopLevelMember) {
    const fs::path dir = scratchDir();
    writeBytes(dir / "a.json", "{\"bundle.symbolic_name\": \"merged\", \"kv\": {\"orb\": {\"release\": \"R2024b\"}}}");
    writeBytes(dir / "b.json", "{\"extra\": [1, 2.5, true, null], \"Other\": {\"x\": \"y\"}}");
    const ChildResult run = compile({"-m", (dir / "a.json").string(), "--manifest-add", (dir / "b.json").string(),
                                     "-n", "orbVersioning", "-o", (dir / "b.zip").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    auto bundles = host::install((dir / "b.zip").string());
    ASSERT_EQ(bundles.size(), 1u);
    const host::AnyMap& headers = bundles[0].GetHeaders();
    EXPECT_EQ(bundles[0].GetSymbolicName(), "merged");
    EXPECT_EQ(host::any_cast<std::string>(headers.AtCompoundKey("kv.orb.release")), "R2024b");
    EXPECT_EQ(host::any_cast<std::vector<host::Any>>(headers.at("extra")).size(), 4u);
    EXPECT_EQ(host::any_cast<std::string>(headers.AtCompoundKey("other.x")), "y");
    bundles[0].Uninstall();
}

TEST(ResourceCompiler, AppendsToABinaryAndLeavesItsBytesAlone) {
    const fs::path dir = scratchDir();
    writeBytes(dir / "manifest.json", goodManifest());
    const fs::path module = dir / "module.orbw64";
    fs::copy_file(testModule("bundle_plain"), module);
    const std::string before = readBytes(module);

    const ChildResult run = compile({"-m", (dir / "manifest.json").string(), "-n", "orbVersioning", "-b",
                                     module.string(), "-o", (dir / "b.zip").string(), "-V"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find(module.string()), std::string::npos) << "verbose output names the binary: " << run.out;

    const std::string after = readBytes(module);
    const std::string zip = readBytes(dir / "b.zip");
    ASSERT_EQ(after.size(), before.size() + zip.size());
    EXPECT_EQ(after.substr(0, before.size()), before);
    EXPECT_EQ(after.substr(before.size()), zip);  // offsets stay relative to the zip's own start

    const ChildResult listing = runChild("/usr/bin/env", {"unzip", "-l", module.string()});
    EXPECT_NE(listing.out.find("orbVersioning/manifest.json"), std::string::npos) << listing.out << listing.err;
}

TEST(ResourceCompiler, ResourcesZipsAndCompressionLevels) {
    const fs::path dir = scratchDir();
    writeBytes(dir / "manifest.json", goodManifest());
    fs::create_directories(dir / "sub");
    writeBytes(dir / "sub" / "data.txt", std::string(4000, 'd'));
    writeBytes(dir / "tiny.txt", "abc");
    writeBytes(dir / "other.zip", pythonZip({{"other/manifest.json", "{\"bundle.symbolic_name\": \"o\"}"}}));

    // Resources are named as given, relative to the current directory.
    const ChildResult run = runChild("/usr/bin/env", {"sh", "-c",
                                                      "cd \"$1\" && exec \"$0\" -m manifest.json -n orbVersioning "
                                                      "-r sub/data.txt -r tiny.txt -z other.zip -c 9 -o b.zip",
                                                      resourceCompiler(), dir.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string entries = describeZip(dir / "b.zip");
    EXPECT_NE(entries.find("orbVersioning/sub/data.txt 2048 8 4000\n"), std::string::npos) << entries;
    EXPECT_NE(entries.find("orbVersioning/tiny.txt 2048 0 3\n"), std::string::npos) << "3 bytes are stored: " << entries;
    EXPECT_NE(entries.find("orbVersioning/sub/ 2048 0 0\n"), std::string::npos) << entries;
    EXPECT_NE(entries.find("other/manifest.json 2048 8 "), std::string::npos) << entries;
    auto bundles = host::install((dir / "b.zip").string());
    ASSERT_EQ(bundles.size(), 2u);
    for (auto& b : bundles) b.Uninstall();

    const ChildResult stored = compile({"-m", (dir / "manifest.json").string(), "-n", "orbVersioning", "-c", "0", "-o",
                                        (dir / "stored.zip").string()});
    ASSERT_EQ(stored.exitCode, 0) << stored.err;
    EXPECT_NE(describeZip(dir / "stored.zip").find("orbVersioning/manifest.json 2048 0 "), std::string::npos);
}

TEST(ResourceCompiler, ExitStatusesAndMessages) {
    const fs::path dir = scratchDir();
    writeBytes(dir / "good.json", goodManifest());
    writeBytes(dir / "trailing.json", "{\"a\": 1,}");
    writeBytes(dir / "dup.json", "{\"a\": {\"k\": 1, \"k\": 2}}");
    writeBytes(dir / "also_a.json", "{\"a\": 3}");
    writeBytes(dir / "deep.json", "{\"a\": " + std::string(600, '[') + std::string(600, ']') + "}");
    const std::string good = (dir / "good.json").string();
    const std::string out = (dir / "out.zip").string();
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string errStart;  // standard error begins with this
    };
    const Case cases[] = {
        {{"-m", good, "-n", "orbVersioning"}, 1, "Error: "},  // neither -o nor -b
        {{"-m", good, "-o", out}, 1, "Error: "},              // no bundle name
        {{"-m", good, "-n", "a/b", "-o", out}, 1, "Error: "},
        {{"-m", good, "-n", "x", "-o", out, "--no-such-option"}, 1, "Error: "},
        {{"-m", (dir / "missing.json").string(), "-n", "x", "-o", out}, 1, "Error: "},
        {{"-m", good, "-n", "x", "-r", "../outside.txt", "-o", out}, 1, "Error: "},
        {{"-m", (dir / "trailing.json").string(), "-n", "x", "-o", out}, 2,
         "JSON Parsing Error: " + (dir / "trailing.json").string() + ": "},
        {{"-m", (dir / "deep.json").string(), "-n", "x", "-o", out}, 2, "JSON Parsing Error: "},
        {{"-m", (dir / "dup.json").string(), "-n", "x", "-o", out}, 2, "Duplicate key: 'k'"},
        {{"-m", (dir / "dup.json").string(), "-m", (dir / "also_a.json").string(), "-n", "x", "-o", out}, 2,
         "Duplicate key: 'k'"},
        {{"-m", good, "-m", good, "-n", "x", "-o", out}, 2, "Duplicate key: 'bundle.symbolic_name'"},
        {{"-m", good, "-n", "x", "-o", out}, 0, ""},
    };
    for (const auto& c : cases) {
        fs::remove(out);
        const ChildResult run = compile(c.args);
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(run.exitCode, c.exitCode) << joined << "\n" << run.err;
        EXPECT_EQ(run.err.rfind(c.errStart, 0), 0u) << joined << "\n" << run.err;
        // Nothing is written when the run fails.
        if (c.exitCode != 0) {
            EXPECT_FALSE(fs::exists(out)) << joined;
        }
    }
    EXPECT_NE(compile({"--help"}).out.find("--compression-level"), std::string::npos);
}

}  // namespace
