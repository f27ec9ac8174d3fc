// The module boundary on its own: each fault kind becomes an outcome with its signal, the thread
// stays usable (mask, alternate stack, a later fault caught again), boundaries nest, exceptions of
// every kind become one outcome (host errors kept whole), and outside a boundary the handlers
// installed before ours run.
#include <csignal>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

#include "host/exceptions.hpp"
#include "platform/module_boundary.hpp"

namespace {

using orb::platform::callModuleCode;
using orb::platform::ModuleOutcome;

// Both operands unknown to the compiler: 1 / x is otherwise computed without a division.
volatile int g_zero = 0;
volatile int g_seven = 7;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int recurse(volatile char* previous) {
    volatile char frame[4096];
    frame[0] = previous ? previous[0] + 1 : 0;
    return recurse(frame) + frame[1];
}
#pragma GCC diagnostic pop

// Deliberate faults. In a sanitizer build the undefined-behaviour checks would report them before
// they happen; they must reach the processor as real faults.
__attribute__((no_sanitize("undefined"))) void storeThroughNull() { *static_cast<volatile int*>(nullptr) = 1; }
__attribute__((no_sanitize("undefined"))) void divideByZero() { g_zero = g_seven / g_zero; }

// The signal the guarded call ended with, or 0 when it returned.
int faultOf(const std::function<void()>& body) { return callModuleCode(body).signal(); }

bool blocked(int signal) {
    sigset_t mask;
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, signal);
}

struct FaultCase {
    const char* name;
    int signal;
    std::function<void()> body;
};

const FaultCase kFaults[] = {
    {"null pointer", SIGSEGV, storeThroughNull},
    {"integer division by zero", SIGFPE, divideByZero},
    {"illegal instruction", SIGILL, [] { __builtin_trap(); }},
    {"abort", SIGABRT, [] { std::abort(); }},
    {"stack exhausted", SIGSEGV, [] { recurse(nullptr); }},
};

TEST(FaultGuard, EachFaultBecomesTheFatalErrorAndIsCaughtAgainLaterOnAnyThread) {
    auto allFaults = [] {
        for (int round = 0; round < 2; ++round) {
            for (const FaultCase& fault : kFaults) {
                SCOPED_TRACE(fault.name);
                EXPECT_EQ(faultOf(fault.body), fault.signal);
                EXPECT_FALSE(blocked(fault.signal)) << "the handler's mask outlived the jump";
            }
        }
    };
    allFaults();
    std::thread(allFaults).join();  // a thread of its own needs its own alternate stack
    EXPECT_EQ(faultOf([] {}), 0);
}

TEST(FaultGuard, InnerGuardCatchesItsFaultAndTheOuterIsArmedAgain) {
    int inner = -1;
    int outer = faultOf([&] {
        inner = faultOf(kFaults[0].body);
        __builtin_trap();
    });
    EXPECT_EQ(inner, SIGSEGV);
    EXPECT_EQ(outer, SIGILL);
}

TEST(FaultGuard, EveryExceptionBecomesOneOutcomeAndDisarms) {
    using Kind = ModuleOutcome::Kind;
    using Foreign = ModuleOutcome::ForeignKind;
    struct Case {
        const char* name;
        std::function<void()> body;
        Kind kind;
        Foreign foreign;
        std::string text;
    };
    const Case cases[] = {
        {"standard", [] { throw std::runtime_error("module error"); }, Kind::Foreign, Foreign::Standard, "module error"},
        {"text", [] { throw "a text"; }, Kind::Foreign, Foreign::Text, "a text"},
        {"other", [] { throw 7; }, Kind::Foreign, Foreign::Other, ""},
        {"host", [] { throw host::SimpleException("host:error", "kept"); }, Kind::HostError, Foreign::Other, ""},
        {"abort", [] { std::abort(); }, Kind::Abort, Foreign::Other, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Disarmed: a fault after the inner failure lands in the outer boundary.
        ModuleOutcome inner;
        const ModuleOutcome outer = callModuleCode([&] {
            inner = callModuleCode(c.body);
            divideByZero();
        });
        EXPECT_EQ(outer.kind(), Kind::MachineFault);
        EXPECT_EQ(outer.signal(), SIGFPE);
        EXPECT_EQ(inner.kind(), c.kind);
        if (c.kind == Kind::Foreign) {
            EXPECT_EQ(inner.foreignKind(), c.foreign);
            EXPECT_EQ(inner.text(), c.text);
            EXPECT_THROW(inner.raise(), orb::platform::ForeignModuleException);
        }
    }
    // A host error is raised again unchanged.
    try {
        callModuleCode([] { throw host::SimpleException("host:error", "kept"); }).raise();
        ADD_FAILURE() << "nothing raised";
    } catch (const host::SimpleException& error) {
        EXPECT_EQ(error.identifier(), "host:error");
    }
    EXPECT_TRUE(callModuleCode([] {}).ok());
}

// Outside any guard the previously installed handler sees the fault. Run in a fresh process so
// that the earlier handler is installed before the guard installs its own.
void previousHandler(int) { _exit(42); }

TEST(FaultGuardDeathTest, OutsideAGuardThePreviousHandlerRuns) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::signal(SIGSEGV, previousHandler);
            faultOf([] {});
            storeThroughNull();
        },
        testing::ExitedWithCode(42), "");
}

}  // namespace
