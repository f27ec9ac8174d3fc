// The host's exception family, the legacy error path, interrupts and the fatal exit.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "host/exceptions.hpp"
#include "host/ut.hpp"
#include "vhost/engine/engine.hpp"
#include "vhost/foundation/last_error.hpp"

namespace VELTRA::storage {
struct recordNotFound {
    static constexpr const char* component = "VELTRA:storage";
    static constexpr const char* mnemonic = "recordNotFound";
};
}  // namespace VELTRA::storage

namespace {

// Which of the family a caught error really is.
template <class E>
std::string kindAfterRethrow(const E& error) {
    try {
        error.rethrow();
    } catch (const host::MsgIdException<VELTRA::storage::recordNotFound>&) {
        return "typed";
    } catch (const host::FatalException&) {
        return "fatal";
    } catch (const host::MessageIdException&) {
        return "messageId";
    } catch (const host::SimpleException&) {
        return "simple";
    } catch (const host::UserException&) {
        return "user";
    }
    return "none";
}

TEST(UserExceptions, CloneAndRethrowKeepTheDynamicType) {
    host::UserException user("a:b", "user text");
    host::SimpleException simple("c:d", "simple text");
    host::MessageIdException messageId("VELTRA:storage", "recordNotFound", {std::string("T"), std::uint64_t{1}});
    host::MsgIdException<VELTRA::storage::recordNotFound> typed(std::string("T"), std::uint64_t{2});
    host::FatalException fatal(SIGSEGV);

    const struct {
        const host::UserException* error;
        const char* kind;
    } cases[] = {{&user, "user"}, {&simple, "simple"}, {&messageId, "messageId"}, {&typed, "typed"}, {&fatal, "fatal"}};
    for (const auto& c : cases) {
        EXPECT_EQ(kindAfterRethrow(*c.error), c.kind);
        auto copy = c.error->clone();
        EXPECT_EQ(kindAfterRethrow(*copy), c.kind) << "clone of " << c.kind;
        EXPECT_EQ(copy->identifier(), c.error->identifier());
        EXPECT_EQ(copy->message(), c.error->message());
    }
}

TEST(MessageIdExceptions, TheMessageComesFromTheCatalogue) {
    host::MsgIdException<VELTRA::storage::recordNotFound> error(std::string("MyRecord"), std::uint64_t{77});
    EXPECT_EQ(error.identifier(), "VELTRA:storage:recordNotFound");
    EXPECT_EQ(error.args().size(), 2u);
    EXPECT_NE(error.message().find("MyRecord"), std::string::npos) << error.message();
    EXPECT_NE(error.message().find("77"), std::string::npos) << error.message();
    host::MessageIdException unknown("Nowhere:component", "gone", {std::string("arg")});  // still names itself
    EXPECT_EQ(unknown.identifier(), "Nowhere:component:gone");
    EXPECT_NE(unknown.message().find("Nowhere:component:gone"), std::string::npos) << unknown.message();
}

TEST(FatalExceptions, EachFaultHasItsOwnIdentifierAndText) {
    const struct {
        int code;
        const char* identifier;
    } cases[] = {
        {SIGSEGV, "VELTRA:fatal:segmentationViolation"},
        {SIGBUS, "VELTRA:fatal:busError"},
        {SIGFPE, "VELTRA:fatal:arithmeticFault"},
        {SIGILL, "VELTRA:fatal:illegalInstruction"},
        {SIGABRT, "VELTRA:fatal:aborted"},
        {12345, "VELTRA:fatal:unknownFault"},
    };
    for (const auto& c : cases) {
        host::FatalException error(c.code);
        EXPECT_EQ(error.code(), c.code);
        EXPECT_EQ(error.identifier(), c.identifier);
        EXPECT_NE(error.message().find(std::to_string(c.code)), std::string::npos) << error.message();
        EXPECT_EQ(error.message().find("No message text"), std::string::npos) << error.message();
    }
}

TEST(LegacyError, ThrowsTheSameErrorAndRemembersItPerEngine) {
    vhost::Engine engine;
    vhost::EngineScope scope(engine);
    EXPECT_EQ(vhost::lastError(), nullptr);
    host::MsgIdException<VELTRA::storage::recordNotFound> error(std::string("R"), std::uint64_t{1});
    EXPECT_THROW(host::do_legacy_ry_error(error), host::MsgIdException<VELTRA::storage::recordNotFound>);
    auto last = vhost::lastError();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->identifier(), "VELTRA:storage:recordNotFound");
    {
        vhost::Engine other;
        vhost::EngineScope otherScope(other);
        EXPECT_EQ(vhost::lastError(), nullptr);
    }
    vhost::clearLastError();
    EXPECT_EQ(vhost::lastError(), nullptr);
}

TEST(Interrupts, APendingInterruptIsRaisedOnce) {
    host::utInterruptState::SetInterruptPending(false);
    EXPECT_NO_THROW(host::utInterruptState::ThrowIfInterruptPending());
    host::utInterruptState::SetInterruptPending(true);
    EXPECT_TRUE(host::utInterruptState::IsInterruptPending());
    try {
        host::utInterruptState::ThrowIfInterruptPending();
        FAIL() << "no interrupt raised";
    } catch (const host::UserException& error) {
        EXPECT_EQ(error.identifier(), "VELTRA:interrupt");
        EXPECT_EQ(error.message().find("No message text"), std::string::npos);
    }
    EXPECT_FALSE(host::utInterruptState::IsInterruptPending());
    EXPECT_NO_THROW(host::utInterruptState::ThrowIfInterruptPending());
}

TEST(StackTrace, NamesTheCallersFrames) {
    std::string trace = host::captureStackTrace();
    ASSERT_EQ(trace.rfind("  #0 ", 0), 0u) << trace;
    EXPECT_EQ(trace.find("captureStackTrace"), std::string::npos) << "its own frame is not part of the trace";
    // The test runner was started by the C library's start-up code.
    EXPECT_NE(trace.find("libc.so"), std::string::npos) << trace;
    EXPECT_NE(trace.find("  #3 "), std::string::npos) << trace;
}

TEST(TerminateDeathTest, PrintsTheDiagnosticAndAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(host::terminate("the state is broken", "where.cpp", 42, "doWork"),
                 "Fatal error: the state is broken\n  at where.cpp:42 in doWork\n  #0 ");
    EXPECT_DEATH(host::terminate("no function", nullptr, 0, nullptr), "Fatal error: no function\n  at <unknown file>:0\n");
}

}  // namespace
