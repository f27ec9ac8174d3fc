// Subcommands of the orb tool. Each lives in a file of its own and registers itself with a
// static SubcommandRegistration, so adding one touches no other file.
#pragma once

#include <string>
#include <vector>

namespace orbtool {

// Exit statuses shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the work itself failed
inline constexpr int kExitUsage = 2;    // the command line was wrong

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
