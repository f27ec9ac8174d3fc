// The hostile table: modules that misbehave in every way this file knows of, and files made from
// them, each loaded, called, cleared and checked. Every row fails only its own load, call or
// clear (or nothing at all), and the host is as healthy afterwards as before: the engine's current
// module, trap flag, floating-point control state and context depths are as they were, nothing the
// module allocated is still alive, the module clears (a locked one only once it unlocks), its next
// load behaves as the row says, and a healthy module then answers a thousand calls.
#include <dlfcn.h>

#include <csignal>
#include <cfenv>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ry.h>

#include "capi/per_engine.hpp"
#include "host/exceptions.hpp"
#include "host/ut.hpp"
#include "loader/loader_support.hpp"
#include "platform/module_boundary.hpp"
#include "support/files.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/engine/engine.hpp"
#include "vhost/lang/interpreter.hpp"
#include "vhost/ry/leaks.hpp"
#include "vhost/ry/warnings.hpp"

namespace {

// How a call must end.
struct Outcome {
    int signal = 0;          // the fatal error with this signal (-1: any machine fault)
    std::string identifier;  // else the error with this identifier
    double value = -2;       // else success with this first output (-1: none)
    std::string detail;      // text the error's message must carry
};

Outcome fault(int signal) { return {signal, "", -2, ""}; }
Outcome error(std::string identifier, std::string detail = "") { return {0, std::move(identifier), -2, std::move(detail)}; }
Outcome returns(double value) { return {0, "", value, ""}; }

const std::string kForeign = "VELTRA:legacy_two_part:unexpectedCPPexception";
const std::string kExitFailed = "VELTRA:atExit:FailedToCleanupError";
const std::string kDestroyFailed = "VELTRA:orb:CppOrbFailedToCleanupError";
const std::string kRefused = "VELTRA:orb:ModuleFaulted";
const std::string kInvalid = "VELTRA:orb:ErrInvalidORBFile";
const std::string kSegv = "VELTRA:fatal:segmentationViolation";
const std::string kCallbackFaulted = "VELTRA:orbapi:CallbackFaulted";
const std::string kUnloadFailed = "VELTRA:orb:UnloadCodeFailed";

// What the row's file is.
enum class Made {
    AsBuilt,             // the module file as the build made it
    RewrittenInPlace,    // a copy of "twice", called once, then overwritten in place with shape_c
};

struct HostileRow {
    const char* what;
    const char* module;   // module name (on the search path)
    const char* input;    // first input (text), or null for none
    int outputs;          // outputs asked for
    Made made;
    Outcome outcome;      // load and call
    bool locks = false;
    std::string clearWarning;  // identifier of the warning the clear gives
    bool staysMapped = false;  // its code faulted, so its mapping is kept and never run again
    Outcome next = returns(0); // the call after the clear, loaded afresh
    bool check = false;        // the loader refuses it: `orb check` says error, `orb version` ends
                               // with a verdict or a diagnostic, neither in a signal
    bool refusedAfter = false; // its code faulted outside a call frame's reach: refused until cleared
    const char* clearDetail = "";  // text the clear's warning must carry
};

// Whatever the misbehave module returns answers whether it is locked at the end of its call.
// Rows leave out the fields that keep their defaults.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
const HostileRow kRows[] = {
    {"null read", "misbehave", "null read", 1, Made::AsBuilt, fault(SIGSEGV), false, "", true},
    {"wild write", "misbehave", "wild write", 1, Made::AsBuilt, fault(SIGSEGV), false, "", true},
    {"null call", "misbehave", "null call", 1, Made::AsBuilt, fault(SIGSEGV), false, "", true},
    {"recursion", "misbehave", "recursion", 1, Made::AsBuilt, fault(SIGSEGV), false, "", true},
    {"division", "misbehave", "division", 1, Made::AsBuilt, fault(SIGFPE), false, "", true},
    {"illegal", "misbehave", "illegal", 1, Made::AsBuilt, fault(SIGILL), false, "", true},
    {"abort", "misbehave", "abort", 1, Made::AsBuilt, fault(SIGABRT), false, "", true},
    {"throw standard", "misbehave", "throw standard", 1, Made::AsBuilt, error(kForeign, "a standard exception")},
    {"throw text", "misbehave", "throw text", 1, Made::AsBuilt, error(kForeign, "a text")},
    {"throw int", "misbehave", "throw int", 1, Made::AsBuilt, error(kForeign)},
    {"raise", "misbehave", "raise", 1, Made::AsBuilt, error("misbehave:raised")},
    {"fp state", "misbehave", "fp state", 1, Made::AsBuilt, returns(0)},
    {"leak", "misbehave", "leak", 1, Made::AsBuilt, returns(0)},
    {"lock", "misbehave", "lock", 1, Made::AsBuilt, returns(1), true},
    {"exit raises", "misbehave", "exit raises", 1, Made::AsBuilt, returns(0), false, kExitFailed},
    {"exit faults", "misbehave", "exit faults", 1, Made::AsBuilt, returns(0), false, kExitFailed, true},
    {"clear a null record", "misbehave", "clear null", 1, Made::AsBuilt, returns(0)},
    {"services after error", "misbehave", "services after error", 1, Made::AsBuilt, returns(42)},  // twice(21)
    // Start-up code runs first in a child process: the load fails naming the module, every time.
    {"start-up null write", "hostile_ctor_null", nullptr, 1, Made::AsBuilt, error(kInvalid, "signal 11"), false,
     "", false, error(kInvalid, "signal 11"), true},
    {"start-up throws", "hostile_ctor_throw", nullptr, 1, Made::AsBuilt,
     error(kInvalid, "its start-up code threw std::runtime_error: global ctor failed"), false, "", false,
     error(kInvalid, "threw std::runtime_error: global ctor failed"), true},
    {"start-up needs a missing function", "hostile_ctor_undefined", nullptr, 1, Made::AsBuilt,
     error(kInvalid, "orbHostileNoSuchFunction"), false, "", false, error(kInvalid, "orbHostileNoSuchFunction"), true},
    {"version function throws", "hostile_version_throw", nullptr, 1, Made::AsBuilt,
     error(kInvalid, "no version today"), false, "", false, error(kInvalid, "no version today"), true},
    {"C++ create makes nothing", "shape_cpp_and_c", nullptr, 1, Made::AsBuilt, error(kInvalid, "made no function object"),
     false, "", false, error(kInvalid, "made no function object")},
    {"C++ destroy faults", "hostile_destroy_fault", nullptr, 0, Made::AsBuilt, returns(-1), false, kDestroyFailed,
     true, returns(-1)},
    // Callbacks a module hands the services run through the same boundary, inside its own call.
    // The write's fault fails the host call that printed: the module hears that error and raises
    // it; the fault is charged to the module.
    {"output stream write faults in a synchronous call", "hostile_stream_fault", nullptr, 0, Made::AsBuilt,
     error(kSegv), false, kCallbackFaulted, true, error(kSegv), false, true},
    // The refusal completes inside the service: the module's call goes on, the fault is reported
    // and charged to the module.
    {"failure callback of a refused asynchronous request faults", "hostile_refused_fault", nullptr, 0, Made::AsBuilt,
     returns(-1), false, kCallbackFaulted, true, returns(-1), false, true},
    // Unload code (static destructors, destructor functions) runs first in a child process: the
    // clear warns naming what happened, the library stays mapped, retired, and the next load
    // maps the file afresh.
    {"static destructor faults", "hostile_dtor_fault", nullptr, 1, Made::AsBuilt, returns(7), false, kUnloadFailed,
     true, returns(7), false, false, "signal 11"},
    {"fini function faults", "hostile_fini_fault", nullptr, 1, Made::AsBuilt, returns(7), false, kUnloadFailed, true,
     returns(7), false, false, "signal 11"},
    {"fini function never ends", "hostile_fini_hang", "hang", 1, Made::AsBuilt, returns(7), false, kUnloadFailed, true,
     returns(7), false, false, "without ending"},
    // The call runs code the file no longer holds; cleared, the next load maps what it holds now
    // (shape_c answers 10100 for no input and one output).
    {"rewritten in place under its mapping", "rewritten", nullptr, 1, Made::RewrittenInPlace, fault(-1), false, "",
     true, returns(10100)},
};
#pragma GCC diagnostic pop

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

    // Calls module(input) with `outputs` outputs and reports how the call ended.
    static Outcome callModule(const std::string& module, const char* input, int outputs = 1) {
        std::vector<ryArray*> inputs;
        if (input) inputs.push_back(ryCreateString(input));
        Outcome seen;
        try {
            std::vector<ryArray*> results = vhost::lang::call(module, outputs, inputs);
            seen.value = !results.empty() && results[0] ? ryGetScalar(results[0]) : -1;
            for (ryArray* result : results) ryDestroyArray(result);
        } catch (const host::FatalException& fault) {
            seen.signal = fault.code();
        } catch (const host::UserException& error) {
            seen.identifier = error.identifier();
            seen.detail = error.message();
        }
        for (ryArray* in : inputs) ryDestroyArray(in);
        return seen;
    }
    static Outcome callMisbehave(const char* what) { return callModule("misbehave", what); }

    // The entry point of the module's current load, or null when it is not loaded.
    static const void* entryOf(const std::string& module) {
        auto* function = dynamic_cast<orb::loader::OrbFunctionHandle*>(vhost::currentDispatcher().findFunction(module));
        return function && function->loadRecord() ? function->loadRecord()->entry : nullptr;
    }

    // Whether the system loader still holds a library at `address` (a retired library it does;
    // an unloaded one it does not). Its own record of the ranges is asked: not the process's map,
    // where an unloaded module's range may already hold a later mapping (the allocator's, under
    // the address sanitizer often at once), and not the library, whose retired pages may no
    // longer be readable.
    static bool addressMapped(const void* address) {
        dl_find_object found;
        return _dl_find_object(const_cast<void*>(address), &found) == 0;
    }

    static void expectOutcome(const Outcome& seen, const Outcome& wanted) {
        if (wanted.signal < 0) {
            EXPECT_GT(seen.signal, 0) << "a machine fault";
        } else {
            EXPECT_EQ(seen.signal, wanted.signal);
        }
        EXPECT_EQ(seen.identifier, wanted.identifier);
        if (wanted.signal == 0 && wanted.identifier.empty()) {
            EXPECT_EQ(seen.value, wanted.value);
        }
        EXPECT_NE(seen.detail.find(wanted.detail), std::string::npos) << seen.detail;
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

TEST_F(FaultContainmentTest, EachHostileModuleFailsOnlyItselfAndLeavesTheHostHealthy) {
    const std::filesystem::path made = orbtest::scratchDir();
    vhost::addPath(made.string());
    for (const HostileRow& row : kRows) {
        SCOPED_TRACE(row.what);
        std::string path = orbtest::modulePath(row.module);
        if (row.made == Made::RewrittenInPlace) {
            path = (made / (std::string(row.module) + ".orbw64")).string();
            std::filesystem::copy_file(orbtest::modulePath("twice"), path, std::filesystem::copy_options::overwrite_existing);
            ryArray* x = ryCreateDoubleScalar(4);
            std::vector<ryArray*> doubled = vhost::lang::call(row.module, 1, {x});
            ASSERT_EQ(ryGetScalar(doubled.at(0)), 8);
            ryDestroyArray(doubled[0]);
            ryDestroyArray(x);
            // Truncated and written again: the same file, under the mapping the host holds.
            std::ifstream replacement(orbtest::modulePath("shape_c"), std::ios::binary);
            std::ofstream(path, std::ios::binary | std::ios::trunc) << replacement.rdbuf();
        }
        vhost::ry::clearWarnings();
        const orbtest::HostState before = orbtest::HostState::now();
        expectOutcome(callModule(row.module, row.input, row.outputs), row.outcome);
        EXPECT_EQ(orbtest::HostState::now(), before);
        if (row.outcome.signal != 0 || row.refusedAfter) {
            // Faulted, it is refused without running until it is cleared.
            EXPECT_EQ(callModule(row.module, "nothing").identifier, kRefused);
            EXPECT_EQ(orbtest::HostState::now(), before);
        }

        // The module clears like any other, unless it locked itself: that clear is refused and
        // the module stays loaded until it unlocks. One whose code faulted stays mapped, retired.
        const void* entry = entryOf(row.module);
        EXPECT_EQ(vhost::clear(row.module), !row.locks);
        if (entry) {
            EXPECT_EQ(addressMapped(entry), row.locks || row.staysMapped);
        } else {
            EXPECT_FALSE(orbtest::libraryMapped(path));
        }
        if (row.locks) {
            EXPECT_EQ(callMisbehave("unlock").value, 0);
            EXPECT_TRUE(vhost::clear(row.module));
            EXPECT_FALSE(addressMapped(entry));
        }
        const auto warnings = vhost::ry::takeWarnings();
        ASSERT_EQ(warnings.size(), row.clearWarning.empty() ? 0u : 1u);
        if (!row.clearWarning.empty()) {
            EXPECT_EQ(warnings[0].identifier, row.clearWarning);
            EXPECT_NE(warnings[0].message.find(row.module), std::string::npos) << warnings[0].message;
            EXPECT_NE(warnings[0].message.find(row.clearDetail), std::string::npos) << warnings[0].message;
        }
        EXPECT_EQ(orbtest::HostState::now(), before);

        // Loaded afresh it behaves as the row says, and is not locked.
        // Modules that act on an input are called with one they do nothing for.
        expectOutcome(callModule(row.module, row.input ? "nothing" : nullptr, row.outputs), row.next);
        EXPECT_TRUE(vhost::clear(row.module));
        vhost::ry::clearWarnings();
        expectHealthy();
        EXPECT_EQ(orbtest::HostState::now(), before);

        if (row.check) {
            // The tools inspect the file without ending in a signal, and orb check refuses what
            // the loader refuses.
            const auto checked = orbtest::orb({"check", path});
            EXPECT_EQ(checked.exitCode, 1) << checked.out << checked.err;
            EXPECT_NE(checked.out.find(": error - "), std::string::npos) << checked.out;
            const auto version = orbtest::orb({"version", path});
            EXPECT_TRUE(version.exitCode == 0 || version.exitCode == 1) << version.exitCode;
            EXPECT_FALSE(version.out.empty() && version.err.empty());
        }
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
            if (seen.signal != 0) {
                EXPECT_TRUE(vhost::clear("misbehave"));
            }
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
            orb::platform::callModuleCode([] { std::abort(); });
            std::abort();
        },
        testing::KilledBySignal(SIGABRT), "");
}

}  // namespace
