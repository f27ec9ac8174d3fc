// Host logging library: diagnostic channels, off unless the user switches them on.
//
// A channel is enabled by the environment variable ORB_LOG, a comma-separated list of
// CHANNEL:SEVERITY items (for example "orb::orbfile_inspector:debug"); "*" names every channel.
// Severities: trace 0, debug 1, info 2, warning 3, error 4 (higher is more severe; a channel
// enabled at a severity logs that severity and above). Records go to standard error.
#pragma once

#include <memory>
#include <string>

#include "host/host_api.hpp"

namespace host::log {

class HOST_API DiagnosticLogger {
public:
    explicit DiagnosticLogger(std::string channel);
    ~DiagnosticLogger();
    DiagnosticLogger(const DiagnosticLogger&) = delete;
    DiagnosticLogger& operator=(const DiagnosticLogger&) = delete;

    const std::string& channel() const noexcept { return m_channel; }
    // Cheap: no record is made when this is false.
    bool enabled(int severity) const noexcept;
    // Writes one record. Thread-safe.
    void push(int severity, const std::string& text) const;

private:
    std::string m_channel;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace host::log
