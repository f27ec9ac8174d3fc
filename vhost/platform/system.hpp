// Operating-system services the host's own components and the host's application use, besides
// the host operations of src/host/*.hpp that vhost/platform implements. The declarations are the
// same on every system; each system's implementation lives in a folder of its own (posix/).
#pragma once

#include <string>
#include <string_view>

#include "host/host_api.hpp"

namespace vhost::platform {

// The file the loaded library (or program) holding the code at `address` was mapped from, as the
// system's loader names it; empty when the system cannot tell.
std::string fileOfLoadedCode(const void* address);

// Writes `text` to the process's standard error directly, bypassing every buffer (the streams may
// be the thing that is broken). Gives up quietly when the write fails.
void writeToStandardError(std::string_view text) noexcept;

// Whether `path` names a regular file the calling process may execute.
bool isExecutableFile(const std::string& path);

// The exit status of a finished child process from the status the system reported for it: its
// own exit status, or 128 plus the signal number that ended it; `otherwise` when the status says
// neither.
int exitStatusOf(int nativeStatus, int otherwise);

enum class StandardStream { Input, Output, Error };

// Whether the standard stream is connected to a terminal.
HOST_API bool isTerminal(StandardStream stream);

// The width in columns of the terminal on standard output; 0 when it is not a terminal or the
// system does not say.
HOST_API int terminalColumns();

// Runs `handler` (a plain signal handler) when the terminal sends an interrupt (Ctrl-C). A blocking
// read the interrupt arrives in is not restarted, so that the reader sees it at once.
HOST_API void onTerminalInterrupt(void (*handler)(int));

}  // namespace vhost::platform
