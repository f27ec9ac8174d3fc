// orb: the command-line tool of the runtime. `orb SUBCOMMAND [ARGS]`; `orb help` lists the
// subcommands and `orb SUBCOMMAND --help` describes one.

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "subcommand.hpp"

namespace {

void printOverview(std::ostream& out) {
    out << "usage: orb SUBCOMMAND [OPTIONS] [ARGS]\n\nSubcommands:\n";
    std::size_t width = 4;  // "help"
    for (const auto& command : orbtool::subcommands()) width = std::max(width, command.name.size());
    out << "  " << std::string("help") << std::string(width - 4 + 2, ' ')
        << "show this list, or the usage of one subcommand (orb help SUBCOMMAND)\n";
    for (const auto& command : orbtool::subcommands()) {
        out << "  " << command.name << std::string(width - command.name.size() + 2, ' ') << command.summary
            << "\n";
    }
    out << "\nRun 'orb SUBCOMMAND --help' for the options of a subcommand.\n";
}

int unknownSubcommand(const std::string& name) {
    std::cerr << "orb: unknown subcommand '" << name << "'. Run 'orb help' for the list.\n";
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
        if (name == "help" && args.size() > 1) {
            const auto* command = orbtool::findSubcommand(args[1]);
            if (command == nullptr) return unknownSubcommand(args[1]);
            return command->run({"--help"});
        }
        printOverview(std::cout);
        return orbtool::kExitOk;
    }

    const auto* command = orbtool::findSubcommand(name);
    if (command == nullptr) return unknownSubcommand(name);
    try {
        return command->run(std::vector<std::string>(args.begin() + 1, args.end()));
    } catch (const std::exception& error) {
        std::cerr << "orb " << name << ": " << error.what() << "\n";
        return orbtool::kExitFailure;
    }
}
