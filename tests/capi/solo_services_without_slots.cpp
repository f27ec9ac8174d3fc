// The error and warning services when the host installed none of their callbacks: the library
// validates, formats and raises itself. Its own process, so that no table is ever installed.
#include <string>

#include <gtest/gtest.h>

#include <orb.h>

#include "capi/message_ids.hpp"
#include "vhost/ry/warnings.hpp"
#include "vhost/ut/output.hpp"

namespace {

using InvalidError = host::MsgIdException<VELTRA::orbapi::invalidErrorIdentifier>;
using InvalidWarning = host::MsgIdException<VELTRA::orbapi::invalidWarningIdentifier>;

const char* const kInvalidIdentifiers[] = {nullptr, "", "noComponents", "a::b", ":a:b", "a:b:", "1a:b", "a b:c"};

TEST(ServicesWithoutSlots, ErrorTextIsShownVerbatim) {
    try {
        orbErrMsgTxt("100% done, %s %d");
        ADD_FAILURE() << "returned";
    } catch (const host::UserException& e) {
        EXPECT_EQ(e.message(), "100% done, %s %d");
        EXPECT_EQ(e.identifier(), "");
    }
}

TEST(ServicesWithoutSlots, ErrorWithIdentifierIsFormatted) {
    try {
        orbErrMsgIdAndTxt("mytoolbox:io:notFound", "%d files, %s", 3, "none read");
        ADD_FAILURE() << "returned";
    } catch (const host::SimpleException& e) {
        EXPECT_EQ(e.identifier(), "mytoolbox:io:notFound");
        EXPECT_EQ(e.message(), "3 files, none read");
    }
}

TEST(ServicesWithoutSlots, LongErrorTextIsCutTo8191Characters) {
    const std::string text(9000, 'x');
    try {
        orbErrMsgIdAndTxt("mod:long", "%s", text.c_str());
        ADD_FAILURE() << "returned";
    } catch (const host::SimpleException& e) {
        EXPECT_EQ(e.message(), text.substr(0, 8191));
    }
}

TEST(ServicesWithoutSlots, InvalidIdentifiersRaiseTheLibrarysErrors) {
    for (const char* id : kInvalidIdentifiers) {
        SCOPED_TRACE(id ? id : "(null)");
        vhost::ry::clearWarnings();
        EXPECT_THROW(orbErrMsgIdAndTxt(id, "module text %d", 1), InvalidError);
        // An invalid warning identifier is an error, not a warning.
        EXPECT_THROW(orbWarnMsgIdAndTxt(id, "module text %d", 1), InvalidWarning);
        EXPECT_TRUE(vhost::ry::recordedWarnings().empty());
    }
    try {
        orbErrMsgIdAndTxt("bad", "module text");
    } catch (const InvalidError& e) {
        EXPECT_EQ(e.identifier(), "VELTRA:orbapi:invalidErrorIdentifier");
        EXPECT_EQ(e.message().find("module text"), std::string::npos);  // the caller's text is dropped
    }
}

TEST(ServicesWithoutSlots, WarningsAreIssuedAndReturn) {
    vhost::ry::clearWarnings();
    vhost::OutputCapture capture;
    orbWarnMsgTxt("50% left %s");
    orbWarnMsgIdAndTxt("mytoolbox:slow", "took %d s", 12);
    const std::vector<vhost::ry::RecordedWarning> expected = {{"", "50% left %s"}, {"mytoolbox:slow", "took 12 s"}};
    EXPECT_EQ(vhost::ry::recordedWarnings(), expected);
    EXPECT_NE(capture.text().find("Warning: 50% left %s"), std::string::npos);
}

}  // namespace
