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

#include "support/run_child.hpp"

namespace inspecttest {

inline std::string modulePath(const std::string& name) {
    return std::string(ORB_TEST_MODULE_DIR) + "/" + name + ".orbw64";
}
inline std::string pePath(const std::string& name) { return std::string(ORB_SOURCE_DIR) + "/tests/fixtures/pe/" + name; }
inline std::u16string widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

inline std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A folder of files written by one test, removed with it.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name)
        : m_dir(std::filesystem::path(ORB_TEST_BINARY_DIR) / "scratch" / name) {
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string write(const std::string& name, const std::vector<unsigned char>& bytes) const {
        const std::string path = (m_dir / name).string();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }

private:
    std::filesystem::path m_dir;
};

inline std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

// `nm -D --defined-only` or `--undefined-only`: the names, without their @VERSION suffixes.
inline std::vector<std::string> nmNames(const std::string& file, bool defined) {
    const auto result =
        orbtest::runChild("/usr/bin/nm", {"-D", defined ? "--defined-only" : "--undefined-only", file});
    if (result.exitCode != 0) throw std::runtime_error("nm failed on " + file + ": " + result.err);
    std::vector<std::string> names;
    for (const std::string& line : lines(result.out)) {
        if (line.empty()) continue;
        std::string name = line.substr(line.find_last_of(' ') + 1);
        name = name.substr(0, name.find('@'));
        names.push_back(name);
    }
    return sorted(names);
}

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
