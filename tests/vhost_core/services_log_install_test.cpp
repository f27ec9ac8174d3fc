// Features, diagnostic channels and the installation root. (Tasks mode and its record of refused
// calls are checked where modules are refused, in tests/loader and tests/fortran.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "host/install.hpp"
#include "host/services.hpp"
#include "vhost/log/log_settings.hpp"
#include "vhost/services/features.hpp"

namespace {

namespace fs = std::filesystem;

int g_first = 0;
int g_second = 0;
void setFirst(int value) { g_first = value; }
void setSecond(int value) { g_second = value; }
int querySecond() { return g_second; }

TEST(Features, RegistrationCountsAndTheLatestHandlersWin) {
    const std::string name = "vhostTestFeature";
    EXPECT_EQ(host::svFeatureRegistrationCount(name), 0);
    EXPECT_FALSE(host::svSetFeature(name, 1));
    EXPECT_EQ(vhost::queryFeature(name), std::nullopt);

    host::svRegisterFeature(name, 0, setFirst, nullptr);
    EXPECT_EQ(host::svFeatureRegistrationCount(name), 1);
    EXPECT_TRUE(host::svSetFeature(name, 5));
    EXPECT_EQ(g_first, 5);
    EXPECT_EQ(vhost::queryFeature(name), std::nullopt) << "no query handler";

    host::svRegisterFeature(name, 0, setSecond, querySecond);
    EXPECT_EQ(host::svFeatureRegistrationCount(name), 2);
    EXPECT_TRUE(host::svSetFeature(name, 9));
    EXPECT_EQ(g_first, 5);
    EXPECT_EQ(g_second, 9);
    EXPECT_EQ(vhost::queryFeature(name), 9);

    auto names = vhost::registeredFeatures();
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end());
}

TEST(LogSettings, ChannelThresholdsFromTheSetting) {
    constexpr int off = vhost::log::kOff;
    const struct {
        const char* setting;
        const char* channel;
        int threshold;
    } cases[] = {
        {"", "orb::a", off},
        {"orb::a:debug", "orb::a", 1},
        {"orb::a:debug", "orb::ab", off},
        {"orb::a:3", "orb::a", 3},
        {"*:info", "orb::anything", 2},
        {"orb::*:warning", "other::x", off},
        {"*:error,orb::a:debug", "orb::a", 1},
        {"orb::a:loud", "orb::a", off},
        {" orb::a : info ", "orb::a", 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vhost::log::thresholdFor(c.setting, c.channel), c.threshold) << "'" << c.setting << "' for " << c.channel;
    }
}

TEST(InstallPath, FromTheEnvironmentElseFromTheLibrary) {
    const char* given = std::getenv("VELTRA_ROOT");
    const std::optional<std::string> saved = given ? std::optional<std::string>(given) : std::nullopt;
    ::setenv("VELTRA_ROOT", "/some/where/else", 1);
    EXPECT_EQ(host::get_install_path(), "/some/where/else");

    ::setenv("VELTRA_ROOT", "", 1);
    const fs::path fromLibrary = host::get_install_path();
    ::unsetenv("VELTRA_ROOT");
    EXPECT_EQ(fs::path(host::get_install_path()), fromLibrary);
    // libvhost.so sits in <stage>/lib.
    EXPECT_TRUE(fs::equivalent(fromLibrary, ORB_STAGE_DIR)) << fromLibrary;
    if (saved) ::setenv("VELTRA_ROOT", saved->c_str(), 1);
}

}  // namespace
