#include "vhost/log/log_settings.hpp"

#include <algorithm>
#include <array>
#include <optional>

namespace vhost::log {
namespace {

std::string_view trim(std::string_view text) {
    auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::optional<int> parseSeverity(std::string_view word) {
    static constexpr std::array<std::string_view, 5> kNames = {"trace", "debug", "info", "warning", "error"};
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (word == kNames[i] || (word.size() == 1 && word[0] == static_cast<char>('0' + i))) return static_cast<int>(i);
    }
    return std::nullopt;
}

bool matches(std::string_view pattern, std::string_view channel) {
    if (!pattern.empty() && pattern.back() == '*') {
        return channel.substr(0, pattern.size() - 1) == pattern.substr(0, pattern.size() - 1);
    }
    return pattern == channel;
}

}  // namespace

int thresholdFor(std::string_view setting, std::string_view channel) {
    int threshold = kOff;
    while (!setting.empty()) {
        auto comma = setting.find(',');
        std::string_view item = trim(setting.substr(0, comma));
        setting = comma == std::string_view::npos ? std::string_view() : setting.substr(comma + 1);
        if (item.empty()) continue;
        // Channel names contain "::", so the severity is whatever follows the last single colon.
        std::string_view pattern = item;
        int severity = 0;
        auto colon = item.rfind(':');
        if (colon != std::string_view::npos && (colon == 0 || item[colon - 1] != ':')) {
            auto parsed = parseSeverity(trim(item.substr(colon + 1)));
            if (!parsed) continue;
            severity = *parsed;
            pattern = trim(item.substr(0, colon));
        }
        if (!pattern.empty() && matches(pattern, channel)) threshold = std::min(threshold, severity);
    }
    return threshold;
}

}  // namespace vhost::log
