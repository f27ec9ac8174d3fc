// The last resort when an error cannot be raised: the diagnostic goes straight to file
// descriptor 2 (stdio may be the thing that is broken) and the process aborts.
#include <unistd.h>

#include <cstdlib>

#include "host/exceptions.hpp"

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
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(STDERR_FILENO, text.data() + written, text.size() - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    std::abort();
}

}  // namespace host
