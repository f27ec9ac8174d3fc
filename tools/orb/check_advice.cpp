#include "check_advice.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "startup/log_record.hpp"
#include "vhost/platform/system.hpp"

namespace orbtool::check {
namespace {

namespace fs = std::filesystem;
using Verdict = orbfile::ModuleVerdict;
using Finding = orbfile::ModuleVerdict::Finding;

const char* const kOptions[] = {"-compatibleArrayDims", "-R2017b", "-R2018a"};

std::string utf8(std::u16string_view text) { return orb::startup::logText(text); }

// How the module's sources are named in a command: a source of the module's name next to it or in
// the current folder, else the placeholder.
std::string sourcesOf(const std::string& file) {
    const fs::path module(file);
    const std::string stem = module.stem().string();
    for (const fs::path& folder : {module.parent_path(), fs::path()}) {
        for (const char* extension : {".c", ".cpp", ".cc", ".cxx", ".f90", ".F90", ".f", ".F"}) {
            const fs::path candidate = folder / (stem + extension);
            std::error_code error;
            if (fs::is_regular_file(candidate, error)) return candidate.string();
        }
    }
    return "SOURCES";
}

// A command, quoted so that it stands out and is never broken across lines.
std::string command(const std::string& text) { return "`" + text + "`"; }

std::string build(const std::string& option, const std::string& file) {
    return command("orb build " + (option.empty() ? std::string() : option + " ") + sourcesOf(file));
}

bool startsWithBytes(const std::string& file, const char* magic, std::size_t size) {
    std::ifstream in(file, std::ios::binary);
    std::string head(size, '\0');
    return in.read(head.data(), static_cast<std::streamsize>(size)) && head == std::string(magic, size);
}

std::string symbolList(const Finding& message) {
    std::string list;
    std::vector<std::u16string> seen;
    for (const auto& symbol : message.symbols) {
        if (std::find(seen.begin(), seen.end(), symbol) != seen.end()) continue;
        seen.push_back(symbol);
        list += (list.empty() ? "" : ", ") + utf8(symbol);
    }
    return list;
}

bool isSeparateImaginaryAccessor(const std::string& name) {
    return name.ends_with("Pi") || name.find("Imag") != std::string::npos;
}

// The listed functions that handle separate imaginary parts ("ryGetPi, rySetPi"), or empty text.
std::string separateImaginaryAccessors(const Finding& message) {
    Finding only{message.id, message.error, {}, {}, {}};
    for (const auto& symbol : message.symbols) {
        if (isSeparateImaginaryAccessor(utf8(symbol))) only.symbols.push_back(symbol);
    }
    return symbolList(only);
}

}  // namespace

const char* verdictWord(const Verdict& verdict) {
    switch (verdict.kind()) {
        case Verdict::Kind::Error: return "error";
        case Verdict::Kind::Upgrade: return "upgrade recommended";
        case Verdict::Kind::Ok: break;
    }
    return "ok";
}

const char* findingTitle(const std::string& id) {
    static const std::pair<const char*, const char*> kTitles[] = {
        {"ENONAME", "no file named"},
        {"ENOFILE", "no such file"},
        {"ENOREAD", "the file cannot be read"},
        {"ENOTORB", "not a module of this platform"},
        {"ELNKAPI", "mixes two array interface generations"},
        {"EVERAPI", "its embedded version contradicts its code"},
        {"EUNKAPI", "built by a newer release"},
        {"ELNKCPP", "a C++ module using a separate-complex C interface"},
        {"ENOEVER", "carries no interface version"},
        {"URECOMP", "built for an earlier interface"},
        {"ULATEST", "uses untyped data accessors"},
        {"UCOMPAT", "uses separate imaginary parts"},
        {"ULEGACY", "uses 32-bit dimensions"},
        {"UENTRYP", "defines no entry point"},
        {"EBADBIN", "the file is damaged"},
        {"EPLATFM", "built for another platform"},
        {"ECPPENT", "a C++ module without its create or destroy entry point"},
        {"ENOENTP", "no entry point the loader accepts"},
        {"ENOLOAD", "needs a library or function that is not there"},
        {"ESTARTUP", "its start-up code or its create entry point fails"},
    };
    for (const auto& [name, title] : kTitles) {
        if (id == name) return title;
    }
    return "unknown finding";
}

Module moduleOf(const Verdict& verdict) {
    Module module;
    module.isCpp = verdict.inspector().is_cpp_orb();
    for (const auto& finding : verdict.findings()) module.separateParts |= finding.id == "UCOMPAT";
    return module;
}

std::string verdictLine(const Verdict& verdict) {
    const auto& findings = verdict.findings();
    std::string line = verdictWord(verdict);
    if (findings.empty()) return line + " - can be used with this release";
    line += " - ";
    if (verdict.has_error()) return line + findingTitle(findings.front().id) + " (" + findings.front().id + ")";
    for (std::size_t i = 0; i < findings.size(); ++i) {
        line += (i == 0 ? "" : "; ") + std::string(findingTitle(findings[i].id));
    }
    return line;
}

std::string startupNote(const Verdict& verdict) {
    if (!verdict.startup_skipped()) return {};
    return "start-up code not run (--no-startup): the verdict does not cover the module's constructors, "
           "and a version only its version function holds is not read";
}

std::string platformNote(const std::string& file) {
    if (!startsWithBytes(file, "MZ", 2)) return {};
    return "a Windows library: it can be inspected here, but only a module built on this platform loads here "
           "(" + build("", file) + ")";
}

std::vector<std::string> buildOptionsIn(const std::string& text) {
    std::vector<std::pair<std::size_t, std::string>> found;
    for (const char* option : kOptions) {
        // Whole options only: "-R2017b" must not be found inside a longer word.
        const std::string word(option);
        for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
            const std::size_t end = at + word.size();
            const bool whole = end == text.size() || !(std::isalnum(static_cast<unsigned char>(text[end])));
            if (whole) found.emplace_back(at, word);
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> options;
    for (auto& entry : found) options.push_back(std::move(entry.second));
    return options;
}

std::string fixFor(const Finding& message, const std::string& file, const Module& module) {
    const bool isCpp = module.isCpp;
    const std::string reason = utf8(message.reason);
    const auto options = buildOptionsIn(reason);
    const std::string first = options.empty() ? "-R2018a" : options.front();
    const std::string second = options.size() < 2 ? "-R2018a" : options[1];
    const std::string symbols = symbolList(message);
    const std::string entryPoint =
        isCpp ? "define the module's class and include <orb_cpp/module_entry.hpp> after it"
              : "define void orbFunction(int nlhs, ryArray *plhs[], int nrhs, const ryArray *prhs[]) (C) "
                "or the subroutine orbfunction, exported as orbfunction_ (Fortran)";
    const std::string& id = message.id;
    if (id == "ENONAME") {
        return "name a module file: " + command("orb check NAME.orbw64");
    }
    if (id == "ENOFILE") {
        return "check the path; to make the module, run " + build("", file);
    }
    if (id == "ENOREAD") {
        return "make it readable: " + command("chmod a+r " + file);
    }
    if (id == "ENOTORB") {
        if (startsWithBytes(file, "MZ", 2)) return "build the module on this platform from its sources: " + build("", file);
        return "rebuild it from its sources: " + build("", file);
    }
    if (id == "ELNKAPI") {
        if (const std::string parts = separateImaginaryAccessors(message); !parts.empty()) {
            return "compile every source in one command with one option: " + build("-R2017b", file) +
                   " (the code uses separate imaginary parts); or replace " + parts +
                   " with ryGetComplexDoubles and friends and run " + build("-R2018a", file);
        }
        return "compile every source in one command with one option: " + build(second, file) +
               " (do not link objects compiled with " + first + ")";
    }
    if (id == "EVERAPI") {
        return "rebuild with the option its code was compiled for: " + build(first, file) +
               "; remove a hand-written orbfilerequiredapiversion that states another interface";
    }
    if (id == "EUNKAPI") {
        return "rebuild it with this release: " + build("", file);
    }
    if (id == "ELNKCPP") {
        return "C++ modules use orb::data arrays: remove the calls of " + symbols +
               ", or compile them for the current interface: " + build("-R2018a", file);
    }
    if (id == "ENOEVER") {
        return "link it with orb build, which embeds the version: " + build("-R2018a", file);
    }
    if (id == "URECOMP") {
        return "rebuild it for the current interface: " + build("-R2018a", file);
    }
    if (id == "ULATEST") {
        return "replace " + symbols + " with the typed accessors (ryGetDoubles, ryGetInt32s, ..., " +
               "ryGetComplexDoubles), then " + build("-R2018a", file);
    }
    if (id == "UCOMPAT") {
        return "replace " + symbols + " with ryGetComplexDoubles / rySetComplexDoubles, then " +
               build("-R2018a", file);
    }
    if (id == "ULEGACY") {
        if (module.separateParts) {
            return "use size_t for dimensions and rebuild without -compatibleArrayDims: " + build("-R2017b", file) +
                   " while the code uses separate imaginary parts, " + build("-R2018a", file) + " once it does not";
        }
        return "use size_t for dimensions and rebuild without -compatibleArrayDims: " + build("-R2018a", file);
    }
    if (id == "UENTRYP") {
        return entryPoint + ", then " + build("", file);
    }
    if (id == "EBADBIN") {
        return "build it again: " + build("", file) + "; or copy it again if a copy was cut short";
    }
    if (id == "EPLATFM") {
        return "build the module on this platform from its sources: " + build("", file);
    }
    if (id == "ECPPENT") {
        return "include <orb_cpp/module_entry.hpp> once, after the module's class, then " + build("", file);
    }
    if (id == "ENOENTP") {
        return entryPoint + (symbols.empty() ? std::string() : " (instead of " + symbols + ")") + ", then " +
               build("", file);
    }
    if (id == "ENOLOAD") {
        return "install the library the reason names where the system loader finds it (its folder in "
               "LD_LIBRARY_PATH), or link the module against the library that defines the function, then " +
               build("", file);
    }
    if (id == "ESTARTUP" && reason.find("orbCreateOrbFunction") != std::string::npos) {
        return "make the create entry point return the function object: include <orb_cpp/module_entry.hpp> after "
               "the module's class and keep its constructor from failing, then " + build("", file);
    }
    if (id == "ESTARTUP") {
        return "make the module's global constructors and __attribute__((constructor)) functions unable to fail "
               "(move the work into the first call), then " + build("", file);
    }
    return {};
}

Layout layoutForStdout(const std::string& colourChoice) {
    Layout layout;
    const bool terminal = vhost::platform::isTerminal(vhost::platform::StandardStream::Output);
    const char* noColour = std::getenv("NO_COLOR");
    if (colourChoice == "always") {
        layout.colour = true;
    } else if (colourChoice == "auto") {
        layout.colour = terminal && (noColour == nullptr || *noColour == '\0');
    }
    if (terminal) {
        layout.width = 80;
        const int width = vhost::platform::terminalColumns();
        if (width >= 20) layout.width = static_cast<std::size_t>(width);
        if (const char* columns = std::getenv("COLUMNS")) {
            const long value = std::strtol(columns, nullptr, 10);
            if (value >= 20 && value <= 1000) layout.width = static_cast<std::size_t>(value);
        }
    }
    return layout;
}

std::string wrapped(const std::string& label, const std::string& text, std::size_t hang, const Layout& layout) {
    if (layout.width == 0) return label + text + "\n";
    // Columns count what the terminal shows: colour sequences take none, a UTF-8 character one.
    const auto visible = [](const std::string& part) {
        std::size_t n = 0;
        bool escape = false;
        for (char c : part) {
            if (c == '\x1b') escape = true;
            if (!escape && (static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
            if (escape && c == 'm') escape = false;
        }
        return n;
    };
    std::string out = label;
    std::size_t column = visible(label);
    std::size_t start = 0;
    bool lineHasWord = false;
    while (start < text.size()) {
        if (text[start] == '\n') {
            out += "\n" + std::string(hang, ' ');
            column = hang;
            lineHasWord = false;
            ++start;
            continue;
        }
        std::size_t end = text.find_first_of(" \n", start);
        if (end == std::string::npos) end = text.size();
        // A command quoted in backticks is one word, with whatever sticks to its ends: "(`a b`)".
        if (std::count(text.begin() + static_cast<std::ptrdiff_t>(start), text.begin() + static_cast<std::ptrdiff_t>(end),
                       '`') % 2 == 1) {
            const std::size_t close = text.find('`', end);
            if (close != std::string::npos) end = std::min(text.find_first_of(" \n", close), text.size());
        }
        const std::string word = text.substr(start, end - start);
        const std::size_t length = visible(word);
        if (lineHasWord && column + 1 + length > layout.width) {
            out += "\n" + std::string(hang, ' ');
            column = hang;
            lineHasWord = false;
        }
        if (lineHasWord) {
            out += ' ';
            ++column;
        }
        out += word;
        column += length;
        lineHasWord = lineHasWord || !word.empty();
        start = end < text.size() && text[end] == ' ' ? end + 1 : end;
    }
    return out + "\n";
}

std::string painted(const std::string& text, const char* role, const Layout& layout) {
    if (!layout.colour) return text;
    const std::string which(role);
    const char* code = which == "error"     ? "1;31"
                       : which == "upgrade" ? "1;33"
                       : which == "ok"      ? "1;32"
                       : which == "id"      ? "1"
                       : which == "fix"     ? "36"
                                            : "2";
    return std::string("\x1b[") + code + "m" + text + "\x1b[0m";
}

}  // namespace orbtool::check
