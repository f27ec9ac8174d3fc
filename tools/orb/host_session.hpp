// What `orb run` and `orb shell` share: the reference host with the runtime attached, one engine
// bound to the calling thread for the whole session, the module search path, and the way a host
// error is shown to the user.
#pragma once

#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/command_line.hpp"
#include "vhost/engine/engine.hpp"

namespace orbtool {

// Adds to `line` the option `--path DIR` (repeatable; read as "path", a list of texts), which
// `orb run` and `orb shell` share. Reading a DIR that is no folder throws MissingFile.
void addPathOption(tools::CommandLine& line);

using tools::UsageError;

// A file or folder the command line names does not exist (the work fails, exit status 1); the
// message says which, and what to check.
class MissingFile : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The host for one run of the tool. Attaches the runtime, creates an engine and binds it to the
// calling thread, and puts `paths` on the module search path so that the first one given is
// searched first. When the session ends, the engine's dispatcher unloads every module (their exit
// functions run).
class HostSession {
public:
    explicit HostSession(const std::vector<std::string>& paths);
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Puts one more folder at the front of the search path.
    void addPath(const std::string& folder);

private:
    vhost::Engine m_engine;
    vhost::EngineScope m_scope;
};

// Writes `error` to standard error the way the tools show host errors:
//   Error using NAME (IDENTIFIER): MESSAGE
// leaving out "using NAME" when no function is named and "(IDENTIFIER)" when there is none.
// Standard output is flushed first so that the error follows the output it came after. A function
// that was not found is followed by where modules were looked for and the closest names known;
// `pathOption` is how the user adds a folder ("orb run --path DIR").
void printError(const std::exception& error, const std::string& pathOption);

// Leak reports: while on, every module call, when it ends, writes to standard error what its
// frame freed on the module's behalf, that is what the module allocated and neither released nor
// returned:
//   leaks: alloc_many left 10000 arrays (320000 bytes) and 10000 memory blocks (320000 bytes)
//   leaks: twice left nothing
// A call made from inside another module call is indented under it. Off at start.
void setLeakReports(bool on);
bool leakReportsOn();
// What every frame freed since the session started, in the same words ("left ...").
std::string leakTotals();

}  // namespace orbtool
