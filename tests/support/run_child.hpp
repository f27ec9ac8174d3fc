// Runs a program with an argument list and extra environment variables, and captures its exit
// status, standard output and standard error. Used by tests that need a fresh process (state a
// library fixes when it loads) or that drive a command-line tool.
#pragma once

#include <filesystem>
#include <future>
#include <map>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/process.hpp>

namespace orbtest {

struct ChildResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// `environment` entries are added to (or replace those of) this process's environment; an entry
// with an empty value removes the variable. The child inherits everything else, the sanitizer
// options of a sanitizer run included.
//
// The changes are made by env(1) in the child rather than with the library's environment object,
// whose lookup reads past the end of names shorter than the one it looks for (an out-of-bounds
// read the address sanitizer reports).
inline ChildResult runChild(const std::string& program, const std::vector<std::string>& args,
                            const std::map<std::string, std::string>& environment = {}) {
    namespace bp = boost::process;
    std::vector<std::string> envArgs;
    for (const auto& [name, value] : environment) {
        if (value.empty()) {
            envArgs.insert(envArgs.end(), {"-u", name});
        }
    }
    for (const auto& [name, value] : environment) {
        if (!value.empty()) envArgs.push_back(name + "=" + value);
    }
    envArgs.push_back(program);
    envArgs.insert(envArgs.end(), args.begin(), args.end());
    boost::asio::io_context io;
    std::future<std::string> out;
    std::future<std::string> err;
    bp::child child(bp::exe = "/usr/bin/env", bp::args = envArgs, bp::std_out > out, bp::std_err > err,
                    bp::std_in.close(), io);
    io.run();
    child.wait();
    return ChildResult{child.exit_code(), out.get(), err.get()};
}

// The test executable itself, for re-running one of its tests in a fresh process.
inline std::string selfExecutable() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

}  // namespace orbtest
