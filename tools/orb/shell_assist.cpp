#include "shell_assist.hpp"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include "check_advice.hpp"
#include "host/i18n.hpp"
#include "host_session.hpp"
#include "loader/orb_module_file.hpp"
#include "orbfile/module_verdict.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/lang/functions.hpp"
#include "vhost/lang/interpreter.hpp"
#include "vhost/lang/workspace.hpp"
#include "vhost/ry/array.hpp"

namespace orbtool::shell {
namespace {

namespace fs = std::filesystem;

constexpr const char* kModuleExtension = ".orbw64";

// The shell's own commands, with what `help` says of them.
const std::pair<const char*, const char*> kCommands[] = {
    {"help", "help NAME says what NAME is: a variable, a built-in or a module (with its file and its check)"},
    {"leaks", "leaks on|off: after each module call, show what the runtime freed on its behalf"},
    {"clear", "clear NAME unloads a module (its exit functions run); clear all also empties the workspaces"},
    {"exit", "leaves the shell (so does quit, or Ctrl-D)"},
    {"quit", "leaves the shell"},
};

// How each built-in is called. Built-ins missing here are shown without a usage line.
const std::map<std::string, std::string> kBuiltinUsage = {
    {"disp", "disp(value): show a value without its name"},
    {"class", "class(value): the class of a value, as text"},
    {"size", "size(value), size(value, dim): the dimensions"},
    {"numel", "numel(value): the number of elements"},
    {"double", "double(value): convert to double (also single, int8 ... uint64, logical, char)"},
    {"struct", "struct('field', value, ...): a 1x1 struct"},
    {"error", "error('component:mnemonic', 'message'): raise an error"},
    {"warning", "warning('component:mnemonic', 'message'): show a warning"},
    {"evalin", "evalin(workspace, text): run text in 'base', 'caller' or 'global'"},
    {"assignin", "assignin(workspace, name, value): set a variable of a workspace"},
    {"figure", "figure(): a new graphics figure (a handle object)"},
    {"get", "get(object, 'Property'): read a graphics property"},
    {"set", "set(object, 'Property', value): write a graphics property"},
    {"true", "true: logical 1"},
    {"false", "false: logical 0"},
    {"pi", "pi: 3.14159..."},
};

// The folders searched for module files, in search order.
std::vector<fs::path> searchFolders() {
    std::vector<fs::path> folders;
    const auto add = [&](const fs::path& folder) {
        fs::path normal = folder.lexically_normal();
        if (!normal.has_filename() && normal.has_parent_path() && normal != normal.root_path()) normal = normal.parent_path();
        if (std::find(folders.begin(), folders.end(), normal) == folders.end()) folders.push_back(normal);
    };
    for (const auto& folder : vhost::path()) add(folder);
    add(fs::current_path());
    return folders;
}

std::vector<std::string> moduleNames() {
    std::vector<std::string> names;
    for (const auto& folder : searchFolders()) {
        std::error_code error;
        for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
            if (entry->path().extension() == kModuleExtension) names.push_back(entry->path().stem().string());
        }
    }
    return names;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t;");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t;");
    return text.substr(first, last - first + 1);
}

void helpOverview() {
    std::cout << "Statements of the host's language run as typed: x = [1 2; 3 4], y = scale(x, 2), s.a = 'text'.\n"
                 "A statement ending in ';' runs quietly. Tab completes variables, built-ins and modules.\n\n"
                 "Commands of the shell:\n";
    for (const auto& [name, text] : kCommands) std::cout << "  " << name << std::string(8 - std::string(name).size(), ' ') << text << "\n";
    std::cout << "\nModules on the search path:";
    auto modules = moduleNames();
    std::sort(modules.begin(), modules.end());
    modules.erase(std::unique(modules.begin(), modules.end()), modules.end());
    if (modules.empty()) std::cout << " none (start the shell with --path DIR, or in the modules' folder)";
    for (const auto& name : modules) std::cout << " " << name;
    std::cout << "\nBuilt-ins:";
    for (const auto& name : vhost::lang::builtinNames()) std::cout << " " << name;
    std::cout << "\n";
}

// The identifier of the machine fault that stopped the loaded module `name`, or empty.
std::string faultOf(const std::string& name) {
    const auto* function = dynamic_cast<const orb::loader::OrbFunctionHandle*>(
        vhost::currentDispatcher().findFunction(name));
    return function ? function->faultIdentifier() : std::string();
}

void helpOn(const std::string& name) {
    // The language looks up variables first, then built-ins, then module files; help follows it.
    if (const ryArray* value = vhost::lang::workspaces().current().find(name)) {
        std::cout << name << " is a variable: " << value->className() << " ";
        const auto& dims = value->dims();
        for (std::size_t i = 0; i < dims.size(); ++i) std::cout << (i == 0 ? "" : "x") << dims[i];
        std::cout << "\n";
        return;
    }
    for (const auto& [command, text] : kCommands) {
        if (name == command) {
            std::cout << name << " is a command of the shell: " << text << "\n";
            return;
        }
    }
    if (vhost::lang::findBuiltin(name) != nullptr) {
        std::cout << name << " is a built-in function of the reference host.\n";
        if (const auto usage = kBuiltinUsage.find(name); usage != kBuiltinUsage.end()) {
            std::cout << "  " << usage->second << "\n";
        }
        return;
    }
    if (const auto file = moduleFileOf(name)) {
        std::cout << name << " is a module function: " << *file << "\n";
        const auto open = vhost::currentDispatcher().openModules();
        const bool loaded = std::find(open.begin(), open.end(), name) != open.end();
        const std::string fault = loaded ? faultOf(name) : std::string();
        if (!fault.empty()) {
            std::cout << "  loaded, and refused: a machine fault (" << fault << ") stopped one of its calls; \""
                      << "clear " << name << "\" unloads it and the next call loads it afresh\n";
        } else {
            std::cout << "  " << (loaded ? "loaded" : "not loaded yet") << "; call it as " << name
                      << "(ARGS) or [a, b] = " << name << "(ARGS)\n";
        }
        // What orb check says of it: its start-up code is proved in a copy of the process (once
        // per file; the loader has done so for a loaded module), and nothing else of it runs
        // unless the file must be loaded to read its version.
        const orbfile::ModuleVerdict verdict = orbfile::checkModule(host::i18n::to_ustring(*file));
        std::cout << "  " << (verdict.inspector().is_cpp_orb() ? "a C++ module" : "a C or Fortran module")
                  << "; check: " << check::verdictLine(verdict) << "\n";
        for (const auto& finding : verdict.findings()) {
            std::cout << "  fix: " << check::fixFor(finding, *file, check::moduleOf(verdict)) << "\n";
        }
        return;
    }
    std::cout << notFoundText(name, "orb shell --path DIR") << "\n";
}

// Optimal string alignment distance: insertions, deletions, substitutions and swaps of neighbours.
std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

std::vector<std::string> completions(const std::string& prefix) {
    std::set<std::string> names;
    const auto add = [&](const std::string& name) {
        if (name.starts_with(prefix)) names.insert(name);
    };
    for (const auto& name : vhost::lang::workspaces().current().names()) add(name);
    for (const auto& name : vhost::lang::builtinNames()) add(name);
    for (const auto& name : moduleNames()) add(name);
    for (const auto& [name, text] : kCommands) add(name);
    return {names.begin(), names.end()};
}

std::vector<std::string> closestNames(const std::string& word, const std::vector<std::string>& candidates) {
    const std::size_t allowed = word.size() <= 4 ? 1 : 2;
    std::vector<std::pair<std::size_t, std::string>> near;
    for (const auto& candidate : std::set<std::string>(candidates.begin(), candidates.end())) {
        // Lengths far apart cannot be close; the distance is the costly part.
        if (candidate == word || candidate.size() + allowed < word.size() || word.size() + allowed < candidate.size()) {
            continue;
        }
        const std::size_t distance = editDistance(word, candidate);
        if (distance <= allowed) near.emplace_back(distance, candidate);
    }
    std::sort(near.begin(), near.end());
    std::vector<std::string> names;
    for (std::size_t i = 0; i < near.size() && i < 3; ++i) names.push_back(near[i].second);
    return names;
}

std::string notFoundText(const std::string& name, const std::string& pathOption) {
    std::string text = name + " is neither a variable, a built-in nor a module on the search path:";
    for (const auto& folder : searchFolders()) text += " " + folder.string();
    std::vector<std::string> known = vhost::lang::workspaces().current().names();
    for (const auto& builtin : vhost::lang::builtinNames()) known.push_back(builtin);
    for (const auto& module : moduleNames()) known.push_back(module);
    const auto closest = closestNames(name, known);
    if (!closest.empty()) {
        text += "\n  Did you mean ";
        for (std::size_t i = 0; i < closest.size(); ++i) {
            text += (i == 0 ? "" : i + 1 == closest.size() ? " or " : ", ") + ("'" + closest[i] + "'");
        }
        text += "?";
    }
    text += "\n  A module is found as " + name + kModuleExtension + " in one of those folders; add a folder with " +
            pathOption + ".";
    return text;
}

std::optional<std::string> moduleFileOf(const std::string& name) {
    for (const auto& folder : searchFolders()) {
        const fs::path file = folder / (name + kModuleExtension);
        std::error_code error;
        if (fs::is_regular_file(file, error)) return file.lexically_normal().string();
    }
    return std::nullopt;
}

bool runShellCommand(const std::string& line) {
    const std::string command = trimmed(line);
    const auto blank = command.find_first_of(" \t");
    const std::string word = command.substr(0, blank);
    const std::string rest = blank == std::string::npos ? std::string() : trimmed(command.substr(blank));
    // A word that is a variable is the variable, not a command.
    if ((word != "help" && word != "leaks") || vhost::lang::workspaces().current().find(word) != nullptr) return false;
    // "help(x)" or "leaks = 1" are statements.
    if (!rest.empty() && rest.find_first_of("=(") == 0) return false;
    if (word == "help") {
        if (rest.empty()) {
            helpOverview();
        } else {
            helpOn(rest);
        }
        return true;
    }
    if (rest == "on" || rest == "off") {
        setLeakReports(rest == "on");
        std::cout << "leak reports " << rest << "\n";
    } else if (rest.empty()) {
        std::cout << "leak reports are " << (leakReportsOn() ? "on" : "off") << "; module calls so far left "
                  << leakTotals() << "\n";
    } else {
        std::cout << "usage: leaks [on|off]\n";
    }
    return true;
}

}  // namespace orbtool::shell
