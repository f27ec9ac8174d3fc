// orb: the command-line tool of the runtime. `orb SUBCOMMAND [ARGS]`; `orb help` lists the
// subcommands and `orb SUBCOMMAND --help` describes one.

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "subcommand.hpp"

namespace {

void printOverview(std::ostream& out) {
    out << "usage: orb SUBCOMMAND [OPTIONS] [ARGS]\n       orb --version\n\nSubcommands:\n";
    std::size_t width = 4;  // "help"
    for (const auto& command : orbtool::subcommands()) width = std::max(width, command.name.size());
    out << "  " << std::string("help") << std::string(width - 4 + 2, ' ')
        << "show this list, or the usage of one subcommand (orb help SUBCOMMAND)\n";
    for (const auto& command : orbtool::subcommands()) {
        out << "  " << command.name << std::string(width - command.name.size() + 2, ' ') << command.summary
            << "\n";
    }
    out << "\nOptions:\n"
           "  --version   the release of this runtime and its current interface (as orb version)\n"
           "  -h, --help  show this help\n"
           "\nRun 'orb SUBCOMMAND --help' for the options of a subcommand.\n"
           "\n"
        << orbtool::kExitStatusRule;
}

int unknownSubcommand(const std::string& name) {
    std::cerr << "orb: unknown subcommand '" << name << "'. Run 'orb help' for the list of subcommands.\n";
    return orbtool::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        printOverview(std::cerr);
        return orbtool::kExitUsage;
    }

    const std::string& name = args.front();
    if (name == "help" || name == "--help" || name == "-h") {
        // orb help SUBCOMMAND is SUBCOMMAND's own --help; orb help --help (or help help) is this.
        if (name == "help" && args.size() > 1 && args[1] != "--help" && args[1] != "-h" && args[1] != "help") {
            const auto* command = orbtool::findSubcommand(args[1]);
            if (command == nullptr) return unknownSubcommand(args[1]);
            return command->run({"--help"});
        }
        printOverview(std::cout);
        return orbtool::kExitOk;
    }
    // The release, as the version subcommand says it.
    const std::string subcommand = name == "--version" ? "version" : name;

    const auto* command = orbtool::findSubcommand(subcommand);
    if (command == nullptr) return unknownSubcommand(name);
    try {
        return command->run(std::vector<std::string>(args.begin() + 1, args.end()));
    } catch (const std::exception& error) {
        std::cerr << "orb " << name << ": " << error.what() << "\n";
        return orbtool::kExitFailure;
    }
}
