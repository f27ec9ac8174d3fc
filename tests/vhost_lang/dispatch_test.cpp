// The dispatcher (lookup, module records, clear, locks) and the callbacks a running module
// uses, exercised through module records made by a factory of the test's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include <unistd.h>

#include "host/ry.hpp"
#include "lang_fixture.hpp"
#include "vhost/callbacks/callbacks.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/foundation/last_error.hpp"
#include "vhost/lang/values.hpp"

namespace fs = std::filesystem;

namespace {

// What the fake module records do; set by each test.
struct FakeWorld {
    std::function<void(int, ryArray**, int, ryArray**)> body;
    std::vector<std::u16string> opened;
    int loads = 0;
    int unloads = 0;
};
FakeWorld g_world;

class FakeFunction : public host::HostFunctionHandleFile {
public:
    FakeFunction(host::HostDispatcher* dispatcher, host::HostModuleFile* module)
        : HostFunctionHandleFile(dispatcher, module, nullptr, 0, 0, false, false, false) {}
    void dispatch_file(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) override {
        if (!m_loaded) {
            module()->load();
            m_loaded = true;
        }
        if (g_world.body) g_world.body(nlhs, plhs, nrhs, prhs);
    }

private:
    bool m_loaded = false;
};

class FakeModule : public host::HostModuleFile {
public:
    FakeModule(host::HostDispatcher* dispatcher, std::u16string path) : HostModuleFile(dispatcher, std::move(path)) {
        setFunction(std::make_unique<FakeFunction>(dispatcher, this));
    }
    void loadModuleFile() override { ++g_world.loads; }
    void unloadModuleFile() override {
        ++g_world.unloads;
        host::function_clear_notification(dispatcher(), function());
    }
};

host::HostModuleFile* fakeFactory(host::HostDispatcher* dispatcher, const char16_t* path) {
    g_world.opened.push_back(path);
    return new FakeModule(dispatcher, path);
}

class DispatchTest : public LangTest {
protected:
    void SetUp() override {
        vhost::registerModuleFactory(".fake", &fakeFactory);
        g_world = {};
        m_root = fs::temp_directory_path() / ("vhost_lang_" + std::to_string(::getpid()));
        fs::create_directories(m_root / "first");
        fs::create_directories(m_root / "second");
    }
    void TearDown() override {
        vhost::clearAll();
        fs::remove_all(m_root);
    }
    fs::path file(const char* folder, const char* name) {
        const fs::path path = m_root / folder / name;
        std::ofstream(path) << "fake";
        return fs::absolute(path).lexically_normal();
    }
    static double number(const ryArray* a) { return vhost::lang::elementAt(a, 0).real(); }

    fs::path m_root;
    const OrbCallbackTable m_table = vhost::callbackTable();
};

TEST_F(DispatchTest, LookupOrderAndRecordsKeptUntilCleared) {
    const fs::path inFirst = file("first", "fake1.fake");
    file("second", "fake1.fake");
    vhost::addPath((m_root / "second").string());
    vhost::addPath((m_root / "first").string());  // added last, searched first
    g_world.body = [](int, ryArray** plhs, int nrhs, ryArray**) { plhs[0] = host::to_veltra(vhost::lang::makeDouble(nrhs)); };

    EXPECT_EQ(run("a = fake1(1, 2); b = fake1;"), "");
    EXPECT_EQ(number(base("a")), 2.0);
    EXPECT_EQ(number(base("b")), 0.0);
    EXPECT_EQ(g_world.opened, std::vector<std::u16string>{inFirst.u16string()});
    EXPECT_EQ(g_world.loads, 1);

    // Variables come before functions; built-ins before files.
    file("first", "numel.fake");
    EXPECT_EQ(run("fake1 = 7; c = fake1; d = numel([1 2]);"), "");
    EXPECT_EQ(number(base("c")), 7.0);
    EXPECT_EQ(number(base("d")), 2.0);
    EXPECT_EQ(g_world.opened.size(), 1u);

    // clear NAME drops the variable and unloads the module; the next call opens the file afresh.
    run("clear fake1");
    EXPECT_EQ(g_world.unloads, 1);
    EXPECT_TRUE(vhost::currentDispatcher().openModules().empty());
    run("e = fake1(1);");
    EXPECT_EQ(g_world.opened.size(), 2u);
    EXPECT_EQ(g_world.loads, 2);

    vhost::removePath((m_root / "first").string());
    run("clear all; f = fake1;");
    EXPECT_EQ(g_world.opened.back(), (fs::absolute(m_root / "second" / "fake1.fake").lexically_normal().u16string()));
}

TEST_F(DispatchTest, ALockedOrRunningModuleIsNotCleared) {
    vhost::addPath((m_root / "first").string());
    file("first", "locker.fake");
    const OrbCallbackTable& t = m_table;
    bool lockedInside = false;
    g_world.body = [&](int, ryArray**, int nrhs, ryArray**) {
        if (nrhs == 1) t.lock();
        if (nrhs == 2) t.unlock();
        if (nrhs == 3) {
            EXPECT_EQ(t.evalString("clear locker"), 0);
        }
        lockedInside = t.isLocked();
    };
    // Counted: lock, lock, unlock leaves it locked (a real module goes through the same in
    // tests/loader/unload_test.cpp); neither clear form touches it.
    run("locker(1); locker(1); locker(1, 2);");
    EXPECT_TRUE(lockedInside);
    EXPECT_FALSE(m_table.isLocked());  // outside any call there is no current module
    run("clear locker; clear all");
    EXPECT_EQ(g_world.unloads, 0);
    run("locker(1, 2); clear locker");
    EXPECT_FALSE(lockedInside);
    EXPECT_EQ(g_world.unloads, 1);
    // A module cannot be cleared while it runs.
    run("locker(1, 2, 3);");
    EXPECT_EQ(g_world.unloads, 1);
}

TEST_F(DispatchTest, ErrorAndWarningCallbacks) {
    try {
        m_table.errMsgTxt("plain");
        FAIL();
    } catch (const host::UserException& e) {
        EXPECT_EQ(e.message(), "plain");
        EXPECT_EQ(vhost::lastError()->message(), "plain");
    }
    // Both slots with an identifier, as the runtime's own path: errors cut at 8191 characters,
    // an invalid identifier an error that does not return, for warnings too.
    using IdSlot = void (*)(const char*, const char*, va_list);
    auto raiseWithId = [&](IdSlot slot, const char* id, const char* format, ...) {
        va_list args;
        va_start(args, format);
        try {
            slot(id, format, args);
        } catch (const host::UserException& e) {
            va_end(args);
            return e.identifier() + "|" + e.message();
        }
        va_end(args);
        return std::string("returned");
    };
    const std::string longText(9000, 'x');
    EXPECT_EQ(raiseWithId(m_table.errMsgIdAndTxt, "tool:part", "n=%d", 4), "tool:part|n=4");
    EXPECT_EQ(raiseWithId(m_table.errMsgIdAndTxt, "tool:part", "%s", longText.c_str()),
              "tool:part|" + longText.substr(0, 8191));
    EXPECT_EQ(raiseWithId(m_table.errMsgIdAndTxt, "bad id", "n").substr(0, 36), "VELTRA:orbapi:invalidErrorIdentifier");
    EXPECT_EQ(raiseWithId(m_table.warnMsgIdAndTxt, "bad id", "n").substr(0, 38),
              "VELTRA:orbapi:invalidWarningIdentifier");
    vhost::OutputCapture capture;
    m_table.warnMsgTxt("careful");
    EXPECT_EQ(capture.text(), "Warning: careful\n");
    EXPECT_FALSE(m_table.trapFlag());
}

TEST_F(DispatchTest, SimpleFunctionHandleCallsTheModuleFunction) {
    static int calls;
    calls = 0;
    auto twice = [](int, ryArray** plhs, int nrhs, const ryArray** prhs) {
        ++calls;
        plhs[0] = host::to_veltra(vhost::lang::makeDouble(nrhs ? 2 * vhost::lang::elementAt(prhs[0], 0).real() : 0));
    };
    host::ryUnique handle = host::from_veltra(m_table.createSimpleFunctionHandle(twice));
    vhost::lang::workspaces().base().assign("fh", std::move(handle));
    run("r = fh(21);");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(number(base("r")), 42.0);
    EXPECT_EQ(run("class(fh)"), "ans = 'function_handle'\n");
}

TEST(FunctionGuard, InnermostGuardAndTrackedArrays) {
    EXPECT_EQ(host::OrbFunctionGuard::getCurrent(), nullptr);
    ryArray* a = reinterpret_cast<ryArray*>(0x10);
    ryArray* b = reinterpret_cast<ryArray*>(0x20);
    {
        host::OrbFunctionGuard outer(1, nullptr, 0, nullptr);
        outer.trackParam(a, 1);
        {
            host::OrbFunctionGuard inner;
            EXPECT_EQ(host::OrbFunctionGuard::getCurrent(), &inner);
            host::OrbFunctionGuard::getCurrent()->trackParam(b, 0);
            EXPECT_EQ(vhost::trackedParams(inner).size(), 1u);
        }
        EXPECT_EQ(host::OrbFunctionGuard::getCurrent(), &outer);
        const auto tracked = vhost::trackedParams(outer);
        ASSERT_EQ(tracked.size(), 1u);
        EXPECT_EQ(tracked[0].array, a);
        EXPECT_EQ(tracked[0].kind, 1);
    }
    EXPECT_EQ(host::OrbFunctionGuard::getCurrent(), nullptr);
}

TEST(HostRecords, FunctionNameAndErrorNaming) {
    FakeModule module(nullptr, u"/some/folder/my_fn.v2.fake");
    EXPECT_EQ(module.function()->get_hfuncname(), "my_fn.v2");
    host::UserException error("a:b", "text");
    EXPECT_FALSE(host::HasBuiltinName(error));
    host::AnnotateWithBuiltinName(error, "my_fn");
    EXPECT_TRUE(host::HasBuiltinName(error));
    EXPECT_EQ(error.functionName(), "my_fn");
    EXPECT_EQ(host::generateDiagnosticMsg(host::LibraryLoadException(u"libx.so: missing")), u"libx.so: missing");
}

TEST(EngineInitializers, RunOnEveryLaterEngineWithItBound) {
    std::vector<std::pair<vhost::Engine*, vhost::Engine*>> seen;  // (engine, bound engine)
    static std::vector<std::pair<vhost::Engine*, vhost::Engine*>>* log;
    log = &seen;
    vhost::addEngineInitializer([](vhost::Engine& engine) {
        if (log) log->emplace_back(&engine, vhost::boundEngine());
    });
    vhost::Engine* before = vhost::boundEngine();
    {
        vhost::Engine engine("later");
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].first, &engine);
        EXPECT_EQ(seen[0].second, &engine);
        EXPECT_EQ(vhost::boundEngine(), before);
    }
    log = nullptr;
}

}  // namespace
