// The module call frame, driven through scripted strategies on the reference host: which list the
// module writes into, what reaches the caller, what is freed, and what is restored when a module
// raises or runs other modules.
#include <cfenv>
#include <functional>
#include <stdexcept>
#include <vector>

#include <xmmintrin.h>

#include <gtest/gtest.h>

#include <orb.h>

#include "capi/call_frame.hpp"
#include "capi/message_ids.hpp"
#include "capi/per_engine.hpp"
#include "host/ry.hpp"
#include "host/ut.hpp"
#include "vhost/engine/engine.hpp"
#include "vhost/ry/array.hpp"
#include "vhost/ry/leaks.hpp"

namespace {

using namespace orb::capi;
using Script = std::function<void(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs)>;

class ScriptedStrategy : public DispatchStrategy {
public:
    ScriptedStrategy(impl_info_tag* module, Script script) : DispatchStrategy(module), m_script(std::move(script)) {}
    void dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) override { m_script(nlhs, plhs, nrhs, prhs); }
    void clear() override {}

private:
    Script m_script;
};

void scriptedEntry(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs);

// A module with a plain C entry, which the frame calls itself when the module is ready.
class PlainEntryStrategy : public DispatchStrategy {
public:
    explicit PlainEntryStrategy(impl_info_tag* module) : DispatchStrategy(module, &scriptedEntry) {}
    void dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) override {
        callEntry(plainEntry, nlhs, plhs, nrhs, prhs);
    }
    void clear() override {}
};

// A function record whose module is "loaded" on the first call, or, with `readyEntry`, loaded
// already with a plain C entry: the frame then takes its path for that shape.
class ScriptedSite : public ModuleCallSite {
public:
    explicit ScriptedSite(Script script, std::function<FailureAction()> classify = {}, bool readyEntry = false)
        : script(script), m_strategy(record(), std::move(script)), m_plain(record()), m_classify(std::move(classify)) {
        if (readyEntry) ready = {record(), &m_plain};
    }
    impl_info_tag* record() { return reinterpret_cast<impl_info_tag*>(&m_recordStorage); }
    LoadedModule ensureLoaded() override {
        ++loads;
        if (loadError) throw std::runtime_error("load failed");
        return {record(), &m_strategy};
    }
    FailureAction classifyFailure() override { return m_classify ? m_classify() : FailureAction::rethrow(); }

    const Script script;
    int loads = 0;
    bool loadError = false;

private:
    // The record's one word names its site: the plain entry finds its script through the current
    // module, as a nested call would.
    ScriptedSite* m_recordStorage = this;
    ScriptedStrategy m_strategy;
    PlainEntryStrategy m_plain;
    std::function<FailureAction()> m_classify;
};

impl_info_tag* currentModule() { return PerEngine<CurrentOrbInfoPerEngine>::getOrCreate().currentModule; }

void scriptedEntry(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    (*reinterpret_cast<ScriptedSite**>(currentModule()))->script(nlhs, plhs, nrhs, prhs);
}
std::size_t liveArrays() { return vhost::ry::liveCounts().arrays; }

TEST(CallFrame, ModuleWritesIntoAFreshListOfAtLeastTheMinimumEntries) {
    for (int nlhs : {0, 1, 20, 21, 25}) {
        SCOPED_TRACE(nlhs);
        bool initiallyNull = true;
        ryArray** seen = nullptr;
        ryArray** inputs = nullptr;
        ScriptedSite site([&](int n, ryArray** plhs, int, ryArray** prhs) {
            seen = plhs;
            inputs = prhs;
            for (int i = 0; i < std::max(n, 1); ++i) initiallyNull = initiallyNull && plhs[i] == nullptr;
            // Every call can take kMinOutputEntries outputs, whatever it asked for.
            for (int i = 0; i < std::max<int>(n, kMinOutputEntries); ++i) plhs[i] = host::ryCreateString("x");
        });
        std::vector<ryArray*> caller(std::max(nlhs, 1), nullptr);
        std::size_t before = liveArrays();
        runModuleCall(site, nlhs, caller.data(), 0, nullptr);
        EXPECT_NE(seen, caller.data());
        EXPECT_TRUE(initiallyNull);
        EXPECT_NE(inputs, nullptr) << "a null input list becomes an empty list";
        // Only the requested outputs (one for nlhs 0) survive the call.
        EXPECT_EQ(liveArrays(), before + std::max(nlhs, 1));
        for (ryArray* a : caller) host::destroyArray(a);
    }
}

TEST(CallFrame, CopiesBackOnlyWhatTheModuleSetWithinTheRequestedCount) {
    struct Case {
        int nlhs;
        std::vector<int> written;       // indices the module sets
        std::vector<bool> replaced;     // which caller elements end up holding the module's arrays
    };
    const Case cases[] = {
        {0, {0}, {true}},                   // one value handed back although none was requested
        {0, {}, {false}},
        {3, {1}, {false, true, false}},
        {1, {0, 5}, {true}},                // entry 5 lies beyond the request and is freed
        {2, {0, 1}, {true, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "nlhs " << c.nlhs << ", " << c.written.size() << " written");
        std::vector<ryArray*> caller, original;
        for (std::size_t i = 0; i < c.replaced.size(); ++i) caller.push_back(host::ryCreateString("caller"));
        original = caller;
        ScriptedSite site([&](int, ryArray** plhs, int, ryArray**) {
            for (int i : c.written) plhs[i] = host::ryCreateString("module");
        });
        std::size_t before = liveArrays();
        runModuleCall(site, c.nlhs, caller.data(), 0, nullptr);
        std::size_t handedBack = 0;
        for (std::size_t i = 0; i < caller.size(); ++i) {
            EXPECT_EQ(caller[i] != original[i], c.replaced[i]) << "element " << i;
            if (caller[i] != original[i]) {
                EXPECT_EQ(host::get_ustring(caller[i]), u"module");
                ++handedBack;
            }
        }
        EXPECT_EQ(liveArrays(), before + handedBack);
        for (std::size_t i = 0; i < caller.size(); ++i) {
            if (caller[i] != original[i]) host::destroyArray(original[i]);
            host::destroyArray(caller[i]);
        }
    }
}

TEST(CallFrame, NegativeCountPassesTheCallersListAndKeepsNothing) {
    ryArray* caller[1] = {nullptr};
    ryArray** seen = nullptr;
    ScriptedSite site([&](int, ryArray** plhs, int, ryArray**) {
        seen = plhs;
        plhs[0] = host::ryCreateString("gone");
    });
    std::size_t before = liveArrays();
    runModuleCall(site, -1, caller, 0, nullptr);
    EXPECT_EQ(seen, caller);
    EXPECT_EQ(liveArrays(), before);
}

TEST(CallFrame, EachCallRunsInItsOwnContextsAndLeavesThemHoweverItEnds) {
    for (bool readyEntry : {false, true}) {
        SCOPED_TRACE(readyEntry ? "ready plain entry" : "loaded by the call");
        std::size_t depthInside = 0;
        bool inputReusable = true;
        ScriptedSite ok(
            [&](int, ryArray** plhs, int, ryArray** prhs) {
                depthInside = vhost::ry::arrayListDepth();
                inputReusable = prhs[0]->reusable();
                host::ryCreateString("temporary");
                plhs[0] = host::ryCreateString("result");
            },
            {}, readyEntry);
        ScriptedSite failing(
            [&](int, ryArray** plhs, int, ryArray**) {
                plhs[0] = host::ryCreateString("discarded");
                throw host::SimpleException("mod:failed", "module failed");
            },
            {}, readyEntry);
        ryArray* input = host::ryCreateString("in");
        input->setReusable(true);
        ryArray* out[1] = {nullptr};
        std::size_t before = liveArrays();
        runModuleCall(ok, 1, out, 1, &input);
        EXPECT_EQ(depthInside, 1u);
        // A plain entry's inputs are marked by the frame; a strategy of its own marks them itself.
        if (readyEntry) {
            EXPECT_FALSE(inputReusable) << "the caller's inputs are not the module's to reuse";
        }
        EXPECT_EQ(vhost::ry::arrayListDepth(), 0u);
        EXPECT_EQ(liveArrays(), before + 1);
        host::destroyArray(out[0]);
        out[0] = nullptr;
        EXPECT_THROW(runModuleCall(failing, 1, out, 1, &input), host::UserException);
        EXPECT_EQ(out[0], nullptr);
        EXPECT_EQ(vhost::ry::arrayListDepth(), 0u);
        EXPECT_EQ(vhost::ry::allocListDepth(), 0u);
        EXPECT_EQ(liveArrays(), before);
        host::destroyArray(input);
    }
}

TEST(CallFrame, LoadErrorsPassUnchangedWithoutCallingTheModule) {
    bool called = false;
    ScriptedSite site([&](int, ryArray**, int, ryArray**) { called = true; });
    site.loadError = true;
    ryArray* out[1] = {nullptr};
    EXPECT_THROW(runModuleCall(site, 1, out, 0, nullptr), std::runtime_error);
    EXPECT_FALSE(called);
    EXPECT_EQ(vhost::ry::arrayListDepth(), 0u);
}

TEST(CallFrame, FailureActionsDecideWhatTheCallerSees) {
    ryArray* out[1] = {nullptr};
    auto throwing = [](int, ryArray**, int, ryArray**) { throw std::runtime_error("inner"); };

    ryArray* noInputs[1] = {nullptr};
    for (bool readyEntry : {false, true}) {
        SCOPED_TRACE(readyEntry ? "ready plain entry" : "loaded by the call");
        ScriptedSite replaced(
            throwing,
            [] {
                return FailureAction::raise(std::make_unique<host::MsgIdException<VELTRA::legacy_two_part::unexpectedCPPexception>>(
                    std::string("why")));
            },
            readyEntry);
        try {
            runModuleCall(replaced, 1, out, 0, noInputs);
            ADD_FAILURE() << "no error";
        } catch (const host::MsgIdException<VELTRA::legacy_two_part::unexpectedCPPexception>& e) {
            EXPECT_EQ(std::get<std::string>(e.args().at(0)), "why");
        }

        ScriptedSite annotated([](int, ryArray**, int, ryArray**) { throw host::SimpleException("mod:id", "text"); },
                               [] {
                                   try {
                                       throw;
                                   } catch (host::UserException& e) {
                                       e.setFunctionName("myfun");
                                   }
                                   return FailureAction::rethrow();
                               },
                               readyEntry);
        try {
            runModuleCall(annotated, 1, out, 0, noInputs);
            ADD_FAILURE() << "no error";
        } catch (const host::SimpleException& e) {
            EXPECT_EQ(e.functionName(), "myfun");
        }
        EXPECT_EQ(vhost::ry::arrayListDepth(), 0u);
    }

    // On shutdown the contexts are not left; the engine that owns them is going anyway.
    vhost::Engine engine;
    vhost::EngineScope bound(engine);
    ScriptedSite atOnce(throwing, [] { return FailureAction::rethrowAtOnce(); });
    EXPECT_THROW(runModuleCall(atOnce, 1, out, 0, nullptr), std::runtime_error);
    EXPECT_EQ(vhost::ry::arrayListDepth(), 1u);
}

TEST(CallFrame, PendingInterruptAfterTheModuleFailsTheCall) {
    for (bool readyEntry : {false, true}) {
        SCOPED_TRACE(readyEntry ? "ready plain entry" : "loaded by the call");
        ScriptedSite site(
            [](int, ryArray** plhs, int, ryArray**) {
                plhs[0] = host::ryCreateString("late");
                host::utInterruptState::SetInterruptPending(true);
            },
            {}, readyEntry);
        ryArray* out[1] = {nullptr};
        ryArray* noInputs[1] = {nullptr};
        std::size_t before = liveArrays();
        EXPECT_THROW(runModuleCall(site, 1, out, 0, noInputs), host::UserException);
        EXPECT_FALSE(host::utInterruptState::IsInterruptPending());
        EXPECT_EQ(liveArrays(), before);
    }
}

TEST(CallFrame, CurrentModuleAndTrapFlagFollowNestedCalls) {
    ryArray* out[1] = {nullptr};
    impl_info_tag* seenInB = nullptr;
    bool flagInB = true;
    ScriptedSite b([&](int, ryArray**, int, ryArray**) {
        seenInB = currentModule();
        flagInB = PerEngine<CurrentOrbInfoPerEngine>::getOrCreate().trapFlag;
        throw std::runtime_error("b failed");
    });
    impl_info_tag* seenInA = nullptr;
    bool flagInAAfterB = true;
    ScriptedSite a([&](int, ryArray**, int, ryArray**) {
        orbSetTrapFlag(5);
        EXPECT_TRUE(PerEngine<CurrentOrbInfoPerEngine>::getOrCreate().trapFlag);
        EXPECT_THROW(runModuleCall(b, 0, out, 0, nullptr), std::runtime_error);
        seenInA = currentModule();
        flagInAAfterB = PerEngine<CurrentOrbInfoPerEngine>::getOrCreate().trapFlag;
    });
    impl_info_tag* outside = currentModule();
    runModuleCall(a, 0, out, 0, nullptr);
    EXPECT_EQ(seenInB, b.record());
    EXPECT_FALSE(flagInB);
    EXPECT_EQ(seenInA, a.record());
    EXPECT_FALSE(flagInAAfterB);  // the flag is the engine's, not the call's
    EXPECT_EQ(currentModule(), outside);
}

TEST(CallFrame, FloatingPointStateIsTheCallersAgainAfterTheModule) {
    constexpr std::uint32_t kControlBits = ~0x3Fu;  // MXCSR without the exception flags
    const host::utFpControl before = host::ut_fnstcw();
    std::fenv_t environment;
    std::fegetenv(&environment);
    ryArray* out[1] = {nullptr};
    const Script modules[] = {
        [](int, ryArray**, int, ryArray**) {
            std::fesetround(FE_UPWARD);  // x87 and SSE rounding
            throw std::runtime_error("raised after changing rounding");
        },
        [](int, ryArray**, int, ryArray**) { _mm_setcsr((_mm_getcsr() & ~0x6000u) | 0x6000u); },  // SSE only
        [](int, ryArray**, int, ryArray**) {
            volatile long double zero = 0.0L;
            volatile long double r = 1.0L / zero;  // x87, masked: only raises the status flag
            (void)r;
        },
        [](int, ryArray**, int, ryArray**) { feenableexcept(FE_DIVBYZERO); },
    };
    for (const Script& module : modules) {
        ScriptedSite site(module);
        try {
            runModuleCall(site, 0, out, 0, nullptr);
        } catch (const std::runtime_error&) {
        }
        const host::utFpControl after = host::ut_fnstcw();
        EXPECT_EQ(after.x87, before.x87);
        EXPECT_EQ(after.mxcsr & kControlBits, before.mxcsr & kControlBits);
        EXPECT_EQ(std::fetestexcept(FE_DIVBYZERO), 0);
    }
    EXPECT_EQ(fegetexcept() & FE_DIVBYZERO, 0);  // a division by zero does not trap again
    std::fesetenv(&environment);                   // whatever happened, later tests start clean
}

}  // namespace
