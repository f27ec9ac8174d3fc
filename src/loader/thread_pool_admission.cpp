#include "loader/thread_pool_admission.hpp"

#include <algorithm>
#include <string_view>

#include "host/filesystem.hpp"
#include "orbfile/module_binary_reader.hpp"
#include "orbfile/retrieve_version.hpp"
#include "startup/log_channels.hpp"
#include "startup/thread_pool_switch.hpp"

namespace orb::loader {
namespace {

constexpr std::string_view kCppEntry = "orbFunctionAdapter";

// The names the file exports; none when it cannot be read as a module of this platform.
std::vector<std::string> exportedNames(const std::u16string& path) {
    try {
        orbfile::ModuleBinaryReader reader(host::fs::nativePath(path));
        reader.detect_format(true);
        return reader.read_defined_symbols();
    } catch (...) {
        return {};
    }
}

void logLine(int severity, const std::string& text) {
    const auto& channel = startup::threadPoolSupportLog();
    if (channel.enabled(severity)) channel.push(severity, text);
}

}  // namespace

bool allowThisOrbOnThreadPool(const std::u16string& path) {
    const auto& channel = startup::threadPoolSupportLog();
    ORB_LOG_FUNCTION(channel);
    const std::u16string& fullname = path;
    ORB_LOG(channel, startup::kLogDetail, fullname);

    if (!startup::isThreadPoolCppOrbEnabled()) {
        logLine(startup::kLogDetail, std::string(startup::kThreadPoolFeatureName) + " not enabled");
        return false;
    }
    const std::vector<std::string> names = exportedNames(path);
    const bool cppModule = std::any_of(names.begin(), names.end(), [](const std::string& name) {
        return name.size() == kCppEntry.size() && name == kCppEntry;
    });
    logLine(startup::kLogDetail, std::string("Looks like C++ ORB : ") + (cppModule ? "1" : "0"));
    if (!cppModule) return false;
    // The author's declaration is logged, not required: the switch is the host user's decision to
    // run C++ modules there, and `orb check --summary` shows the declaration before they make it.
    logLine(startup::kLogDetail, std::string("Declared thread-pool safe : ") +
                                     (orbfile::declares_threadpool_safe(path) ? "1" : "0"));
    return true;
}

}  // namespace orb::loader
