// What `orb shell` offers beyond running statements: the names it can complete, `help [NAME]`,
// and `leaks [on|off]`. Everything acts on the calling thread's engine (the shell's session).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orbtool::shell {

// Every name that can start a statement and begins with `prefix`, sorted, each once: the
// variables of the current workspace, the built-ins, the functions of the module files in the
// search path's folders and the current folder, and the shell's own commands.
std::vector<std::string> completions(const std::string& prefix);

// The module file that a call of `name` would run (the first NAME.orbw64 on the search path, then
// in the current folder), or nothing.
std::optional<std::string> moduleFileOf(const std::string& name);

// What the tools say of a name that is not found: the folders searched, the closest names known
// (variables, built-ins, modules on the search path), and how to add a folder (`pathOption`, as
// "orb shell --path DIR"). Several lines, the first unindented, without a final newline.
std::string notFoundText(const std::string& name, const std::string& pathOption);

// The names of `candidates` closest to `word` in spelling (a letter added, dropped, changed, or
// two neighbours swapped, at most 1 for names up to 4 letters, else 2), nearest first, at most 3.
std::vector<std::string> closestNames(const std::string& word, const std::vector<std::string>& candidates);

// When `line` is one of the shell's own commands (help, help NAME, leaks, leaks on, leaks off),
// runs it, writing to standard output, and answers true. Any other line answers false.
bool runShellCommand(const std::string& line);

}  // namespace orbtool::shell
