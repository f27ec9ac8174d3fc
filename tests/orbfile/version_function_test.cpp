// Reading the version function of a loaded module: which spelling wins, what a module without
// one reports, and that the outputs start at 0.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/i18n.hpp"
#include "host/ut.hpp"
#include "orbfile/version_function.hpp"

namespace {

// A module built for this test, loaded for the life of one test.
class LoadedModule {
public:
    explicit LoadedModule(const std::string& name)
        : m_path(std::string(ORB_TEST_MODULE_DIR) + "/" + name + ".orbw64"),
          m_handle(host::utLoadLibrary(host::i18n::to_ustring(m_path))) {}
    ~LoadedModule() { host::utUnloadLibrary(m_handle); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    void* handle() const { return m_handle; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    void* m_handle;
};

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
        const LoadedModule module(c.module);
        ASSERT_NE(module.handle(), nullptr) << module.path() << ": " << host::i18n::to_string(host::utLastLibraryError_u());

        std::uint32_t relnum = 0xDEAD;  // garbage the reader must not pass on
        std::uint32_t apinum = 0xBEEF;
        EXPECT_EQ(orbfile::readModuleVersionFunction(module.handle(), relnum, apinum), c.found) << c.module;
        EXPECT_EQ(relnum, c.relnum) << c.module;
        EXPECT_EQ(apinum, c.apinum) << c.module;
        EXPECT_EQ(orbfile::findVersionFunction(module.handle()) != nullptr, c.found) << c.module;
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
