// Fault containment: a module that misbehaves in any of the ways below fails its own call (or
// nothing at all), and the host is as healthy afterwards as before: the engine's current module,
// trap flag, floating-point control state and context depths are as they were, nothing the module
// allocated is still alive, the module clears (a locked one only once it unlocks), and a healthy
// module then answers a thousand calls.
#include <csignal>
#include <cfenv>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ry.h>

#include "capi/per_engine.hpp"
#include "host/exceptions.hpp"
#include "host/ut.hpp"
#include "loader/loader_support.hpp"
#include "platform/fault_guard.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/engine/engine.hpp"
#include "vhost/lang/interpreter.hpp"
#include "vhost/ry/leaks.hpp"
#include "vhost/ry/warnings.hpp"

namespace {

// How a misbehaving call must end.
struct Outcome {
    int signal = 0;          // the fatal error with this signal
    std::string identifier;  // else the error with this identifier
    double value = -2;       // else success with this first output
};

struct MisbehaviourCase {
    const char* what;
    Outcome outcome;
    bool locks = false;
    std::string clearWarning;  // identifier of the warning the clear gives
};

Outcome fault(int signal) { return {signal, "", -2}; }
Outcome error(std::string identifier) { return {0, std::move(identifier), -2}; }
Outcome returns(double value) { return {0, "", value}; }

const std::string kForeign = "VELTRA:legacy_two_part:unexpectedCPPexception";
const std::string kExitFailed = "VELTRA:atExit:FailedToCleanupError";
const std::string kRefused = "VELTRA:orb:ModuleFaulted";

// Whatever returns answers whether the module is locked at the end of its call.
const MisbehaviourCase kCases[] = {
    {"null read", fault(SIGSEGV), false, ""},
    {"wild write", fault(SIGSEGV), false, ""},
    {"null call", fault(SIGSEGV), false, ""},
    {"recursion", fault(SIGSEGV), false, ""},
    {"division", fault(SIGFPE), false, ""},
    {"illegal", fault(SIGILL), false, ""},
    {"abort", fault(SIGABRT), false, ""},
    {"throw standard", error(kForeign), false, ""},
    {"throw text", error(kForeign), false, ""},
    {"throw int", error(kForeign), false, ""},
    {"raise", error("misbehave:raised"), false, ""},
    {"fp state", returns(0), false, ""},
    {"leak", returns(0), false, ""},
    {"lock", returns(1), true, ""},
    {"exit raises", returns(0), false, kExitFailed},
    {"services after error", returns(42), false, ""},  // twice(21), called after the failures
};

// Each case on an engine of its own, bound to the thread as a host binds its engines, with the
// test modules on the path.
class FaultContainmentTest : public testing::Test {
protected:
    FaultContainmentTest() { vhost::addPath(ORB_TEST_MODULE_DIR); }

    struct Attached {
        Attached() { vhost::boot::attachRuntime(); }
    } m_attached;
    vhost::Engine m_engine;
    vhost::EngineScope m_scope{m_engine};

    // Calls misbehave(what) and reports how the call ended.
    static Outcome callMisbehave(const std::string& what) {
        ryArray* input = ryCreateString(what.c_str());
        Outcome seen;
        try {
            std::vector<ryArray*> outputs = vhost::lang::call("misbehave", 1, {input});
            seen.value = outputs.at(0) ? ryGetScalar(outputs[0]) : -1;
            for (ryArray* output : outputs) ryDestroyArray(output);
        } catch (const host::FatalException& fault) {
            seen.signal = fault.code();
        } catch (const host::UserException& error) {
            seen.identifier = error.identifier();
        }
        ryDestroyArray(input);
        return seen;
    }

    // A thousand calls of the healthy module, each with its own answer.
    static void expectHealthy() {
        int wrong = 0;
        for (int i = 0; i < 1000; ++i) {
            ryArray* input = ryCreateDoubleScalar(i);
            std::vector<ryArray*> outputs = vhost::lang::call("twice", 1, {input});
            if (outputs.empty() || !outputs[0] || ryGetScalar(outputs[0]) != 2.0 * i) ++wrong;
            for (ryArray* output : outputs) ryDestroyArray(output);
            ryDestroyArray(input);
        }
        EXPECT_EQ(wrong, 0) << "of 1000 calls of the healthy module";
    }
};

TEST_F(FaultContainmentTest, EachMisbehaviourFailsOnlyItsCallAndLeavesTheHostHealthy) {
    const std::string path = orbtest::modulePath("misbehave");
    for (const MisbehaviourCase& c : kCases) {
        SCOPED_TRACE(c.what);
        vhost::ry::clearWarnings();
        const orbtest::HostState before = orbtest::HostState::now();
        const Outcome seen = callMisbehave(c.what);
        EXPECT_EQ(seen.signal, c.outcome.signal);
        EXPECT_EQ(seen.identifier, c.outcome.identifier);
        if (c.outcome.signal == 0 && c.outcome.identifier.empty()) {
            EXPECT_EQ(seen.value, c.outcome.value);
        }
        EXPECT_EQ(orbtest::HostState::now(), before);
        if (c.outcome.signal != 0) {
            // Faulted, it is refused without running until it is cleared.
            EXPECT_EQ(callMisbehave("nothing").identifier, kRefused);
            EXPECT_EQ(orbtest::HostState::now(), before);
        }

        // The module clears like any other, unless it locked itself: that clear is refused and
        // the module stays loaded until it unlocks.
        EXPECT_EQ(vhost::clear("misbehave"), !c.locks);
        EXPECT_EQ(orbtest::libraryMapped(path), c.locks);
        if (c.locks) {
            EXPECT_EQ(callMisbehave("unlock").value, 0);
            EXPECT_TRUE(vhost::clear("misbehave"));
            EXPECT_FALSE(orbtest::libraryMapped(path));
        }
        const auto warnings = vhost::ry::takeWarnings();
        ASSERT_EQ(warnings.size(), c.clearWarning.empty() ? 0u : 1u);
        if (!c.clearWarning.empty()) {
            EXPECT_EQ(warnings[0].identifier, c.clearWarning);
        }
        EXPECT_EQ(orbtest::HostState::now(), before);

        // Loaded afresh it is well again, and not locked.
        EXPECT_EQ(callMisbehave("nothing").value, 0);
        EXPECT_TRUE(vhost::clear("misbehave"));
        expectHealthy();
        EXPECT_EQ(orbtest::HostState::now(), before);
    }
}

TEST_F(FaultContainmentTest, TheSameMisbehaviourIsContainedEveryTime) {
    // Faults reuse the thread's alternate stack and jump buffer; aborts re-enter the C library's
    // abort. Repeating them shows nothing was left held by the previous one.
    const orbtest::HostState before = orbtest::HostState::now();
    for (int round = 0; round < 20; ++round) {
        for (const char* what : {"abort", "recursion", "division", "throw standard"}) {
            SCOPED_TRACE(what);
            const Outcome seen = callMisbehave(what);
            EXPECT_TRUE(seen.signal != 0 || !seen.identifier.empty());
            if (seen.signal != 0) EXPECT_TRUE(vhost::clear("misbehave"));
        }
    }
    EXPECT_EQ(orbtest::HostState::now(), before);
    expectHealthy();
}

TEST_F(FaultContainmentTest, AFaultIsChargedToTheModuleWhoseCodeFaultedNotToItsCallers) {
    const Outcome passedThrough = callMisbehave("call faulting");
    EXPECT_EQ(passedThrough.signal, SIGSEGV);
    // The caller runs on; the faulting module is refused, even when another module calls it.
    EXPECT_EQ(callMisbehave("nothing").value, 0);
    EXPECT_EQ(callMisbehave("call faulting").identifier, kRefused);
    try {
        vhost::lang::call("fault_null", 1, {});
        ADD_FAILURE() << "a faulted module ran again";
    } catch (const host::UserException& error) {
        EXPECT_EQ(error.identifier(), kRefused);
        EXPECT_NE(error.message().find("clear fault_null"), std::string::npos) << error.message();
    }
    // Cleared, it is loaded afresh and runs (and faults) again.
    EXPECT_TRUE(vhost::clear("fault_null"));
    EXPECT_EQ(callMisbehave("call faulting").signal, SIGSEGV);
}

TEST_F(FaultContainmentTest, AModuleThatLockedItselfAndFaultedStaysRefusedAndLoaded) {
    const std::string path = orbtest::modulePath("misbehave");
    EXPECT_EQ(callMisbehave("lock").value, 1);
    EXPECT_EQ(callMisbehave("null read").signal, SIGSEGV);
    // It can no longer unlock itself, and the lock still holds it: unloading code that asked to
    // stay is not safer than keeping it.
    EXPECT_EQ(callMisbehave("unlock").identifier, kRefused);
    EXPECT_FALSE(vhost::clear("misbehave"));
    EXPECT_TRUE(orbtest::libraryMapped(path));
    expectHealthy();
}

// An abort outside module code is the host's own and still ends the process, also after guarded
// calls have installed the handlers.
TEST(FaultContainmentDeathTest, AnAbortOutsideModuleCodeStillEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            try {
                orb::platform::callGuarded([] { std::abort(); });
            } catch (const host::FatalException&) {
            }
            std::abort();
        },
        testing::KilledBySignal(SIGABRT), "");
}

}  // namespace
