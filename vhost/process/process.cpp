// Running external programs: argument lists only, the child started by the platform layer with
// both output streams drained together, so that a program writing much to one of them never
// stalls.
#include "host/process.hpp"

#include <cstdlib>
#include <mutex>
#include <string_view>
#include <system_error>

#include "vhost/platform/system.hpp"

namespace host::process {
namespace {

std::mutex g_observerMutex;
std::function<void(const std::vector<std::string>&)> g_observer;

std::size_t quoteCount(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text) count += c == '"' ? 1 : 0;
    return count;
}

// Whether `argument` opens a quoted path that was split at its blanks: it starts with the quote
// (a quoted resource file) or with the linker option and the quote (a quoted bundle), and holds
// that one quote only.
bool opensQuotedPath(const std::string& argument) {
    const bool opens = argument.rfind("\"", 0) == 0 || argument.rfind("-Wl,\"", 0) == 0;
    return opens && quoteCount(argument) == 1;
}

// Arguments that a quoted path was split into are joined back, as a command line would read them.
// Only an argument that opens such a path starts a join, and only when a later argument closes it
// (ends with the one quote it holds); every other argument is passed as it is, quotes included.
std::vector<std::string> joinQuotedPieces(const std::vector<std::string>& given) {
    std::vector<std::string> args;
    args.reserve(given.size());
    for (std::size_t i = 0; i < given.size(); ++i) {
        const bool opens = opensQuotedPath(given[i]);
        std::size_t close = i + 1;
        while (opens && close < given.size() && quoteCount(given[close]) == 0) ++close;
        const bool closed =
            opens && close < given.size() && quoteCount(given[close]) == 1 && given[close].back() == '"';
        if (!closed) {
            args.push_back(given[i]);
            continue;
        }
        std::string joined = given[i];
        while (i < close) {
            ++i;
            joined += ' ';
            joined += given[i];
        }
        std::string unquoted;
        unquoted.reserve(joined.size());
        for (const char c : joined) {
            if (c != '"') unquoted += c;
        }
        args.push_back(std::move(unquoted));
    }
    return args;
}

}  // namespace

Completed run(const std::vector<std::string>& given) {
    if (given.empty()) throw std::invalid_argument("args must not be empty");
    const std::vector<std::string> args = joinQuotedPieces(given);
    std::function<void(const std::vector<std::string>&)> observer;
    {
        const std::lock_guard lock(g_observerMutex);
        observer = g_observer;
    }
    if (observer) observer(args);

    const std::string program = which(args[0]);
    if (program.empty()) {
        throw command_not_found("'" + args[0] + "': no such program" +
                                (args[0].find('/') == std::string::npos ? " on the search path" : ""));
    }

    vhost::platform::ChildRun child;
    try {
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), args.begin() + 1, args.end());
        child = vhost::platform::runChild(program, argv);
    } catch (const std::system_error& error) {
        throw command_not_found("'" + args[0] + "' cannot be started: " + error.code().message());
    }
    Completed completed;
    completed.exitStatus = child.exitStatus;
    completed.out = std::move(child.out);
    completed.err = std::move(child.err);
    return completed;
}

std::string which(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return vhost::platform::isExecutableFile(name) ? name : std::string();
    // The search path's folders in order, an empty one being the current folder.
    const char* const path = std::getenv("PATH");
    if (path == nullptr) return {};
    const std::string_view folders(path);
    for (std::size_t start = 0; start <= folders.size();) {
        std::size_t end = folders.find(':', start);
        if (end == std::string_view::npos) end = folders.size();
        const std::string_view folder = folders.substr(start, end - start);
        std::string candidate = folder.empty()        ? name
                                : folder.back() == '/' ? std::string(folder) + name
                                                       : std::string(folder) + "/" + name;
        if (vhost::platform::isExecutableFile(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

// The POSIX counterpart of the lookup command is the same search.
std::string where(const std::string& name) { return which(name); }

void setCommandObserver(std::function<void(const std::vector<std::string>&)> observer) {
    const std::lock_guard lock(g_observerMutex);
    g_observer = std::move(observer);
}

}  // namespace host::process
