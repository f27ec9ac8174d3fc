// The error and warning services when the host installed none of their callbacks: the library
// validates, formats and raises itself. Its own process, so that no table is ever installed.
#include <functional>
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

TEST(ServicesWithoutSlots, ErrorsAreRaisedWithTheirTextFormattedOnlyWithAnIdentifier) {
    const std::string longText(9000, 'x');
    const struct {
        std::function<void()> raise;
        const char* identifier;
        std::string message;
    } cases[] = {
        {[] { orbErrMsgTxt("100% done, %s %d"); }, "", "100% done, %s %d"},
        {[] { orbErrMsgIdAndTxt("mytoolbox:io:notFound", "%d files, %s", 3, "none read"); }, "mytoolbox:io:notFound",
         "3 files, none read"},
        {[&] { orbErrMsgIdAndTxt("mod:long", "%s", longText.c_str()); }, "mod:long", longText.substr(0, 8191)},
    };
    for (const auto& c : cases) {
        try {
            c.raise();
            ADD_FAILURE() << "returned";
        } catch (const host::UserException& e) {
            EXPECT_EQ(e.identifier(), c.identifier);
            EXPECT_EQ(e.message(), c.message);
        }
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

// Arguments a service would read through are checked before anything else (here no host slot is
// installed, so a service that went on would call nothing): the refusal is an error naming the
// service, never a fault.
TEST(ServicesWithoutSlots, ServicesRefuseListsAndFunctionsTheyCannotUse) {
    using Refused = host::MsgIdException<VELTRA::orbapi::invalidArgument>;
    ryArray* one[1] = {nullptr};
    const struct {
        std::function<void()> call;
        std::string message;
    } cases[] = {
        // (The plain names of the two mapped services reach the _800 entries here, as in a module.)
        {[] { orbCallVELTRA(1, nullptr, 0, nullptr, "f"); }, "orbCallVELTRA_800: the list of outputs is null."},
        {[&] { orbCallVELTRAWithObject(1, one, 2, nullptr, "f"); }, "orbCallVELTRAWithObject: the list of inputs is null."},
        {[&] { orbCallVELTRA_800(-1, one, 0, nullptr, "f"); }, "orbCallVELTRA_800: the count of outputs is negative."},
        {[] { orbCallVELTRAWithTrapWithObject(0, nullptr, 1, nullptr, "f"); },
         "orbCallVELTRAWithTrapWithObject: the list of inputs is null."},
        {[] { orbCallVELTRAWithTrap_800(3, nullptr, 0, nullptr, "f"); },
         "orbCallVELTRAWithTrap_800: the list of outputs is null."},
        {[] { orbCreateSimpleFunctionHandle(nullptr); }, "orbCreateSimpleFunctionHandle: the function is null."},
    };
    for (const auto& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << "returned: " << c.message;
        } catch (const Refused& e) {
            EXPECT_EQ(e.identifier(), "VELTRA:orbapi:invalidArgument");
            EXPECT_EQ(e.message(), c.message);
        }
    }
}

}  // namespace
