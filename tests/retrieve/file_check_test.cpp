// The host filesystem questions the file check asks, answered for paths that go wrong in each
// way the platform reports.
#include <gtest/gtest.h>

#include <string>

#include "host/filesystem.hpp"
#include "host/i18n.hpp"
#include "orbfile/retrieve_version.hpp"
#include "support/bundle_files.hpp"

namespace {

using namespace orbtest;
using host::fs::FilesystemError;

TEST(FileCheck, AccessTellsRefusalFromUnanswerableQuestions) {
    const fs::path dir = scratchDir();
    writeBytes(dir / "file", "x");
    fs::create_symlink(dir / "loop_a", dir / "loop_b");
    fs::create_symlink(dir / "loop_b", dir / "loop_a");
    struct Case {
        std::string path;
        int expected;  // 1 yes, 0 no, otherwise the FilesystemError number
    };
    const Case cases[] = {
        {(dir / "file").string(), 1},
        {(dir / "missing").string(), 0},
        {(dir / "loop_a").string(), FilesystemError::kSymlinkLoop},
        {(dir / "file" / "child").string(), FilesystemError::kNotADirectory},
        {(dir / std::string(5000, 'n')).string(), FilesystemError::kNameTooLong},
        {"", FilesystemError::kInvalidPath},
    };
    for (const auto& c : cases) {
        try {
            EXPECT_EQ(host::fs::access(c.path, host::fs::kAccessRead) ? 1 : 0, c.expected) << c.path.substr(0, 80);
        } catch (const FilesystemError& e) {
            EXPECT_EQ(e.number(), c.expected) << c.path.substr(0, 80) << ": " << e.what();
        }
    }
    EXPECT_THROW(host::fs::access((dir / "file").string(), 1), std::invalid_argument);
    EXPECT_TRUE(host::fs::access((dir / "file").string(), host::fs::kAccessExists));
}

TEST(FileCheck, PathsThatNameNothingAreNofile) {
    const fs::path dir = scratchDir();
    fs::create_symlink(dir / "loop_a", dir / "loop_b");
    fs::create_symlink(dir / "loop_b", dir / "loop_a");
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    for (const fs::path& path : {dir / "loop_a", dir / "dangling", dir / std::string(5000, 'n')}) {
        EXPECT_FALSE(host::fs::exists(path.string()));
        EXPECT_EQ(orbfile::check_version_file(host::i18n::to_ustring(path.string())), orbfile::NOFILE);
    }
    EXPECT_THROW(host::fs::nativePath(u"a\xDC00"), FilesystemError);
    EXPECT_EQ(host::fs::absolute("relative/name"), (fs::current_path() / "relative/name").string());
    EXPECT_EQ(host::fs::absolute("/already/absolute"), "/already/absolute");
}

}  // namespace
