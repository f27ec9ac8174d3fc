// The failures the resource compiler reports, by exit status. A command line it cannot use is
// the tools' UsageError; it and a file that cannot be read or written end with
// "Error: <message>", exit status 1.
#pragma once

#include <stdexcept>
#include <string>

#include "common/command_line.hpp"

namespace rc {

using tools::UsageError;

// A file that cannot be read or written.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A manifest that is not strict JSON, not an object, or repeats a key: the message as it
// stands, exit status 2.
struct ManifestError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline constexpr int kExitUsage = 1;
inline constexpr int kExitManifest = 2;

}  // namespace rc
