// Host process library: running external programs at build time (the linker, the resource
// compiler) and finding programs on the search path.
//
// A program runs from an argument list, never from a shell string: element 0 is the program,
// the rest are its arguments. Every operation may be called from any thread.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_api.hpp"

namespace host::process {

// The program of a command could not be found or started. what() names the program and the
// reason.
class command_not_found : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a finished program left: its exit status and everything it wrote.
struct Completed {
    int exitStatus = 0;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs `args` and waits for it: standard output and standard error each go to a pipe of their
// own (both are drained while the program runs, so neither can fill up and stall it) and standard
// input is closed. The program runs detached from the caller: it gets no console of the caller's
// to read from or write to (on POSIX it stays in the caller's process group, so an interrupt of
// the caller reaches it too).
//
// A program given without a directory is searched on the PATH; one with a directory is taken as
// given. How the list reaches the program: arguments are passed as the list says, except for a
// quoted path that was split at its blanks. An argument that starts with a double quote, or with
// "-Wl," and a double quote, and holds no other quote, is joined with the following arguments, by
// one blank each, up to the first one that holds a quote, when that one ends with its only quote;
// the joined argument loses its two quotes. So ("-Wl,\"/a", "b/c.zip\"") arrives whole
// ("-Wl,/a b/c.zip"), as it would through a command line, while a quote anywhere else (a path
// such as /tmp/a"b/m.c) is an ordinary character.
//
// Throws std::invalid_argument("args must not be empty") for an empty list, command_not_found when
// the program cannot be found or started, and std::runtime_error when the pipes cannot be made.
// A program that dies of a signal has exit status 128 + the signal number.
HOST_API Completed run(const std::vector<std::string>& args);

// The full path of the program `name` as the platform's program search finds it (the search path
// for a bare name; the name itself for one with a directory, when it is an executable file);
// empty when none is found.
HOST_API std::string which(const std::string& name);

// The platform's lookup command's first answer for `name`, with surrounding white space removed;
// empty when it finds nothing.
HOST_API std::string where(const std::string& name);

// Called with the argument list (after the quote joining above) of every program that run()
// starts, just before it starts, on the calling thread; the tools use it to show each command.
// An empty function (the default) switches that off. Not meant to be changed while another
// thread runs programs.
HOST_API void setCommandObserver(std::function<void(const std::vector<std::string>&)> observer);

}  // namespace host::process
