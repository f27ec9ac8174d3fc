// Reading the version function of a loaded module: which spelling wins, what a module without
// one reports, and that the outputs start at 0.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/i18n.hpp"
#include "host/ut.hpp"
#include "orbfile/version_function.hpp"

namespace {

TEST(VersionFunction, FirstSpellingFoundWins) {
    struct Case {
        const char* module;
        bool found;
        std::uint32_t relnum;
        std::uint32_t apinum;
    };
    // Each spelling in the test modules reports its own version: lower case R2018a/800, upper
    // case R2017b/730, trailing underscore R2016b/700.
    const Case cases[] = {
        {"versionfn_all", true, 0x2018A, 0x08000000},
        {"versionfn_upper_underscore", true, 0x2017B, 0x07300000},
        {"versionfn_underscore", true, 0x2016B, 0x07000000},
        {"versionfn_none", false, 0, 0},
        {"versionfn_silent", true, 0, 0},  // declares one but writes nothing
    };
    for (const auto& c : cases) {
        void* const handle = host::utLoadLibrary(host::i18n::to_ustring(std::string(ORB_TEST_MODULE_DIR) + "/" + c.module + ".orbw64"));
        ASSERT_NE(handle, nullptr) << c.module << ": " << host::i18n::to_string(host::utLastLibraryError_u());
        std::uint32_t relnum = 0xDEAD;  // garbage the reader must not pass on
        std::uint32_t apinum = 0xBEEF;
        EXPECT_EQ(orbfile::readModuleVersionFunction(handle, relnum, apinum), c.found) << c.module;
        EXPECT_EQ(relnum, c.relnum) << c.module;
        EXPECT_EQ(apinum, c.apinum) << c.module;
        EXPECT_EQ(orbfile::findVersionFunction(handle) != nullptr, c.found) << c.module;
        host::utUnloadLibrary(handle);
    }
}

TEST(VersionFunction, NullHandleReportsNothing) {
    std::uint32_t relnum = 5;
    std::uint32_t apinum = 5;
    EXPECT_FALSE(orbfile::readModuleVersionFunction(nullptr, relnum, apinum));
    EXPECT_EQ(relnum, 0u);
    EXPECT_EQ(apinum, 0u);
    EXPECT_EQ(orbfile::findVersionFunction(nullptr), nullptr);
}

}  // namespace
