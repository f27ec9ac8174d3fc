// Operating-system services the host's own components and the host's application use, besides
// the host operations of src/host/*.hpp that vhost/platform implements. The declarations are the
// same on every system; each system's implementation lives in a folder of its own (posix/).
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// What a finished child process left: its exit status (as exitStatusOf gives it) and everything
// it wrote to its standard output and standard error.
struct ChildRun {
    int exitStatus = 0;
    std::string out;
    std::string err;
};

// Starts `program` (a path) with the argument list `argv` (its element 0 included) and the
// caller's environment, standard input reading nothing and both output streams on pipes of their own,
// drained together until the child closes them; then waits for it. The child borrows the caller's
// memory until it has started the program (no copy of the caller's page tables is made). Throws
// std::system_error with the system's reason when the program cannot be started or the pipes
// cannot be made.
ChildRun runChild(const std::string& program, const std::vector<std::string>& argv);

// A library of the system, loaded by the name the system's loader searches for (its soname, such
// as "libreadline.so.8") and kept for the life of the process, so that a program needs it only
// when it uses it; null when it cannot be loaded.
HOST_API void* loadSystemLibrary(const char* name);

// The address of the function or variable `name` in a library loadSystemLibrary answered; null
// when it has none.
HOST_API void* systemLibrarySymbol(void* library, const char* name);

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
