// Printing and assertions, which never consult the callback table. (That the _800 names are the
// same entries is checked with the other exported names in tests/fortran.)
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include <orb.h>

#include "capi/message_ids.hpp"
#include "vhost/ut/output.hpp"

namespace {

using AssertionError = host::MsgIdException<VELTRA::orb::assertion>;

std::string arg(const AssertionError& e, std::size_t i) { return std::get<std::string>(e.args().at(i)); }

TEST(OrbPrintf, WritesToTheCommandWindowAndReturnsTheCount) {
    vhost::OutputCapture capture;
    EXPECT_EQ(orbPrintf("%d%% of %s\n", 50, "it"), 10);
    EXPECT_EQ(capture.text(), "50% of it\n");
}

TEST(OrbPrintAssertion, AnnotatesTheTestText) {
    const std::pair<const char*, const char*> cases[] = {
        {": x > 0,", " (x > 0)"}, {": ", ""},           {"", ""},         {nullptr, ""},
        {": a, b,", " (a, b)"},   {": n > 1,,", " (n > 1,)"}, {"plain", " (plain)"}, {",", ""},
    };
    for (auto [test, annotation] : cases) {
        try {
            orbPrintAssertion(test, "mod.c", 12, "message");
            ADD_FAILURE() << "returned";
        } catch (const AssertionError& e) {
            EXPECT_EQ(arg(e, 0), annotation) << (test ? test : "(null)");
        }
    }
}

TEST(OrbPrintAssertion, CarriesMessagePositionAndStack) {
    try {
        orbPrintAssertion(": ok,", "src/mod.c", 4711, "it broke");
        ADD_FAILURE() << "returned";
    } catch (const AssertionError& e) {
        EXPECT_EQ(e.identifier(), "VELTRA:orb:assertion");
        ASSERT_EQ(e.args().size(), 5u);
        EXPECT_EQ(arg(e, 1), "it broke");
        EXPECT_EQ(arg(e, 2), "src/mod.c");
        EXPECT_EQ(std::get<std::int64_t>(e.args()[3]), 4711);
        EXPECT_FALSE(arg(e, 4).empty());
        EXPECT_NE(e.message().find("it broke"), std::string::npos);  // the catalogue text is filled in
    }
    try {
        orbPrintAssertion(nullptr, nullptr, -1, nullptr);
        ADD_FAILURE() << "returned";
    } catch (const AssertionError& e) {
        EXPECT_EQ(arg(e, 1), "");
        EXPECT_EQ(arg(e, 2), "");
        EXPECT_EQ(std::get<std::int64_t>(e.args()[3]), -1);
    }
}

struct AssertsWhileUnwinding {
    ~AssertsWhileUnwinding() { orbPrintAssertion(": x > 0,", "unwind.c", 7, "second failure"); }
};

TEST(OrbPrintAssertionDeathTest, EndsTheProcessWhileAnErrorUnwinds) {
    EXPECT_DEATH(
        {
            try {
                AssertsWhileUnwinding guard;
                throw std::runtime_error("first failure");
            } catch (...) {
            }
        },
        "Assertion failed \\(x > 0\\)\\.\nsecond failure\n.*unwind\\.c:7");
}

}  // namespace
