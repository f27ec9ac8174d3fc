// Shared by the build-time metadata tests: compiling the test module, the link command for it,
// reading back what a built module embeds, and listing what a build left in a folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "host/i18n.hpp"
#include "orbfile/retrieve_version.hpp"
#include "orbfile/version.hpp"
#include "support/bundle_files.hpp"
#include "support/run_child.hpp"

namespace mdtest {

namespace fs = std::filesystem;

inline const std::string kStage = ORB_STAGE_DIR;
inline const fs::path kModuleSources = fs::path(ORB_SOURCE_DIR) / "tests" / "modules" / "metadata";

// gain.c compiled for one generation into `dir`; empty (with a test failure) when it does not compile.
inline std::string compileGain(const fs::path& dir, const std::string& macro) {
    const std::string object = (dir / "gain.o").string();
    const auto result = orbtest::runChild("/usr/bin/env", {"gcc", "-c", "-fPIC", "-fexceptions", "-I" + kStage + "/include",
                                                           macro, (kModuleSources / "gain.c").string(), "-o", object});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.exitCode == 0 ? object : std::string();
}

// A link of `object` into `output`; the output option "-o" stands at index 3.
inline std::vector<std::string> linkCommand(const std::string& linker, const std::string& object,
                                            const std::string& output) {
    return {linker, "-shared", object, "-o", output, "-L" + kStage + "/lib", "-lorb", "-lvhost"};
}
inline constexpr int kOutputIndex = 3;

struct Embedded {
    orbfile::RetrieveStatus status;
    unsigned apiVersion;  // as a build setting: 700, 730, 800 (0 for none)
    std::string strategy;
};

// What the module at `path` embeds, read as the loader reads it.
inline Embedded embeddedIn(const fs::path& path) {
    orbfile::Version version;
    const auto status = orbfile::retrieve_version(host::i18n::to_ustring(path.string()), version);
    unsigned relnum = 0;
    unsigned apinum = 0;
    version.get_version(relnum, apinum);
    return {status, (apinum >> 24) * 100 + ((apinum >> 20) & 0xF) * 10, host::i18n::to_string(version.getVersioningStrategy())};
}

// The names in `dir`, sorted.
inline std::vector<std::string> filesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace mdtest
