// The machine-fault guard on its own: each fault kind becomes the host's fatal error with its
// signal, the thread stays usable (mask, alternate stack, a later fault caught again), guards
// nest, exceptions pass through, and outside a guard the handlers installed before ours run.
#include <csignal>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

#include "host/exceptions.hpp"
#include "platform/fault_guard.hpp"

namespace {

using orb::platform::callGuarded;

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
int faultOf(const std::function<void()>& body) {
    try {
        callGuarded(body);
    } catch (const host::FatalException& fault) {
        return fault.code();
    }
    return 0;
}

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

TEST(FaultGuard, ExceptionsPassThroughAndDisarm) {
    // Disarmed: a fault in the outer guard after the inner exception lands in the outer guard.
    int outer = faultOf([] {
        EXPECT_THROW(callGuarded([] { throw std::runtime_error("module error"); }), std::runtime_error);
        divideByZero();
    });
    EXPECT_EQ(outer, SIGFPE);
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
