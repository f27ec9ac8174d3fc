// The two kinds of failure the resource compiler reports, by exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace rc {

// Bad usage or an input/output failure: "Error: <message>", exit status 1.
struct UsageError : std::runtime_error {
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
