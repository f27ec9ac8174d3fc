// Asynchronous requests through the runtime's C services: exactly one callback per request, with
// the outputs or the failure's code and data; cancellation before the request runs; task handles
// released early; waiting on the signal thread, which keeps the queue moving. Then what a module
// leaves behind: callbacks that fault at idle time, requests outstanding when it is cleared, and
// a call that holds the engine while a thread of the module waits.
#include <dlfcn.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <thread>

#include "capi/message_ids.hpp"
#include "capi/per_engine.hpp"
#include "cppapi/async.hpp"
#include "cppapi/cppapi_support.hpp"
#include "cppapi/error_conversion.hpp"
#include "cppapi/engine_handle.hpp"
#include "cppapi/feval.hpp"
#include "cppapi/variables.hpp"
#include "host/i18n.hpp"
#include "support/orb_tool.hpp"
#include "vhost/dataarray/impl.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/engine/engine.hpp"
#include "vhost/lang/interpreter.hpp"
#include "vhost/lang/workspace.hpp"
#include "vhost/ry/warnings.hpp"

namespace {

using host::data::Array;
using host::data::ArrayImpl;

// What the callbacks of one request saw.
struct Outcome {
    int successes = 0;
    int failures = 0;
    int nlhs = -1;
    bool passThrough = false;
    std::vector<Array> outputs;
    int code = 0;
    Array error;
    std::string text;
    bool nullData = false;

    static void setOutputs(void* promise, int nlhs, bool passThroughFlag, void** outputs) {
        auto* o = static_cast<Outcome*>(promise);
        ++o->successes;
        o->nlhs = nlhs;
        o->passThrough = passThroughFlag;
        for (int i = 0; i < nlhs; ++i) o->outputs.push_back(Array::adopt(static_cast<ArrayImpl*>(outputs[i])));
        outputs[0] = nullptr;  // the list is the library's and dies after the callback
    }
    static void setException(void* promise, int nlhs, bool passThroughFlag, int code, void* data) {
        auto* o = static_cast<Outcome*>(promise);
        ++o->failures;
        o->nlhs = nlhs;
        o->passThrough = passThroughFlag;
        o->code = code;
        o->nullData = data == nullptr;
        if (code == 1) o->error = Array::adopt(static_cast<ArrayImpl*>(data));
        if (code == 9 && data) o->text = static_cast<const char*>(data);
    }
    static void evalDone(void* promise) { ++static_cast<Outcome*>(promise)->successes; }
    static void evalFailed(void* promise, int code, void* data) { setException(promise, 0, false, code, data); }
};

using cppapitest::charText;

class AsyncTest : public cppapitest::EngineHandleTest {
protected:
    static void waitAndRelease(void* handle) {
        orbApiToWaitForPendingfevalEvalToComplete(handle);
        orbApiDestroyTaskHandle(handle);
    }
    void* start(const char* name, int nlhs, std::vector<Array> inputs, Outcome& outcome) {
        std::vector<void*> prhs;
        for (auto& a : inputs) prhs.push_back(a.impl());
        return reinterpret_cast<void*>(orbApiFevalAsync(m_handle, nlhs, static_cast<int>(prhs.size()), prhs.data(), name,
                                                        true, &Outcome::setOutputs, &Outcome::setException, &outcome,
                                                        nullptr, nullptr, nullptr, nullptr));
    }
};

TEST_F(AsyncTest, OutputsArriveInOneCallbackAndHostErrorsOnlyThroughTheFailureCallback) {
    host::data::ArrayFactory factory;
    Outcome sized;
    void* handle = start("size", 2, {factory.createCellArray({3, 4})}, sized);
    EXPECT_EQ(sized.successes, 0);  // queued, not run
    waitAndRelease(handle);
    EXPECT_EQ(sized.successes, 1);
    EXPECT_EQ(sized.failures, 0);
    EXPECT_EQ(sized.nlhs, 2);
    EXPECT_TRUE(sized.passThrough);
    ASSERT_EQ(sized.outputs.size(), 2u);

    auto& info = orb::capi::PerEngine<orb::capi::CurrentOrbInfoPerEngine>::getOrCreate();
    info.pendingError.reset();
    Outcome failed;
    handle = start("error", 0, {factory.createCharArray(u"async:id"), factory.createCharArray(u"no good")}, failed);
    waitAndRelease(handle);
    EXPECT_EQ(failed.successes, 0);
    EXPECT_EQ(failed.failures, 1);
    EXPECT_EQ(failed.code, 1);
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error.impl()->fields.size(), 6u);  // the runtime error structure
    EXPECT_EQ(info.pendingError, nullptr);               // nothing stored for the engine

    Outcome evaluated;
    handle = reinterpret_cast<void*>(orbApiEvalAsync(m_handle, u"asyncValue = 41 + 1;", &Outcome::evalDone,
                                                     &Outcome::evalFailed, &evaluated, nullptr, nullptr, nullptr, nullptr));
    waitAndRelease(handle);
    EXPECT_EQ(evaluated.successes, 1);
    Outcome read;
    handle = reinterpret_cast<void*>(orbApiGetVariableAsync(m_handle, "base", u"asyncValue", &Outcome::setOutputs,
                                                            &Outcome::setException, &read));
    waitAndRelease(handle);
    ASSERT_EQ(read.outputs.size(), 1u);
    EXPECT_EQ(*static_cast<const double*>(vhost::data::elementData(*read.outputs[0].impl())), 42);
}

TEST_F(AsyncTest, ACancelledRequestGetsCodeSevenAndNoOtherCallback) {
    host::data::ArrayFactory factory;
    Outcome cancelled;
    void* handle = start("disp", 0, {factory.createCharArray(u"never shown")}, cancelled);
    EXPECT_TRUE(orbApiCancelFevalWithCompletion(handle, true));
    EXPECT_EQ(cancelled.failures, 1);  // delivered on the cancelling thread
    EXPECT_EQ(cancelled.code, 7);
    EXPECT_TRUE(cancelled.nullData);
    m_engine.runPosted();
    EXPECT_EQ(cancelled.successes + cancelled.failures, 1);
    EXPECT_TRUE(orbApiCancelFevalWithCompletion(handle, true));  // asked again: still cancelled
    orbApiDestroyTaskHandle(handle);

    Outcome ran;
    handle = start("size", 1, {factory.createCellArray({1, 1})}, ran);
    orbApiToWaitForPendingfevalEvalToComplete(handle);
    EXPECT_FALSE(orbApiCancelFevalWithCompletion(handle, true));  // too late
    orbApiDestroyTaskHandle(handle);

    orb::cppapi::OrbTaskHandle empty;
    EXPECT_FALSE(orbApiCancelFevalWithCompletion(&empty, true));
    orbApiToWaitForPendingfevalEvalToComplete(nullptr);
    orbApiToWaitForPendingfevalEvalToComplete(&empty);
}

TEST_F(AsyncTest, RequestsStillQueuedWhenTheirEngineGoesAreReportedCancelledOnce) {
    host::data::ArrayFactory factory;
    Outcome outcomes[3];
    void* handles[3] = {};
    {
        vhost::Engine engine("short-lived");
        vhost::EngineScope scope(engine);
        orb::cppapi::OrbFunctionImpl* engineHandle = orb::cppapi::makeEngineHandle(u"short-lived");
        Array input = factory.createCellArray({1, 1});
        void* prhs[1] = {input.impl()};
        for (int i = 0; i < 3; ++i) {
            handles[i] = reinterpret_cast<void*>(orbApiFevalAsync(engineHandle, 1, 1, prhs, "size", false,
                                                                  &Outcome::setOutputs, &Outcome::setException,
                                                                  &outcomes[i], nullptr, nullptr, nullptr, nullptr));
        }
        EXPECT_TRUE(orbApiCancelFevalWithCompletion(handles[1], false));  // cancelled before the engine went
        orbDestroyFunctionImpl(engineHandle);
    }
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(outcomes[i].successes, 0);
        EXPECT_EQ(outcomes[i].failures, 1);
        EXPECT_EQ(outcomes[i].code, 7);
        orbApiToWaitForPendingfevalEvalToComplete(handles[i]);  // settled: returns at once
        EXPECT_TRUE(orbApiCancelFevalWithCompletion(handles[i], false));
        orbApiDestroyTaskHandle(handles[i]);
    }
}

TEST_F(AsyncTest, AReleasedHandleStillGetsItsCallbackOnceAndFailingCallbacksReachTheWaiter) {
    host::data::ArrayFactory factory;
    Outcome released;
    const std::size_t live = vhost::data::liveArrayCount();
    orbApiDestroyTaskHandle(start("size", 1, {factory.createCellArray({2, 2})}, released));
    m_engine.runPosted();
    EXPECT_EQ(released.successes, 1);
    EXPECT_EQ(released.failures, 0);
    // The input, held by the request alone, is gone once the engine has run what was posted: only
    // the output is left.
    EXPECT_EQ(vhost::data::liveArrayCount(), live + 1);

    // A success callback that throws becomes a failure with code 9 and its text; a failure
    // callback that throws ends in the waiter.
    auto throwing = [](void*, int, bool, void**) { throw std::runtime_error("callback broke"); };
    Outcome broken;
    std::vector<void*> none;
    Array shown = factory.createCharArray(u"");
    void* input = shown.impl();
    void* handle = reinterpret_cast<void*>(orbApiFevalAsync(m_handle, 0, 1, &input, "disp", false, throwing,
                                                      &Outcome::setException, &broken, nullptr, nullptr, nullptr,
                                                      nullptr));
    waitAndRelease(handle);
    EXPECT_EQ(broken.code, 9);
    EXPECT_EQ(broken.text, "callback broke");
    // The error structure is the callback's from the moment it is called, thrown or not.
    auto failing = [](void*, int, bool, int code, void* data) {
        if (code == 1) Array::adopt(static_cast<ArrayImpl*>(data));
        throw std::logic_error("failure callback broke");
    };
    handle = reinterpret_cast<void*>(orbApiFevalAsync(m_handle, 0, 0, none.data(), "no_such_function", false,
                                                      &Outcome::setOutputs, failing, nullptr, nullptr, nullptr, nullptr,
                                                      nullptr));
    try {
        orbApiToWaitForPendingfevalEvalToComplete(handle);
        ADD_FAILURE() << "the waiter heard nothing";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "failure callback broke");
    }
    orbApiDestroyTaskHandle(handle);
}

TEST_F(AsyncTest, AVariableSetInTheGlobalWorkspaceIsSeenWhereItIsDeclaredGlobal) {
    host::data::ArrayFactory factory;
    int errorType = 0;
    void* exception = nullptr;
    const Array value = factory.createScalarDouble(7);
    orbApiSetVariable(m_handle, value.impl(), "global", u"sharedOne", &errorType, &exception);
    EXPECT_EQ(errorType, 0);
    vhost::lang::evaluate("clear sharedOne; global sharedOne; seen = sharedOne;");
    Array read = Array::adopt(static_cast<ArrayImpl*>(orbApiGetVariable(m_handle, "base", u"seen", &errorType, &exception)));
    ASSERT_TRUE(read);
    EXPECT_EQ(*static_cast<const double*>(vhost::data::elementData(*read.impl())), 7);
}

// The module "stray" (tests/modules/cpp/stray.cpp) leaves requests behind. Each row runs its
// steps in order, each as one statement line, which then leaves the host idle (queued requests
// run). A callback that ran after its module's code was unmapped would end this test program.
class StrayModuleTest : public orbtest::AttachedEngineTest {
protected:
    StrayModuleTest() {
        vhost::addPath(ORB_TEST_MODULE_DIR);
        setenv("ORB_ENGINE_HOLD_LIMIT", "0.2", 1);
        vhost::ry::takeWarnings();
    }
    ~StrayModuleTest() override {
        vhost::lang::evaluate("clear all");
        unsetenv("ORB_ENGINE_HOLD_LIMIT");
    }
};

template <class Tag>
const std::string id = orb::capi::messageIdentifier<Tag>();

TEST_F(StrayModuleTest, WhatAModuleLeavesBehindEndsInAnErrorOrAWarningAndEachRequestIsSettledOnce) {
    struct Step {
        std::string statements;  // "AT" stands for the address of the callbacks' counters
        std::string error;       // the identifier the statements end in, or empty
    };
    struct Row {
        const char* what;
        std::vector<Step> steps;
        std::string warning;  // the identifier of the one warning left, or empty
        // For each request the module started: how often its callbacks ran, and the last code.
        std::vector<int> calls, codes;
        bool unmapped = false;  // the module's code is gone afterwards
    };
    const std::vector<Row> rows = {
        {"requests still queued when the module is cleared are cancelled",
         {{"stray('leave', 3, AT); clear stray", ""}}, "", {1, 1, 1}, {7, 7, 7}, true},
        {"a request that clears its own module is abandoned, the others are cancelled",
         {{"stray('leave', 3, AT, true)", ""}}, "", {0, 1, 1}, {0, 7, 7}, true},
        {"a call that joins a thread waiting for a request",
         {{"stray('hold')", id<VELTRA::orbapi::EngineHeld>}}, "", {}, {}},
        // Last: a module whose code faulted stays mapped for good (its code retired).
        {"a completion faults while the host is idle",
         {{"stray('fault')", ""},
          {"stray('leave', 0, 0)", id<VELTRA::orb::ModuleFaulted>},
          {"clear stray; stray('leave', 0, 0)", ""}},
         id<VELTRA::orbapi::CallbackFaulted>, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<int> counters(2 * row.calls.size(), 0);
        const std::string at = std::to_string(reinterpret_cast<std::uintptr_t>(counters.data()));
        for (const Step& step : row.steps) {
            std::string statements = step.statements;
            if (const auto place = statements.find("AT"); place != std::string::npos) statements.replace(place, 2, at);
            std::string raised;
            try {
                vhost::lang::evaluate(statements);
            } catch (const host::UserException& error) {
                raised = error.identifier();
                if (!step.error.empty()) {
                    EXPECT_NE(error.message().find("'stray'"), std::string::npos) << error.message();
                }
            }
            EXPECT_EQ(raised, step.error) << statements;
        }
        const auto warnings = vhost::ry::takeWarnings();
        EXPECT_EQ(warnings.empty() ? "" : warnings[0].identifier, row.warning);
        EXPECT_LE(warnings.size(), 1u);
        if (!warnings.empty()) {
            EXPECT_NE(warnings[0].message.find("'stray'"), std::string::npos);
        }
        const std::size_t n = row.calls.size();
        EXPECT_EQ(std::vector<int>(counters.begin(), counters.begin() + n), row.calls);
        EXPECT_EQ(std::vector<int>(counters.begin() + n, counters.end()), row.codes);
        if (row.unmapped) {
            void* stillMapped = dlopen(orbtest::modulePath("stray").c_str(), RTLD_NOW | RTLD_NOLOAD);
            EXPECT_EQ(stillMapped, nullptr);
            if (stillMapped) dlclose(stillMapped);
        }
        // The host goes on (and, idle again, calls nothing of a module that is gone).
        EXPECT_NO_THROW(vhost::lang::evaluate("afterwards = 1 + 1;"));
        EXPECT_EQ(std::vector<int>(counters.begin(), counters.begin() + n), row.calls);
        vhost::lang::evaluate("clear all");
    }
}

// Every variable, property and call service checks its arguments before it uses any: a refusal
// is error code 1 with "VELTRA:orbapi:invalidArgument" (for an asynchronous request, its failure
// callback at once and no task), never a fault or an exception, and a name is never evaluated.
TEST_F(AsyncTest, ServicesRefuseInvalidArgumentsBeforeUsingThem) {
    host::data::ArrayFactory factory;
    const Array value = factory.createScalarDouble(5);
    const Array object = factory.createScalarDouble(1);
    struct Refusal {
        int code = 0;
        Array error;
    };
    auto sync = [](auto call) {
        Refusal r;
        void* exception = nullptr;
        call(&r.code, &exception);
        r.error = Array::adopt(static_cast<ArrayImpl*>(exception));
        return r;
    };
    auto async = [](auto start) {
        Outcome outcome;
        EXPECT_EQ(start(&outcome), 0u) << "a refused request has no task";
        EXPECT_EQ(outcome.failures, 1);
        return Refusal{outcome.code, outcome.error};
    };
    void* outputs[1] = {nullptr};
    const struct {
        const char* what;
        std::function<Refusal()> call;
        const char16_t* phrase;
    } cases[] = {
        {"a statement as a global's name", [&] { return sync([&](int* e, void** x) {
             orbApiSetVariable(m_handle, value.impl(), "global", u"q; zz = 5", e, x); }); }, u"'q; zz = 5'"},
        {"a name starting with a digit", [&] { return sync([&](int* e, void** x) {
             orbApiGetVariable(m_handle, "base", u"1x", e, x); }); }, u"variable name '1x'"},
        {"no workspace", [&] { return sync([&](int* e, void** x) {
             orbApiGetVariable(m_handle, nullptr, u"x", e, x); }); }, u"workspace name is null"},
        {"a workspace that is not UTF-8", [&] { return sync([&](int* e, void** x) {
             orbApiSetVariable(m_handle, value.impl(), "ba\xffse", u"x", e, x); }); }, u"not valid UTF-8"},
        {"no value", [&] { return sync([&](int* e, void** x) {
             orbApiSetVariable(m_handle, nullptr, "base", u"x", e, x); }); }, u"the value is null"},
        {"a function name that is not UTF-8", [&] { return sync([&](int* e, void** x) {
             orbApiFeval(m_handle, 1, outputs, 0, nullptr, "di\xc3(", e, x, nullptr, nullptr, nullptr, nullptr); }); },
         u"function name 'di?(' is not valid UTF-8"},
        {"no function name", [&] { return sync([&](int* e, void** x) {
             orbApiFeval(m_handle, 1, outputs, 0, nullptr, nullptr, e, x, nullptr, nullptr, nullptr, nullptr); }); },
         u"function name is null"},
        {"outputs asked for without a list", [&] { return sync([&](int* e, void** x) {
             orbApiFeval(m_handle, 2, nullptr, 0, nullptr, "disp", e, x, nullptr, nullptr, nullptr, nullptr); }); },
         u"list of outputs is null"},
        {"no object", [&] { return sync([&](int* e, void** x) {
             orbApiGetProperty(m_handle, nullptr, 0, u"Color", e, x); }); }, u"the object is null"},
        {"an asynchronous read from a workspace that is not UTF-8", [&] { return async([&](Outcome* o) {
             return orbApiGetVariableAsync(m_handle, "\xff", u"x", &Outcome::setOutputs, &Outcome::setException, o); }); },
         u"not valid UTF-8"},
        {"an asynchronous write to a statement", [&] { return async([&](Outcome* o) {
             return orbApiSetVariableAsync(m_handle, value.impl(), "base", u"q; zz = 5", &Outcome::setOutputs,
                                           &Outcome::setException, o); }); }, u"'q; zz = 5'"},
        {"an asynchronous call of a function name that is not UTF-8", [&] { return async([&](Outcome* o) {
             return orbApiFevalAsync(m_handle, 1, 0, nullptr, "di\xc3(", false, &Outcome::setOutputs,
                                     &Outcome::setException, o, nullptr, nullptr, nullptr, nullptr); }); },
         u"function name 'di?(' is not valid UTF-8"},
        {"an asynchronous evaluation of no statement", [&] { return async([&](Outcome* o) {
             return orbApiEvalAsync(m_handle, nullptr, &Outcome::evalDone, &Outcome::evalFailed, o, nullptr, nullptr,
                                    nullptr, nullptr); }); }, u"the statement is null"},
        {"an asynchronous call with inputs but no list", [&] { return async([&](Outcome* o) {
             return orbApiFevalAsync(m_handle, 1, 2, nullptr, "disp", false, &Outcome::setOutputs,
                                     &Outcome::setException, o, nullptr, nullptr, nullptr, nullptr); }); },
         u"list of inputs is null"},
        {"an asynchronous property name with a lone surrogate", [&] { return async([&](Outcome* o) {
             const char16_t name[] = {u'C', 0xD800, 0};
             return orbApiGetPropertyAsync(m_handle, object.impl(), 0, name, &Outcome::setOutputs,
                                           &Outcome::setException, o); }); }, u"not valid UTF-16"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Refusal refusal = c.call();
        EXPECT_EQ(refusal.code, 1);
        ASSERT_TRUE(refusal.error);
        EXPECT_EQ(charText(Array::share(refusal.error.impl()->elements[2])), u"VELTRA:orbapi:invalidArgument");
        const std::u16string message = charText(Array::share(refusal.error.impl()->elements[1]));
        EXPECT_NE(message.find(c.phrase), std::u16string::npos) << host::i18n::to_string(message);
    }
    EXPECT_EQ(outputs[0], nullptr);
    for (const char* workspace : {"base", "global"})
        EXPECT_EQ(vhost::lang::workspaces().forModule(workspace)->find("zz"), nullptr) << "the name ran as code";
}

}  // namespace
