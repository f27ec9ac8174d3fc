// The last resort when an error cannot be raised: the diagnostic goes straight to standard error,
// past every buffer (stdio may be the thing that is broken), and the process aborts.
#include <cstdlib>

#include "host/exceptions.hpp"
#include "vhost/platform/system.hpp"

namespace host {

void terminate(const std::string& message, const char* file, int line, const char* function) {
    std::string text = "Fatal error: " + message + "\n  at " + (file ? file : "<unknown file>") + ":" +
                       std::to_string(line);
    if (function && *function) text += " in " + std::string(function);
    text += "\n";
    try {
        text += captureStackTrace();
    } catch (...) {
        // The trace is a courtesy; the abort below is the point.
    }
    vhost::platform::writeToStandardError(text);
    std::abort();
}

}  // namespace host
