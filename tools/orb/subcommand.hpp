// Subcommands of the orb tool. Each lives in a file of its own and registers itself with a
// static SubcommandRegistration, so adding one touches no other file.
#pragma once

#include <string>
#include <vector>

#include "common/command_line.hpp"

namespace orbtool {

// A command line the user got wrong, as every tool reports it.
using tools::UsageError;

// Exit statuses shared by every subcommand. A file or folder that the command line names and
// that does not exist is a failure of the work (1), as it is for orb check and orb version; a
// command line the tool cannot read (an unknown option, a missing or malformed value, an argument
// of the wrong kind, nothing to do) is a usage error (2).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the work itself failed
inline constexpr int kExitUsage = 2;    // the command line was wrong

// The rule, as `orb help` and every subcommand's --help end.
inline constexpr const char* kExitStatusRule =
    "Exit status: 0 success, 1 the work failed (a build error, a module with an error, a host error,\n"
    "a file or folder that does not exist), 2 usage error (the command line is wrong).\n";

struct Subcommand {
    std::string name;
    // One line for the overview of `orb help`.
    std::string summary;
    // Runs with the arguments after the subcommand name; answers the exit status. Must handle
    // --help itself (print its usage to standard output and answer kExitOk).
    int (*run)(const std::vector<std::string>& args);
};

// Every registered subcommand, sorted by name.
std::vector<Subcommand> subcommands();
// The subcommand called `name`, or null.
const Subcommand* findSubcommand(const std::string& name);

struct SubcommandRegistration {
    explicit SubcommandRegistration(Subcommand subcommand);
};

}  // namespace orbtool
