// Installing the bundles of a file: one per top-level directory, manifests as headers, what is
// refused, and the installed set.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/bundle.hpp"
#include "support/bundle_files.hpp"

namespace {

using namespace orbtest;
using host::any_cast;

std::string manifestNamed(const std::string& symbolicName) {
    return "{\"bundle.symbolic_name\": \"" + symbolicName + "\", \"kv\": {\"orb\": {\"release\": \"R2024b\"}}}";
}

bool isInstalled(long id) {
    const auto all = host::installedBundles();
    return std::any_of(all.begin(), all.end(), [id](const host::Bundle& b) { return b.GetBundleId() == id; });
}

TEST(BundleInstall, TheManifestBecomesTheHeadersReadableAfterTheOneUninstall) {
    const fs::path module = moduleWith(scratchDir(), "bundle_plain", compileBundle(goodManifest()));
    auto bundles = host::install(module.string());
    ASSERT_EQ(bundles.size(), 1u);
    host::Bundle& bundle = bundles[0];
    EXPECT_EQ(bundle.GetName(), "orbVersioning");
    EXPECT_EQ(bundle.GetSymbolicName(), "orb-test");
    EXPECT_EQ(bundle.GetLocation(), module.string());
    EXPECT_EQ(bundle.GetState(), host::Bundle::STATE_INSTALLED);
    const host::AnyMap headers = bundle.GetHeaders();
    EXPECT_EQ(any_cast<std::string>(headers.AtCompoundKey("kv.orb.release")), "R2024b");
    EXPECT_EQ(any_cast<int>(headers.AtCompoundKey("kv.orb.apiVersion")), 800);
    EXPECT_EQ(any_cast<int>(headers.AtCompoundKey("kv.orb.threadpoolSafe")), 0);

    // Uninstalled, the headers stay readable through any handle; it happens once.
    host::Bundle copy = bundle;
    const long id = copy.GetBundleId();
    EXPECT_TRUE(isInstalled(id));
    bundle.Uninstall();
    EXPECT_FALSE(isInstalled(id));
    EXPECT_EQ(copy.GetState(), host::Bundle::STATE_UNINSTALLED);
    EXPECT_EQ(any_cast<std::string>(copy.GetHeaders().AtCompoundKey("kv.orb.release")), "R2024b");
    EXPECT_THROW(copy.Uninstall(), std::logic_error);

    // Installing the same file again makes a new bundle.
    auto again = host::install(module.string());
    ASSERT_EQ(again.size(), 1u);
    EXPECT_GT(again[0].GetBundleId(), id);
    again[0].Uninstall();

    const host::Bundle none;
    EXPECT_FALSE(none);
    EXPECT_THROW(none.GetHeaders(), std::invalid_argument);
}

TEST(BundleInstall, OneBundlePerTopLevelDirectoryInOrder) {
    const std::string zip = pythonZip({
        {"second/manifest.json", manifestNamed("b")},
        {"loose.txt", "belongs to no bundle"},
        {"first/manifest.json", manifestNamed("a")},
        {"second/data/nested.txt", "more of the second bundle"},
    });
    auto bundles = host::install(moduleWith(scratchDir(), "bundle_plain", zip).string());
    ASSERT_EQ(bundles.size(), 2u);
    EXPECT_EQ(bundles[0].GetName(), "second");
    EXPECT_EQ(bundles[0].GetSymbolicName(), "b");
    EXPECT_EQ(bundles[1].GetName(), "first");
    EXPECT_EQ(bundles[1].GetSymbolicName(), "a");
    EXPECT_NE(bundles[0].GetBundleId(), bundles[1].GetBundleId());
    for (auto& b : bundles) b.Uninstall();
}

TEST(BundleInstall, FilesWithoutBundlesGiveNone) {
    const fs::path dir = scratchDir();
    writeBytes(dir / "text.txt", "no zip here\n");
    writeBytes(dir / "empty.bin", "");
    const fs::path looseOnly = moduleWith(dir, "bundle_plain", pythonZip({{"loose.txt", "x"}}), "loose.orbw64");
    for (const fs::path& path : {fs::path(dir / "text.txt"), fs::path(dir / "empty.bin"), testModule("bundle_plain"),
                                 looseOnly}) {
        EXPECT_TRUE(host::install(path.string()).empty()) << path;
    }
}

TEST(BundleInstall, InvalidBundlesAreRefusedAndNothingIsInstalled) {
    const fs::path dir = scratchDir();
    struct Case {
        std::string what;
        std::string zip;
    };
    std::vector<Case> cases = {
        {"no manifest", pythonZip({{"orbVersioning/other.txt", "x"}})},
        {"one good bundle and one without a manifest",
         pythonZip({{"good/manifest.json", manifestNamed("g")}, {"bad/readme", "x"}})},
        {"manifest not JSON", pythonZip({{"b/manifest.json", "{\"bundle.symbolic_name\": "}})},
        {"no symbolic name", pythonZip({{"b/manifest.json", "{\"kv\": 1}"}})},
        {"empty symbolic name", pythonZip({{"b/manifest.json", manifestNamed("")}})},
        {"manifest too large",
         compileBundle("{\"bundle.symbolic_name\": \"x\", \"pad\": \"" + std::string(2 * 1024 * 1024, ' ') + "\"}",
                       "b")},
    };
    // Damaged entry data: the manifest's compressed bytes follow its local header and name.
    const std::string good = compileBundle(goodManifest());
    const std::size_t data = 30 + std::string("orbVersioning/manifest.json").size();
    for (std::size_t at = data; at < data + 8; ++at) {
        std::string damaged = good;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
        cases.push_back({"damaged data byte " + std::to_string(at), damaged});
    }
    for (const auto& c : cases) {
        const std::size_t before = host::installedBundles().size();
        const fs::path module = moduleWith(dir, "bundle_plain", c.zip);
        EXPECT_THROW(host::install(module.string()), std::runtime_error) << c.what;
        EXPECT_EQ(host::installedBundles().size(), before) << c.what;
    }
    EXPECT_THROW(host::install((dir / "missing.orbw64").string()), std::runtime_error);
    EXPECT_THROW(host::install(dir.string()), std::runtime_error);  // a directory
}

}  // namespace
