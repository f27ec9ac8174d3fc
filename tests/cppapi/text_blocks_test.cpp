// Text conversion for C++ modules: results, the error value's two meanings, and the three
// interchangeable ways to give a block back.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "cppapi/text_blocks.hpp"

namespace {

TEST(TextBlocks, ConvertsBothWaysAndLeavesTheErrorValueAloneOnSuccess) {
    const struct {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {{"", u""}, {"plain", u"plain"}, {"gr\xC3\xBC\xC3\x9F" "e", u"gr\u00FC\u00DFe"},
                 {"\xF0\x9F\x98\x80 wide", u"\U0001F600 wide"}};
    for (const auto& c : cases) {
        std::uint64_t error = 77;  // untouched on success
        char16_t* wide = nullptr;
        orb_engine_utf8_to_utf16(c.utf8.c_str(), &wide, &error);
        ASSERT_NE(wide, nullptr) << c.utf8;
        EXPECT_EQ(std::u16string(wide), c.utf16) << c.utf8;
        char* narrow = nullptr;
        orb_engine_utf16_to_utf8(wide, &narrow, &error);
        ASSERT_NE(narrow, nullptr) << c.utf8;
        EXPECT_EQ(std::string(narrow), c.utf8);
        EXPECT_EQ(error, 77u) << c.utf8;
        orb_engine_destroy_utf16(wide);
        orb_engine_destroy_utf8(narrow);
    }
}

TEST(TextBlocks, InvalidInputGivesErrorOneAndAnEmptyBlockTheCallerReleases) {
    std::uint64_t error = 0;
    char16_t* wide = nullptr;
    orb_engine_utf8_to_utf16("ok \xC3( broken", &wide, &error);
    EXPECT_EQ(error, 1u);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide[0], u'\0');

    error = 0;
    char* narrow = nullptr;
    const char16_t loneSurrogate[] = {u'a', char16_t(0xD800), u'b', 0};
    orb_engine_utf16_to_utf8(loneSurrogate, &narrow, &error);
    EXPECT_EQ(error, 1u);
    ASSERT_NE(narrow, nullptr);
    EXPECT_EQ(std::strlen(narrow), 0u);
    // Any release function takes any block.
    orbReleaseMemory(wide, narrow);
    orbReleaseMemory(nullptr, nullptr);
}

TEST(TextBlocks, TheTwoDestroyFunctionsAreOneEntry) {
    EXPECT_EQ(reinterpret_cast<void*>(&orb_engine_destroy_utf8), reinterpret_cast<void*>(&orb_engine_destroy_utf16));
}

}  // namespace
