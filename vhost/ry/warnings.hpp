// Warnings issued through the array library, recorded per engine so that tests and tools can read
// them back. Each warning is also printed to the command window as "Warning: " + text.
#pragma once

#include <string>
#include <vector>

#include "host/host_api.hpp"

namespace vhost::ry {

struct RecordedWarning {
    std::string identifier;  // may be empty
    std::string message;
    bool operator==(const RecordedWarning&) const = default;
};

// The warnings of the calling thread's engine, oldest first.
HOST_API std::vector<RecordedWarning> recordedWarnings();
// Returns them and starts a new record.
HOST_API std::vector<RecordedWarning> takeWarnings();
HOST_API void clearWarnings();

}  // namespace vhost::ry
