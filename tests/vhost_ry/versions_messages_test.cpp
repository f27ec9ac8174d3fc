// Interface generations, errors and warnings.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <set>
#include <string>

#include "host/exceptions.hpp"
#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "vhost/ry/warnings.hpp"
#include "vhost/ut/output.hpp"

namespace {

struct VersionCase {
    std::uint32_t apinum;
    bool interleaved, bits64, current, compatible;
};

class VersionTable : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionTable, PredicatesAnswerPerGeneration) {
    const VersionCase& c = GetParam();
    EXPECT_EQ(host::is_interleaved_complex_version(c.apinum), c.interleaved);
    EXPECT_EQ(host::is_64bit_version(c.apinum), c.bits64);
    EXPECT_EQ(host::is_current_version(c.apinum), c.current);
    EXPECT_EQ(host::is_compatible_version(c.apinum), c.compatible);
}

INSTANTIATE_TEST_SUITE_P(Generations, VersionTable,
                         ::testing::Values(VersionCase{0x07000000, false, false, false, true},
                                           VersionCase{0x07300000, false, true, false, true},
                                           VersionCase{0x08000000, true, true, true, true},
                                           VersionCase{0, false, false, false, false},
                                           VersionCase{0x08000001, false, false, false, false},
                                           VersionCase{0x09000000, false, false, false, false}));

TEST(VersionNames, EachGenerationHasItsOwnNameAndTheCurrentOneIsR2018a) {
    std::set<std::u16string> names;
    for (std::uint32_t v : {0x07000000u, 0x07300000u, 0x08000000u}) names.insert(host::get_version_name(v));
    EXPECT_EQ(names.size(), 3u);
    EXPECT_EQ(std::u16string(host::get_current_version_name()), host::get_version_name(0x08000000));
    EXPECT_NE(std::u16string(host::get_version_name(0x08000000)).find(u"interleaved"), std::u16string::npos);
    EXPECT_NE(std::u16string(host::get_version_name(0x07000000)).find(u"32-bit"), std::u16string::npos);
}

TEST(VersionNames, UnknownNumbersSaySoNameTheNumberAndStayValid) {
    const char16_t* first = host::get_version_name(0x12345678);
    const std::u16string text = first;
    EXPECT_NE(text.find(u"unknown"), std::u16string::npos);
    EXPECT_NE(text.find(u"0x12345678"), std::u16string::npos);
    host::get_version_name(0x0BADBEEF);
    EXPECT_EQ(host::get_version_name(0x12345678), first);  // the same, still valid pointer
    EXPECT_EQ(std::u16string(first), text);
}

TEST(Errors, RaiseASimpleExceptionWithTheFormattedText) {
    try {
        host::ryErrMsgIdAndTxt("test:fmt:example", "%d apples and %s", 3, "pears");
        FAIL() << "returned";
    } catch (const host::SimpleException& e) {
        EXPECT_EQ(e.identifier(), "test:fmt:example");
        EXPECT_EQ(e.message(), "3 apples and pears");
    }
    try {
        host::ryErrMsgIdAndTxt(nullptr, "no identifier");
    } catch (const host::SimpleException& e) {
        EXPECT_EQ(e.identifier(), "");
        EXPECT_EQ(e.message(), "no identifier");
    }
    const std::string longText(20000, 'x');  // cut to the formatter's capacity
    try {
        host::ryErrMsgIdAndTxt("a:b", "%s", longText.c_str());
    } catch (const host::SimpleException& e) {
        EXPECT_EQ(e.message().size(), 8191u);
    }
}

TEST(Errors, ArgumentCountErrorsCarryTheirIdentifiersAndCatalogueTexts) {
    struct Case {
        void (*raise)();
        const char* identifier;
    } cases[] = {{host::error_maxlhs, "VELTRA:maxlhs"}, {host::error_maxrhs, "VELTRA:maxrhs"}, {host::error_minrhs, "VELTRA:minrhs"}};
    for (const Case& c : cases) {
        try {
            c.raise();
            ADD_FAILURE() << c.identifier << " returned";
        } catch (const host::UserException& e) {
            EXPECT_EQ(e.identifier(), c.identifier);
            EXPECT_TRUE(host::i18n::has_message(c.identifier)) << c.identifier;
            EXPECT_EQ(e.message(), host::i18n::to_string(host::i18n::get_message(c.identifier)));
        }
    }
}

// Every error the array library raises names a catalogue text: scan its sources for the
// mnemonics it raises.
TEST(Errors, EveryRaisedIdentifierHasACatalogueText) {
    const std::regex raised(R"re(raise\("(\w+)")re");
    std::set<std::string> mnemonics;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(ORB_SOURCE_DIR) + "/vhost/ry")) {
        std::ifstream file(entry.path());
        std::stringstream text;
        text << file.rdbuf();
        const std::string source = text.str();
        for (std::sregex_iterator m(source.begin(), source.end(), raised), end; m != end; ++m)
            mnemonics.insert((*m)[1].str());
    }
    EXPECT_GE(mnemonics.size(), 10u);
    for (const std::string& mnemonic : mnemonics)
        EXPECT_TRUE(host::i18n::has_message("VELTRA:ry:" + mnemonic)) << mnemonic;
    EXPECT_TRUE(host::i18n::has_message("VELTRA:ry:outOfMemory"));
}

TEST(Warnings, ArePrintedAndRecordedInOrder) {
    vhost::ry::clearWarnings();
    vhost::OutputCapture output;
    host::ryWarningMsgIdAndTxt("test:w:first", "value %d is odd", 7);
    host::ryWarningMsgIdAndTxt(nullptr, "plain");
    host::ryWarningMsgId(host::MessageIdException("VELTRA", "maxrhs", {}));
    const std::string catalogued = host::i18n::to_string(host::i18n::get_message("VELTRA:maxrhs"));
    EXPECT_EQ(output.text(), "Warning: value 7 is odd\nWarning: plain\nWarning: " + catalogued + "\n");
    const std::vector<vhost::ry::RecordedWarning> expected{
        {"test:w:first", "value 7 is odd"}, {"", "plain"}, {"VELTRA:maxrhs", catalogued}};
    EXPECT_EQ(vhost::ry::takeWarnings(), expected);
    EXPECT_TRUE(vhost::ry::recordedWarnings().empty());
    host::ryWarningMsgIdAndTxt("a:b", "%s", "100% %d");  // arguments are not reinterpreted
    EXPECT_EQ(output.text().substr(output.text().rfind("Warning:")), "Warning: 100% %d\n");
    vhost::ry::clearWarnings();
}

}  // namespace
