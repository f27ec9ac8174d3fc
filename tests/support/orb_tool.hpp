// Where the test modules and fixtures are, the staged orb tool run as a user runs it, reading
// what it printed (lines, plain text searches, the numbers of a displayed value), and the
// system's nm listing of a binary.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "support/run_child.hpp"

namespace orbtest {

inline std::string modulePath(const std::string& name) {
    return std::string(ORB_TEST_MODULE_DIR) + "/" + name + ".orbw64";
}
inline std::string pePath(const std::string& name) { return std::string(ORB_SOURCE_DIR) + "/tests/fixtures/pe/" + name; }

inline const std::string kOrb = std::string(ORB_STAGE_DIR) + "/bin/orb";

inline ChildResult orb(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
    if (!std::filesystem::exists(kOrb)) throw std::runtime_error(kOrb + " is not built");
    return runChild(kOrb, args, env);
}

// `orb shell OPTIONS` with `input` on its standard input (a file, so the shell sees no terminal).
inline ChildResult orbShell(const std::string& input, const std::vector<std::string>& options = {}) {
    const std::filesystem::path file =
        std::filesystem::path(ORB_TEST_BINARY_DIR) / ("shell_input_" + std::to_string(::getpid()));
    std::ofstream(file) << input;
    std::vector<std::string> args = {"sh", "-c", "input=$1; shift; exec \"$@\" < \"$input\"", "sh", file.string(),
                                     kOrb, "shell"};
    args.insert(args.end(), options.begin(), options.end());
    auto result = runChild("/usr/bin/env", args);
    std::filesystem::remove(file);
    return result;
}

// "orb ARGS...", for failure messages.
inline std::string commandLine(const std::vector<std::string>& args) {
    std::string text = "orb";
    for (const auto& arg : args) text += " " + arg;
    return text;
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// How often `part` occurs in `text`, occurrences not overlapping.
inline std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

// The numbers in a displayed output, in the order shown (names, '=' and words are skipped).
inline std::vector<double> numbersIn(const std::string& text) {
    std::vector<double> numbers;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        char* end = nullptr;
        const double value = std::strtod(word.c_str(), &end);
        if (end != word.c_str() && *end == '\0') numbers.push_back(value);
    }
    return numbers;
}

inline std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// `nm -D --defined-only` or `--undefined-only`: the names, sorted, without their @VERSION suffixes.
inline std::vector<std::string> nmNames(const std::string& file, bool defined) {
    const auto result = runChild("/usr/bin/nm", {"-D", defined ? "--defined-only" : "--undefined-only", file});
    if (result.exitCode != 0) throw std::runtime_error("nm failed on " + file + ": " + result.err);
    std::vector<std::string> names;
    for (const std::string& line : lines(result.out)) {
        if (line.empty()) continue;
        std::string name = line.substr(line.find_last_of(' ') + 1);
        names.push_back(name.substr(0, name.find('@')));
    }
    return sorted(names);
}

}  // namespace orbtest
