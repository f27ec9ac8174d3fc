// The switch of the diagnostic channels: ORB_LOG, a comma-separated list of CHANNEL:SEVERITY.
#pragma once

#include <climits>
#include <string>
#include <string_view>

#include "host/host_api.hpp"

namespace vhost::log {

// Severity at and above which `channel` logs under the ORB_LOG value `setting`; kOff when it does not.
// SEVERITY is a name (trace, debug, info, warning, error) or its number 0..4; an item without
// one enables every severity. CHANNEL "*" matches every channel, and "prefix*" every channel
// that starts with prefix. Items that do not parse are ignored; when several items match a
// channel the most verbose wins.
constexpr int kOff = INT_MAX;
HOST_API int thresholdFor(std::string_view setting, std::string_view channel);

}  // namespace vhost::log
