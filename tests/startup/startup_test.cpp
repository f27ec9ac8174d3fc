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

// --- log channels ------------------------------------------------------------------------------

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
    const std::u16string surrogate = std::u16string(u"a") + char16_t(0xD800) + u"b";
    const Case cases[] = {
        {format(std::u16string(u"/modules/\u00dfeta.orbw64")), "/modules/\u00dfeta.orbw64"},
        {format(u"wide literal"), "wide literal"},
        {format(nullText), "(null)"},
        {format("narrow"), "narrow"},
        {format(42), "42"},
        {format(true), "1"},
        {format(surrogate), "a?b"},  // a log line never fails on text
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

}  // namespace
