// What the library sets up when it loads: install-relative paths, manifest placeholders, the
// thread-pool feature, the data-array library and the log channels with logging switched off.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#include "host/i18n.hpp"
#include "host/install.hpp"
#include "host/services.hpp"
#include "host/ut.hpp"
#include "startup/data_array_library.hpp"
#include "startup/log_channels.hpp"
#include "startup/startup_values.hpp"
#include "startup/thread_pool_switch.hpp"

namespace {

namespace fs = std::filesystem;
using namespace orb::startup;

fs::path installRoot() { return fs::path(host::get_install_path()); }

TEST(StartupPaths, FollowTheInstallationRoot) {
    EXPECT_EQ(fs::path(manifestTemplatePath()), installRoot() / "extern" / "version" / "orbMetadata.json");
    EXPECT_EQ(fs::path(resourceCompilerPath()), installRoot() / "bin" / "linux64" / "usResourceCompiler3");
    EXPECT_EQ(fs::path(dataArrayLibraryPath()), installRoot() / "lib" / "libVeltraDataArray.so");
    // The tests run against the staged installation.
    EXPECT_TRUE(fs::equivalent(installRoot(), ORB_STAGE_DIR));
}

TEST(StartupPaths, AreFixedWhenTheLibraryLoads) {
    const std::string manifest = manifestTemplatePath();
    const std::u16string compiler = resourceCompilerPath();
    const char* previous = std::getenv("VELTRA_ROOT");
    const std::string saved = previous ? previous : "";
    ::setenv("VELTRA_ROOT", "/somewhere/else", 1);
    const bool rootMoved = host::get_install_path() == "/somewhere/else";
    EXPECT_EQ(manifestTemplatePath(), manifest);
    EXPECT_EQ(resourceCompilerPath(), compiler);
    if (previous) {
        ::setenv("VELTRA_ROOT", saved.c_str(), 1);
    } else {
        ::unsetenv("VELTRA_ROOT");
    }
    EXPECT_TRUE(rootMoved) << "the host did not see the changed root, so this test proves nothing";
}

TEST(StartupValues, ManifestPlaceholders) {
    struct Case {
        const char* placeholder;
        const char* expected;
    };
    const Case cases[] = {
        {kBundleSymbolicNamePlaceholder, "KV_BUNDLE_SYMBOLIC_NAME"},
        {kApiVersionPlaceholder, "KV_RY_API_VERSION"},
        {kThreadPoolSafePlaceholder, "KV_CPPORB_THREADPOOL_SAFE"},
    };
    for (const auto& c : cases) EXPECT_STREQ(c.placeholder, c.expected);
}

TEST(StartupFeature, RegisteredOnceAndSetFromAnyThread) {
    EXPECT_EQ(host::svFeatureRegistrationCount("ThreadPoolCppOrb"), 1);
    EXPECT_FALSE(isThreadPoolCppOrbEnabled()) << "the switch starts off";

    struct Step {
        int value;
        bool enabled;
    };
    const Step steps[] = {{1, true}, {0, false}, {7, true}, {7, true}, {0, false}, {-1, true}, {0, false}};
    for (const auto& step : steps) {
        bool known = false;
        std::thread setter([&] { known = host::svSetFeature("ThreadPoolCppOrb", step.value); });
        setter.join();
        EXPECT_TRUE(known);
        EXPECT_EQ(isThreadPoolCppOrbEnabled(), step.enabled) << "after setting " << step.value;
    }
}

TEST(StartupDataArray, StagedLibraryIsLoaded) {
    void* handle = dataArrayLibrary();
    ASSERT_NE(handle, nullptr) << host::i18n::to_string(host::utLastLibraryError_u());
    EXPECT_EQ(dataArrayLibrary(), handle) << "loaded once";

    void* symbol = host::utFindSymbolInLibrary(handle, "veltraDataArrayVersion");
    ASSERT_NE(symbol, nullptr);
    EXPECT_NE(reinterpret_cast<std::uint32_t (*)()>(symbol)(), 0u);

    Dl_info info{};
    ASSERT_NE(::dladdr(symbol, &info), 0);
    EXPECT_TRUE(fs::equivalent(info.dli_fname, fs::path(ORB_STAGE_DIR) / "lib" / "libVeltraDataArray.so"))
        << info.dli_fname;
}

TEST(StartupDataArray, FailureIsANullHandle) {
    for (const std::u16string path : {u"/nonexistent/libVeltraDataArray.so", u"", u"libNoSuchLibrary.so"}) {
        void* handle = reinterpret_cast<void*>(1);
        EXPECT_NO_THROW(handle = loadDataArrayLibrary(path));
        EXPECT_EQ(handle, nullptr);
    }
    // A file that is not a library.
    const std::string notALibrary = std::string(ORB_SOURCE_DIR) + "/CMakeLists.txt";
    EXPECT_EQ(loadDataArrayLibrary(host::i18n::to_ustring(notALibrary)), nullptr);
}

// --- log channels ------------------------------------------------------------------------------

struct Channel {
    const char* name;
    const host::log::DiagnosticLogger& (*get)();
};
const Channel kChannels[] = {
    {"orb::orbEmbedMetadataUtil", &embedMetadataLog},
    {"orb::orbfile_inspector", &inspectorLog},
    {"orb::ThreadPoolSupport", &threadPoolSupportLog},
    {"orb::retrieve_version", &retrieveVersionLog},
};

TEST(StartupLog, FourNamedChannelsCreatedOnce) {
    for (const auto& c : kChannels) {
        EXPECT_EQ(c.get().channel(), c.name);
        EXPECT_EQ(&c.get(), &c.get()) << c.name;
    }
}

int g_evaluations = 0;
int countedEvaluation() { return ++g_evaluations; }

TEST(StartupLog, DisabledChannelEvaluatesNothing) {
    for (const auto& c : kChannels) {
        for (int severity = kLogTrace; severity <= kLogError; ++severity) {
            ASSERT_FALSE(c.get().enabled(severity)) << c.name << ": run this test without ORB_LOG";
            g_evaluations = 0;
            ORB_LOG(c.get(), severity, countedEvaluation());
            ORB_LOG(c.get(), severity, std::string("text ") + std::to_string(countedEvaluation()));
            EXPECT_EQ(g_evaluations, 0) << c.name << " at severity " << severity;
        }
    }
}

TEST(StartupLog, RecordValues) {
    struct Case {
        std::string got;
        const char* expected;
    };
    auto format = [](const auto& value) {
        std::ostringstream record;
        appendLogValue(record, value);
        return record.str();
    };
    const char16_t* nullText = nullptr;
    const char* nullNarrow = nullptr;
    const std::u16string surrogate = std::u16string(u"a") + char16_t(0xD800) + u"b";
    const Case cases[] = {
        {format(std::u16string(u"/modules/\u00dfeta.orbw64")), "/modules/\u00dfeta.orbw64"},
        {format(u"wide literal"), "wide literal"},
        {format(nullText), "(null)"},
        {format(nullNarrow), "(null)"},
        {format("narrow"), "narrow"},
        {format(std::string("string")), "string"},
        {format(42), "42"},
        {format(std::size_t(7)), "7"},
        {format(true), "1"},
        {format(surrogate), "a?b"},  // a log line never fails on text
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

}  // namespace
