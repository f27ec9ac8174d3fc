#include "subcommand.hpp"

#include <algorithm>
#include <map>

namespace orbtool {
namespace {

// A function-local static: registrations run from other files' static initialisers, in an order
// nobody controls.
std::map<std::string, Subcommand>& registry() {
    static std::map<std::string, Subcommand> commands;
    return commands;
}

}  // namespace

SubcommandRegistration::SubcommandRegistration(Subcommand subcommand) {
    const std::string name = subcommand.name;
    registry().insert_or_assign(name, std::move(subcommand));
}

std::vector<Subcommand> subcommands() {
    std::vector<Subcommand> list;
    for (const auto& [name, command] : registry()) list.push_back(command);
    return list;
}

const Subcommand* findSubcommand(const std::string& name) {
    const auto found = registry().find(name);
    return found == registry().end() ? nullptr : &found->second;
}

}  // namespace orbtool
