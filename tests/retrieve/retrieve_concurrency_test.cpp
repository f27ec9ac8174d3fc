// Version reads from many threads at once: the manifest stage is serialised, the results are
// those of a single thread, and no bundle stays installed.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "host/bundle.hpp"
#include "host/i18n.hpp"
#include "orbfile/retrieve_version.hpp"
#include "support/bundle_files.hpp"

namespace {

using namespace orbtest;

TEST(RetrieveConcurrency, ThreadsReadTheSameAsOneThread) {
    const fs::path dir = scratchDir();
    struct Target {
        std::u16string path;
        orbfile::RetrieveStatus status;
        unsigned relnum;
        std::u16string strategy;
    };
    const std::vector<Target> targets = {
        {host::i18n::to_ustring(testModule("bundle_appended").string()), orbfile::SUCCESS, 0x2024B, u"2.0"},
        {host::i18n::to_ustring(
             moduleWith(dir, "bundle_plain", compileBundle(orbManifest("\"R2024b\"", "\"800\"", "0"))).string()),
         orbfile::SUCCESS, 0x2018A, u"1.0"},
        {host::i18n::to_ustring(testModule("bundle_noversion").string()), orbfile::NOEVER, 0, u"1.0"},
    };
    const std::size_t before = host::installedBundles().size();
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 30; ++i) {
                const Target& target = targets[(t + i) % targets.size()];
                orbfile::Version version;
                unsigned relnum = 0, apinum = 0;
                const auto status = orbfile::retrieve_version(target.path, version);
                version.get_version(relnum, apinum);
                if (status != target.status || relnum != target.relnum ||
                    version.getVersioningStrategy() != target.strategy) {
                    ++mismatches;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(host::installedBundles().size(), before);
}

}  // namespace
