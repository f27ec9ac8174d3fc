// The message catalogue and UTF-8 / UTF-16 conversion.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <string>

#include "host/exceptions.hpp"
#include "host/i18n.hpp"
#include "host/ut.hpp"
#include "support/files.hpp"
#include "vhost/i18n/catalogue.hpp"
#include "vhost/i18n/conversion.hpp"

namespace {

namespace fs = std::filesystem;
using host::MessageArg;

struct FormatCase {
    std::u16string text;
    std::vector<MessageArg> args;
    std::u16string expected;
};

TEST(CatalogueFormat, FillsPositionalPlaceholders) {
    const FormatCase cases[] = {
        {u"{0} then {1}", {std::string("a"), std::string("b")}, u"a then b"},
        {u"{1} before {0}, {1} again", {std::string("x"), std::u16string(u"y")}, u"y before x, y again"},
        {u"n={0} u={1}", {std::int64_t{-12}, std::uint64_t{18446744073709551615ull}}, u"n=-12 u=18446744073709551615"},
        {u"{0} {1} {2}", {0.1, 1e21, 2.0}, u"0.1 1e+21 2"},
        {u"missing {2} and {0}", {std::string("zero")}, u"missing {2} and zero"},
        {u"not placeholders: {} {x} {0 {-1} {", {std::string("A")}, u"not placeholders: {} {x} {0 {-1} {"},
        {u"{00} {10}", {std::string("a")}, u"a {10}"},
        {u"huge {99999999999999999999999}", {std::string("a")}, u"huge {99999999999999999999999}"},
        {u"{0}", {std::string("bad \xff byte")}, u"bad \uFFFD byte"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vhost::i18n::formatMessage(c.text, c.args), c.expected)
            << vhost::i18n::toUtf8Lenient(c.text);
    }
}

class CatalogueFiles : public ::testing::Test {
protected:
    void write(const std::string& name, const std::string& content) { orbtest::writeBytes(m_dir / name, content); }
    const fs::path m_dir = orbtest::scratchDir();
};

TEST_F(CatalogueFiles, ReadsEveryJsonFileAndReportsTheBrokenOnes) {
    write("a.json", R"({"C:one": "One {0}.", "C:dup": "first"})");
    write("b.json", R"({"C:two": "Two \u00e9.", "C:dup": "second", "C:num": 3})");
    write("c.json", R"({"C:three": "unterminated)");
    write("d.json", R"(["not", "an", "object"])");
    write("e.txt", R"({"C:ignored": "not json by name"})");
    auto catalogue = vhost::i18n::Catalogue::load(m_dir);
    EXPECT_EQ(catalogue.find("C:one"), u"One {0}.");
    EXPECT_EQ(catalogue.find("C:two"), u"Two \u00e9.");
    EXPECT_EQ(catalogue.find("C:dup"), u"first");
    EXPECT_FALSE(catalogue.find("C:num"));
    EXPECT_FALSE(catalogue.find("C:three"));
    EXPECT_FALSE(catalogue.find("C:ignored"));
    EXPECT_EQ(catalogue.size(), 3u);

    std::string problems;
    for (const auto& p : catalogue.problems()) problems += p + "\n";
    EXPECT_EQ(catalogue.problems().size(), 4u) << problems;
    for (const char* expected : {"C:dup is already defined", "C:num is not a string", "c.json: not a JSON object",
                                 "d.json: not a JSON object"}) {
        EXPECT_NE(problems.find(expected), std::string::npos) << expected << "\n" << problems;
    }
    auto absent = vhost::i18n::Catalogue::load(m_dir / "absent");  // a problem, not a crash
    EXPECT_EQ(absent.size(), 0u);
    EXPECT_EQ(absent.problems().size(), 1u);
}

TEST(ProcessCatalogue, AnUnknownIdentifierIsNamedInTheText) {
    EXPECT_TRUE(host::i18n::has_message("VELTRA:storage:recordNotFound"));
    EXPECT_FALSE(host::i18n::has_message("Nobody:knows"));
    EXPECT_NE(host::i18n::get_message("Nobody:knows").find(u"Nobody:knows"), std::u16string::npos);
}

TEST(ProcessCatalogue, EveryTextOfTheHostHasAValidIdentifier) {
    auto catalogue = vhost::i18n::Catalogue::load(fs::path(ORB_SOURCE_DIR) / "resources" / "messages");
    EXPECT_TRUE(catalogue.problems().empty());
    std::ifstream in(fs::path(ORB_SOURCE_DIR) / "resources" / "messages" / "vhost.json");
    std::string line;
    int identifiers = 0;
    while (std::getline(in, line)) {
        auto open = line.find('"');
        if (open == std::string::npos) continue;
        auto identifier = line.substr(open + 1, line.find('"', open + 1) - open - 1);
        EXPECT_TRUE(host::utIsValidMessageIdentifier(identifier.c_str())) << identifier;
        ++identifiers;
    }
    EXPECT_GT(identifiers, 0);
}

struct RoundTrip {
    std::string utf8;
    std::u16string utf16;
};

TEST(Conversion, RoundTripsValidText) {
    const RoundTrip cases[] = {
        {"", u""},
        {"caf\xc3\xa9", u"caf\u00e9"},
        {"\xf0\x9f\x99\x82", u"\U0001F642"},
        {"\xef\xbf\xbf", u"\uFFFF"},
        {"\xf4\x8f\xbf\xbf", u"\U0010FFFF"},
        {std::string("nul\0inside", 10), std::u16string(u"nul\0inside", 10)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(host::i18n::to_ustring(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(host::i18n::to_string(c.utf16), c.utf8) << c.utf8;
    }
}

TEST(Conversion, RejectsMalformedUtf8AndUnpairedSurrogates) {
    const std::string utf8[] = {
        "\xff",                  // never a UTF-8 byte
        "abc\x80",               // lone continuation byte
        "\xc3",                  // truncated two-byte sequence
        "\xc0\xaf",              // overlong '/'
        "\xed\xa0\x80",          // an encoded surrogate
        "\xf4\x90\x80\x80",      // beyond U+10FFFF
    };
    const std::u16string utf16[] = {
        std::u16string(1, char16_t(0xD800)),
        u"a" + std::u16string(1, char16_t(0xD83D)) + u"b",
        std::u16string{char16_t(0xDE42), char16_t(0xD83D)},  // a pair in the wrong order
    };
    std::vector<std::pair<std::string, std::function<void()>>> cases;
    for (const auto& c : utf8) cases.emplace_back("UTF-8 '" + c + "'", [&c] { host::i18n::to_ustring(c); });
    for (const auto& c : utf16) cases.emplace_back("UTF-16 of " + std::to_string(c.size()), [&c] { host::i18n::to_string(c); });
    for (const auto& [what, convert] : cases) {
        try {
            convert();
            ADD_FAILURE() << what << " was accepted";
        } catch (const host::UserException& error) {
            EXPECT_EQ(error.identifier(), "VELTRA:i18n:invalidText") << what;
        }
    }
}

TEST(Conversion, LenientFormsReplaceEachBadSequence) {
    EXPECT_EQ(vhost::i18n::toUtf16Lenient("a\xff" "b\xc3"), u"a\uFFFDb\uFFFD");
    EXPECT_EQ(vhost::i18n::toUtf8Lenient(u"x" + std::u16string(1, char16_t(0xDC00)) + u"y"), "x\xef\xbf\xbdy");
    std::string out;
    EXPECT_FALSE(vhost::i18n::tryToUtf8(std::u16string(1, char16_t(0xD800)), out));
    EXPECT_TRUE(vhost::i18n::tryToUtf8(u"\u00e9", out));
    EXPECT_EQ(out, "\xc3\xa9");
}

}  // namespace
