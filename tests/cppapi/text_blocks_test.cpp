// Text conversion for C++ modules: results, the error value's two meanings, and the three
// interchangeable ways to give a block back.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
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

// Input that is no text, or nowhere to put the result: error value 1, never a fault. An empty
// block is still handed out when there is somewhere to put it, and the caller releases it.
TEST(TextBlocks, InvalidArgumentsGiveErrorOne) {
    const char16_t loneSurrogate[] = {u'a', char16_t(0xD800), u'b', 0};
    struct Case {
        const char* what;
        std::function<void(void** block, std::uint64_t* error)> convert;
        bool output;  // an output pointer is given
    };
    const Case cases[] = {
        {"invalid UTF-8", [](void** b, std::uint64_t* e) {
             orb_engine_utf8_to_utf16("ok \xC3( broken", reinterpret_cast<char16_t**>(b), e); }, true},
        {"a lone surrogate", [&](void** b, std::uint64_t* e) {
             orb_engine_utf16_to_utf8(loneSurrogate, reinterpret_cast<char**>(b), e); }, true},
        {"no UTF-8 input", [](void** b, std::uint64_t* e) {
             orb_engine_utf8_to_utf16(nullptr, reinterpret_cast<char16_t**>(b), e); }, true},
        {"no UTF-16 input", [](void** b, std::uint64_t* e) {
             orb_engine_utf16_to_utf8(nullptr, reinterpret_cast<char**>(b), e); }, true},
        {"no place for the UTF-16 result", [](void**, std::uint64_t* e) {
             orb_engine_utf8_to_utf16("text", nullptr, e); }, false},
        {"no place for the UTF-8 result", [](void**, std::uint64_t* e) {
             orb_engine_utf16_to_utf8(u"text", nullptr, e); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::uint64_t error = 0;
        void* block = nullptr;
        c.convert(&block, &error);
        EXPECT_EQ(error, 1u);
        ASSERT_EQ(block != nullptr, c.output);
        if (block) EXPECT_EQ(static_cast<const char*>(block)[0], '\0');
        // Any release function takes any block; without an error value the failure is still no fault.
        orbReleaseMemory(block, nullptr);
        block = nullptr;
        c.convert(c.output ? &block : nullptr, nullptr);
        orb_engine_destroy_utf8(block);
    }
    orbReleaseMemory(nullptr, nullptr);
}

}  // namespace
