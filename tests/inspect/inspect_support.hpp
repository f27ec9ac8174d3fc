// What the inspection tests share: where the fixtures are, files made for one test, and the
// symbol listings of the system's own binary tools to compare the readers with.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "support/orb_tool.hpp"

namespace inspecttest {

using orbtest::lines;
using orbtest::modulePath;
using orbtest::nmNames;
using orbtest::pePath;
using orbtest::sorted;

inline std::u16string widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

inline std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The test's scratch folder, with files written into it by name.
struct ScratchDir {
    std::filesystem::path dir = orbtest::scratchDir();
    std::string path(const std::string& name) const { return (dir / name).string(); }
    std::string write(const std::string& name, const std::vector<unsigned char>& bytes) const {
        orbtest::writeBytes(dir / name, std::string(bytes.begin(), bytes.end()));
        return path(name);
    }
};

// The export names and the imported names (those with a name) that `objdump -p` lists for a
// PE file, in its order.
struct PeListing {
    std::vector<std::string> exports;
    std::vector<std::string> imports;
};
inline PeListing objdumpPe(const std::string& file) {
    const auto result = orbtest::runChild("/usr/bin/objdump", {"-p", file});
    if (result.exitCode != 0) throw std::runtime_error("objdump failed on " + file + ": " + result.err);
    PeListing listing;
    enum { None, Exports, Imports } section = None;
    static const std::regex exportLine(R"(^\s*\[\s*\d+\]\s+(\S+)\s*$)");
    static const std::regex importLine(R"(^\s*[0-9a-fA-F]+\s+\d+\s+(\S+)\s*$)");
    std::smatch match;
    for (const std::string& line : lines(result.out)) {
        if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
            section = Exports;
        } else if (line.find("Hint/Ord Member-Name") != std::string::npos) {
            section = Imports;
        } else if (section == Exports && std::regex_match(line, match, exportLine)) {
            listing.exports.push_back(match[1]);
        } else if (section == Imports && std::regex_match(line, match, importLine)) {
            if (match[1] != "<none>") listing.imports.push_back(match[1]);  // "<none>": by ordinal
        } else if (line.find_first_not_of(" \t") == std::string::npos) {
            section = None;
        }
    }
    return listing;
}

}  // namespace inspecttest
