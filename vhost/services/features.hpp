// The reference host's side of the services library: what a host tool or a test reads back.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/host_api.hpp"

namespace vhost {

// The value of a registered feature through its query handler; empty when the feature is
// unknown or has no query handler.
HOST_API std::optional<int> queryFeature(const std::string& name);
// Names of every registered feature, sorted.
HOST_API std::vector<std::string> registeredFeatures();

// Switches tasks mode (module calls run as background tasks) on or off. Process-wide.
HOST_API void setTasksMode(bool on);

// One call of a function that background tasks may not call.
struct DisallowedTaskBuiltin {
    std::string name;
    std::string kind;
};
// Every call recorded so far, oldest first.
HOST_API std::vector<DisallowedTaskBuiltin> disallowedTaskBuiltins();
HOST_API void clearDisallowedTaskBuiltins();

}  // namespace vhost
