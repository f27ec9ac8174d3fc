// C++ modules end to end through the reference host: the protocol as the runtime drives it
// (creation, the adapter's arguments, the output and error callbacks, destruction), and the SDK
// as module authors use it (state kept in the object, host calls with captured output, host
// errors caught or let escape).
#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "capi/message_ids.hpp"
#include "capi/per_engine.hpp"
#include "host/ry.hpp"
#include "host/i18n.hpp"
#include "loader/cpp_lifecycle.hpp"
#include "support/engine_test.hpp"
#include "support/orb_tool.hpp"
#include "vhost/dataarray/impl.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/lang/functions.hpp"
#include "vhost/lang/interpreter.hpp"
#include "vhost/ry/warnings.hpp"
#include "vhost/ut/output.hpp"

namespace {

// A symbol of a module the host has loaded (null when the module is not mapped).
template <class T>
T* moduleSymbol(const std::string& module, const char* name) {
    void* handle = dlopen(orbtest::modulePath(module).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return nullptr;
    auto* symbol = static_cast<T*>(dlsym(handle, name));
    dlclose(handle);
    return symbol;
}

class CppModuleTest : public orbtest::AttachedEngineTest {
protected:
    CppModuleTest() { vhost::addPath(ORB_TEST_MODULE_DIR); }
    ~CppModuleTest() override {
        vhost::lang::evaluate("clear all");
        unsetenv("RAW_CREATE");
        unsetenv("RAW_DESTROY");
    }

    // Runs statements; returns what they printed.
    static std::string run(const std::string& statements) { return orbtest::printed(statements); }
    static host::UserException errorOf(const std::string& statements) {
        try {
            run(statements);
        } catch (const host::UserException& error) {
            return error;
        }
        ADD_FAILURE() << "no error from: " << statements;
        return host::UserException("", "");
    }
    static std::string shown(const std::string& name, const std::string& literal) {
        return display(name, vhost::lang::parseLiteral(literal));
    }
    static std::string shownText(const std::string& name, const std::string& text) {
        return display(name, host::ryCreateString(text.c_str()));
    }
    static std::string display(const std::string& name, ryArray* value) {
        std::string text = vhost::lang::render(name, value);
        host::destroyArray(value);
        return text;
    }
};

TEST_F(CppModuleTest, TheAdapterIsToldTheOutputRoomAndOnlyTheLastOutputListCounts) {
    run("raw_protocol(0);");
    auto* capacity = moduleSymbol<int>("raw_protocol", "rawLastCapacity");
    ASSERT_NE(capacity, nullptr);
    EXPECT_EQ(*capacity, 20);  // no output requested: still room for 20
    EXPECT_EQ(*moduleSymbol<int>("raw_protocol", "rawLastNlhs"), 0);

    std::string many = "[o1";
    for (int i = 2; i <= 25; ++i) many += ", o" + std::to_string(i);
    EXPECT_THROW(run(many + "] = raw_protocol(0, 1);"), host::UserException);  // asks more than it gets
    EXPECT_EQ(*capacity, 25);
    EXPECT_EQ(*moduleSymbol<int>("raw_protocol", "rawLastNrhs"), 2);

    EXPECT_EQ(run("x = raw_protocol(1, 'first', 'second')"), shown("x", "'second'"));
    EXPECT_EQ(run("[a, b] = raw_protocol(0, 7, 'eight')"), shown("a", "7") + shown("b", "'eight'"));
}

TEST_F(CppModuleTest, ReportedErrorsAreRaisedAfterTheCallWithCatalogueTextsWhereTheProtocolSaysSo) {
    using namespace VELTRA::orb;
    const struct {
        const char* mode;
        std::string identifier;
        std::string message;
    } cases[] = {
        {"2", orb::capi::messageIdentifier<CppOrbErrorWithNoIDOrMsg>(),
         host::i18n::to_string(host::i18n::get_message(orb::capi::messageIdentifier<CppOrbErrorWithNoIDOrMsg>()))},
        {"3", orb::capi::messageIdentifier<CppOrbThreadMismatch>(),
         host::i18n::to_string(host::i18n::get_message(orb::capi::messageIdentifier<CppOrbThreadMismatch>()))},
        {"4", "raw:boom", "boom"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        run("clear x");
        host::UserException error = errorOf(std::string("x = raw_protocol(") + c.mode + ", 1)");
        EXPECT_EQ(error.identifier(), c.identifier);
        EXPECT_EQ(error.message(), c.message);
        EXPECT_EQ(error.functionName(), "raw_protocol");
        EXPECT_THROW(run("x"), host::UserException);  // the outputs of a failed call are gone
        auto* info = orb::capi::PerEngine<orb::capi::CurrentOrbInfoPerEngine>::find();
        ASSERT_NE(info, nullptr);
        EXPECT_FALSE(info->errorPending);
        EXPECT_EQ(info->pendingError, nullptr);
        EXPECT_TRUE(info->cppOutputs.empty());
    }
    // An identifier without a message records nothing to raise.
    EXPECT_EQ(run("raw_protocol(5);"), "");
}

// The name a module is called under reaches it decoded from UTF-8, not byte by byte.
TEST_F(CppModuleTest, TheFunctionNameOfTheEngineHandleIsDecodedFromUtf8) {
    const std::filesystem::path dir = std::filesystem::path(testing::TempDir()) / "utf8_named";
    std::filesystem::create_directories(dir);
    const std::string name = "pr\xc3\xb6" "be";  // "pröbe"
    std::filesystem::copy_file(orbtest::modulePath("probe"), dir / (name + ".orbw64"),
                               std::filesystem::copy_options::overwrite_existing);
    vhost::addPath(dir.string());
    ryArray* action = host::ryCreateString("name");
    const std::vector<ryArray*> outputs = vhost::lang::call(name, 1, {action});
    host::destroyArray(action);
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(host::get_ustring(outputs[0]), u"pr\u00f6be");
    host::destroyArray(outputs[0]);
    vhost::lang::evaluate("clear all");
    vhost::removePath(dir.string());
    std::filesystem::remove_all(dir);
}

TEST_F(CppModuleTest, CreationFailuresUnloadTheLibraryAndRaiseWhatTheModuleReported) {
    setenv("RAW_CREATE", "error", 1);
    host::UserException reported = errorOf("raw_protocol(0)");
    EXPECT_EQ(reported.identifier(), "raw:create");
    EXPECT_EQ(reported.message(), "the object could not be made");
    EXPECT_EQ(moduleSymbol<int>("raw_protocol", "rawObjects"), nullptr);

    // The module that was under construction is gone: no handle for it, nothing to create.
    EXPECT_EQ(orbGetFunctionImpl(), nullptr);
    EXPECT_EQ(orbRunCreateOrbFunction(), 1);

    unsetenv("RAW_CREATE");
    run("raw_protocol(0);");
    EXPECT_EQ(*moduleSymbol<int>("raw_protocol", "rawObjects"), 1);
    run("clear raw_protocol");
    EXPECT_EQ(orbGetFunctionImpl(), nullptr);
    EXPECT_EQ(orbRunCreateOrbFunction(), 1);
}

TEST_F(CppModuleTest, ClearDestroysTheObjectAndAnErrorFromDestroyBecomesAWarning) {
    EXPECT_EQ(run("a = probe('count'); b = probe('count'); c = probe('count')"), shown("c", "3"));
    run("clear probe");
    EXPECT_EQ(run("d = probe('count')"), shown("d", "1"));  // a new object

    run("raw_protocol(0);");
    setenv("RAW_DESTROY", "error", 1);
    vhost::ry::takeWarnings();
    run("clear raw_protocol");
    EXPECT_EQ(moduleSymbol<int>("raw_protocol", "rawObjects"), nullptr);
    const auto warnings = vhost::ry::takeWarnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].identifier, orb::capi::messageIdentifier<VELTRA::orb::CppOrbFailedToCleanupError>());
    EXPECT_NE(warnings[0].message.find("the object failed to go"), std::string::npos);
}

TEST_F(CppModuleTest, HostCallsReturnOutputsAndCaptureWhatTheFunctionPrints) {
    EXPECT_EQ(run("x = probe('feval', 'size', [1 2 3; 4 5 6])"), shown("x", "[2 3]"));
    EXPECT_EQ(run("t = probe('printed', 'disp', 'hello')"), shownText("t", "hello\n"));
    // A warning is error text: it reaches the error stream, not the output.
    EXPECT_EQ(run("[o, e] = probe('printed', 'warning', 'w:id', 'careful')"),
              shown("o", "''") + shownText("e", "Warning: careful\n"));
    // Another module, by name.
    EXPECT_EQ(run("x = probe('feval', 'raw_protocol', 0, 'via another module')"), shown("x", "'via another module'"));
    EXPECT_EQ(run("n = probe('name')"), shown("n", "'probe'"));
}

TEST_F(CppModuleTest, HostErrorsAreCaughtAsStructuredErrorsOrReachTheCallerUnchanged) {
    EXPECT_EQ(run("[i, m, s, f, n] = probe('catch', 'error', 'my:id', 'bad %d', 3)"),
              shown("i", "'my:id'") + shown("m", "'bad 3'") + shown("s", "3") + shown("f", "'error'") +
                  shown("n", "0"));
    host::UserException escaped = errorOf("probe('escape', 'error', 'my:id', 'bad thing')");
    EXPECT_EQ(escaped.identifier(), "my:id");
    EXPECT_EQ(escaped.message(), "bad thing");
    EXPECT_EQ(escaped.functionName(), "error");  // the host's own error, not re-attributed

    host::UserException own = errorOf("probe('throw', 'mod:id', 'module says no')");
    EXPECT_EQ(own.identifier(), "mod:id");
    EXPECT_EQ(own.message(), "module says no");
    EXPECT_EQ(own.functionName(), "probe");
    host::UserException standard = errorOf("probe('std')");
    EXPECT_EQ(standard.identifier(), "");
    EXPECT_EQ(standard.message(), "a standard exception");

    // A function that does not exist is the host's error too.
    EXPECT_EQ(run("i = probe('catch', 'no_such_function')"), shown("i", "'VELTRA:undefinedFunction'"));
}

TEST_F(CppModuleTest, ALockedModuleSurvivesClearUntilUnlocked) {
    run("probe('count'); probe('count'); probe('lock');");
    run("clear probe");
    EXPECT_EQ(run("c = probe('count')"), shown("c", "4"));
    run("probe('unlock'); clear probe");
    EXPECT_EQ(run("c = probe('count')"), shown("c", "1"));
}

TEST_F(CppModuleTest, AsynchronousCallsWaitedForOnTheCallingThreadKeepTheQueueMoving) {
    EXPECT_EQ(run("a = probe('async', 'size', [1 2 3])"), shown("a", "[1 3]"));
    EXPECT_EQ(run("b = probe('worker', 'size', [1; 2])"), shown("b", "[2 1]"));
    EXPECT_EQ(run("[c, ok] = probe('cancelled', 'disp', 5)"), shown("c", "'orb:cpp:cancelled'") + shown("ok", "true"));
    EXPECT_EQ(run("d = probe('eval', 'evaluated = 3')"), shownText("d", shown("evaluated", "3")));
    EXPECT_EQ(run("evaluated"), shown("evaluated", "3"));
    // Not waited for: it runs once the statement that started it is over.
    EXPECT_THROW(run("probe('later', 'ranLater = 1;'); ranLater"), host::UserException);
    EXPECT_EQ(run("ranLater"), shown("ranLater", "1"));
}

TEST_F(CppModuleTest, VariablesAndPropertiesSynchronouslyAndAsynchronously) {
    run("probe('setvar', 'fromModule', [4 5], 'caller');");
    EXPECT_EQ(run("fromModule"), shown("fromModule", "[4 5]"));  // "caller" is the base workspace
    EXPECT_EQ(run("v = probe('getvar', 'fromModule', 'base')"), shown("v", "[4 5]"));
    EXPECT_EQ(run("w = probe('getvarasync', 'fromModule', 'base')"), shown("w", "[4 5]"));
    host::UserException missing = errorOf("probe('getvar', 'notThere', 'base')");
    EXPECT_EQ(missing.identifier(), orb::capi::messageIdentifier<VELTRA::orb::CppOrbGetVariableError>());
    EXPECT_NE(missing.message().find("'notThere'"), std::string::npos) << missing.message();
    EXPECT_NE(missing.message().find("'base'"), std::string::npos) << missing.message();

    for (const char* suffix : {"", "async"}) {
        SCOPED_TRACE(suffix);
        const std::string get = std::string("probe('getprop") + suffix + "', ";
        const std::string set = std::string("probe('setprop") + suffix + "', ";
        // A value class read and assigned directly: the assignment shows only in the result.
        EXPECT_EQ(run("b = ValueBox(5); p = " + get + "b, 0, 'Value')"), shown("p", "5"));
        EXPECT_EQ(run("c = " + set + "b, 0, 'Value', 9); q = c.Value, r = b.Value"), shown("q", "9") + shown("r", "5"));
        // A class with its own indexing goes through it.
        EXPECT_EQ(run("i = IndexedBox(); j = " + set + "i, 0, 'anything', 'kept'); k = " + get + "j, 0, 'anything')"),
                  shown("k", "'kept'"));
    }
    EXPECT_EQ(errorOf("probe('getprop', ValueBox(1), 1, 'Value')").identifier(),
              orb::capi::messageIdentifier<VELTRA::orb::CppOrbIndexExceedsBounds>());
    EXPECT_EQ(errorOf("probe('setprop', [1 2], 0, 'Value', 3)").identifier(),
              orb::capi::messageIdentifier<VELTRA::orb::CppOrbNotObjectError>());
    EXPECT_EQ(errorOf("probe('getprop', ValueBox(1), 0, 'NoSuchProperty')").identifier(),
              orb::capi::messageIdentifier<VELTRA::orb::CppOrbGetPropertyError>());
}

TEST_F(CppModuleTest, NoDataArrayOutlivesTheCalls) {
    const std::size_t before = vhost::data::liveArrayCount();
    run("x = probe('feval', 'size', [1 2]); [a, b] = raw_protocol(0, {1, 'two'}, struct('f', 3));"
        "[i, m] = probe('catch', 'error', 'e:e', 'no'); clear all");
    EXPECT_EQ(vhost::data::liveArrayCount(), before);
}

}  // namespace
