// orb build: compile the sources of a module against the SDK and link it with its metadata.
//
// Each source is compiled by the compiler of its language (C and Fortran with -fexceptions, so
// that an error raised by a service unwinds through the module's frames) into a private folder;
// a small generated source adds the module's version function for the chosen interface
// generation (compiled once per generation and kept), unless the module defines its own; then
// the link runs through the metadata-aware linker steps of the runtime. A single source built for
// the default generation is compiled by the link's own driver run instead. Nothing but the
// module is left behind.
//
// The tool reports as a compiler driver does: what the compilers and the linker say is shown
// once, as each of them ends; the metadata steps' progress lines (which they print through the
// host's output, and the tool is the host here) only with -v; on success one line.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <boost/algorithm/string/trim.hpp>
#include <boost/filesystem.hpp>
#include <boost/filesystem/fstream.hpp>
#include <nlohmann/json.hpp>

#include "host/i18n.hpp"
#include "host/install.hpp"
#include "host/libsyms.hpp"
#include "host/process.hpp"
#include "orbfile/inspector.hpp"
#include "orbfile/metadata/linker_commands.hpp"
#include "orbfile/version.hpp"
#include "startup/log_record.hpp"
#include "subcommand.hpp"
#include "vhost/platform/system.hpp"
#include "vhost/ut/output.hpp"

namespace orbtool {
namespace {

namespace bfs = boost::filesystem;

constexpr const char* kUsage = R"(usage: orb build [OPTIONS] SOURCES... [-o FILE]

Compiles the C, C++ and Fortran SOURCES of one module against the SDK of this installation and
links them into a module that carries its metadata (the interface generation it was built for).
Object files (.o), archives (.a) and shared libraries (.so) among the SOURCES go to the link as
they are. The module is named after the first source (NAME.orbw64) and written to the current
folder unless -o or --outdir say otherwise. What the compilers and the linker say is shown as
they say it; on success one line names the module.

The link refuses a module that calls a function its interface generation does not have (in C,
a function called without a declaration is an error too), and says which generation has it.

Interface generation (one of):
  -R2018a                interleaved complex data (the default)
  -R2017b                separate real and imaginary parts, 64-bit dimensions
  -compatibleArrayDims   separate real and imaginary parts, 32-bit dimensions

Environment:
  CFLAGS, CXXFLAGS, FFLAGS   options for every C, C++ or Fortran compile (before the command
                             line's own)
  LDFLAGS                    options for the link

Options:
  -o FILE                the module file (".orbw64" is added when missing)
  --outdir DIR           the folder of the module (created when missing)
  -I DIR                 add DIR to the include path
  -D NAME[=VALUE]        define a preprocessor macro (-U NAME undefines one)
  -L DIR                 add DIR to the library path
  -l NAME                link the library NAME
  -g, -gLEVEL            compile with debugging information
  -O, -OLEVEL            compile with optimisation (-O is -O2)
  -W..., -std=..., -f..., -m...
                         compiler options, given to every compile (-Wl,... goes to the link)
  -Xcompiler OPTION      give any other OPTION to every compile
  -Xlinker OPTION        give OPTION to the linker
  --compile-commands     also write the compile command of each source into
                         compile_commands.json in the current folder, for editors (clangd)
  --check                inspect the module once built and print what the inspection finds
  --threadpool-safe      declare the module safe to run on the host's thread pool (C++ modules
                         only; it then runs there while the feature ThreadPoolCppOrb is on)
  -v, --verbose          print every command run and the steps of the link
  -h, --help             show this help

Exit status: 0 the module was built (and, with --check, passes the inspection), 1 compiling,
linking or the check failed, 2 usage error.
)";

enum class Language { kC, kCxx, kFortran, kLinkInput };

struct Source {
    std::string path;
    Language language;
};

struct Settings {
    std::vector<Source> sources;
    orbfile::Version::APITAG generation = orbfile::Version::R2018a;
    std::string output;
    std::string outdir;
    std::vector<std::string> includes;
    std::vector<std::string> defines;  // each "-DNAME[=VALUE]" or "-UNAME", in the order given
    std::vector<std::string> libraryDirs;
    std::vector<std::string> libraries;
    std::vector<std::string> compileFlags;  // the compiler options given, for every compile
    std::vector<std::string> linkFlags;     // the linker options given
    bool debug = false;
    bool optimise = false;
    bool verbose = false;
    bool check = false;
    bool threadpoolSafe = false;
    bool compileCommands = false;
    bool help = false;
};

struct UsageError {
    std::string message;
};

std::optional<Language> languageOf(const std::string& path) {
    const std::string extension = bfs::path(path).extension().string();
    if (extension == ".c") return Language::kC;
    for (const char* e : {".cpp", ".cc", ".cxx", ".c++", ".C"}) {
        if (extension == e) return Language::kCxx;
    }
    for (const char* e : {".f", ".for", ".f90", ".f95", ".f03", ".f08", ".F", ".F90", ".F95", ".F03", ".F08"}) {
        if (extension == e) return Language::kFortran;
    }
    for (const char* e : {".o", ".a", ".so"}) {
        if (extension == e) return Language::kLinkInput;
    }
    return std::nullopt;
}

std::string utf8(const char16_t* text) { return text == nullptr ? std::string() : orb::startup::logText(text); }

// -I DIR and -IDIR alike: the value of a short option that takes one.
std::string valueOf(const std::vector<std::string>& args, std::size_t& i, const std::string& option) {
    if (args[i].size() > option.size()) return args[i].substr(option.size());
    if (i + 1 >= args.size()) throw UsageError{"option " + option + " needs a value"};
    return args[++i];
}

// -O2, -Os, -Ofast, -g3, -ggdb: a level given to -O or -g.
bool isLevelOption(const std::string& arg, char letter) {
    if (arg.size() < 3 || arg[0] != '-' || arg[1] != letter) return false;
    const std::string level = arg.substr(2);
    return level.find_first_not_of("0123456789sgzfastdbwarfline-") == std::string::npos;
}

Settings parse(const std::vector<std::string>& args) {
    Settings settings;
    std::optional<std::string> generationOption;
    const auto setGeneration = [&](orbfile::Version::APITAG tag, const std::string& option) {
        if (generationOption && *generationOption != option) {
            throw UsageError{*generationOption + " and " + option + " exclude each other: give one"};
        }
        generationOption = option;
        settings.generation = tag;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto starts = [&](const char* prefix) { return arg.rfind(prefix, 0) == 0; };
        bool generation = false;
        for (const auto tag : {orbfile::Version::COMPAT_32, orbfile::Version::R2017b, orbfile::Version::R2018a}) {
            if (arg == utf8(orbfile::Version::apitag2option(tag))) {
                setGeneration(tag, arg);
                generation = true;
            }
        }
        if (generation) continue;
        if (arg == "-h" || arg == "--help") {
            settings.help = true;
        } else if (arg == "-v" || arg == "--verbose") {
            settings.verbose = true;
        } else if (arg == "-g") {
            settings.debug = true;
        } else if (arg == "-O") {
            settings.optimise = true;
        } else if (arg == "--check") {
            settings.check = true;
        } else if (arg == "--threadpool-safe") {
            settings.threadpoolSafe = true;
        } else if (arg == "--compile-commands") {
            settings.compileCommands = true;
        } else if (arg == "--outdir") {
            if (i + 1 >= args.size()) throw UsageError{"option --outdir needs a folder"};
            settings.outdir = args[++i];
        } else if (starts("--outdir=")) {
            settings.outdir = arg.substr(9);
        } else if (arg == "-Xcompiler" || arg == "-Xlinker") {
            if (i + 1 >= args.size()) throw UsageError{"option " + arg + " needs the option to pass on"};
            if (arg == "-Xcompiler") {
                settings.compileFlags.push_back(args[++i]);
            } else {
                settings.linkFlags.insert(settings.linkFlags.end(), {"-Xlinker", args[++i]});
            }
        } else if (starts("-Wl,")) {
            settings.linkFlags.push_back(arg);
        } else if ((starts("-W") || starts("-f") || starts("-m") || starts("-std=")) && arg.size() > 2) {
            settings.compileFlags.push_back(arg);
        } else if (isLevelOption(arg, 'O') || isLevelOption(arg, 'g')) {
            settings.compileFlags.push_back(arg);
        } else if (starts("-o")) {
            settings.output = valueOf(args, i, "-o");
        } else if (starts("-I")) {
            settings.includes.push_back(valueOf(args, i, "-I"));
        } else if (starts("-D")) {
            settings.defines.push_back("-D" + valueOf(args, i, "-D"));
        } else if (starts("-U")) {
            settings.defines.push_back("-U" + valueOf(args, i, "-U"));
        } else if (starts("-L")) {
            settings.libraryDirs.push_back(valueOf(args, i, "-L"));
        } else if (starts("-l")) {
            settings.libraries.push_back(valueOf(args, i, "-l"));
        } else if (starts("-") && arg.size() > 1) {
            throw UsageError{"unknown option '" + arg + "': pass a compiler option with -Xcompiler " + arg +
                             ", a linker option with -Xlinker " + arg};
        } else {
            const auto language = languageOf(arg);
            if (!language) {
                throw UsageError{"'" + arg +
                                 "' is not a C, C++ or Fortran source (.c, .cpp, .f90, ...), an object (.o) or a "
                                 "library (.a, .so)"};
            }
            settings.sources.push_back({arg, *language});
        }
    }
    if (settings.help) return settings;
    if (settings.sources.empty()) throw UsageError{"no source file given: name the module's sources, as in orb build gain.c"};
    const bool anyCxx = std::any_of(settings.sources.begin(), settings.sources.end(),
                                    [](const Source& s) { return s.language == Language::kCxx; });
    if (settings.threadpoolSafe && !anyCxx) {
        throw UsageError{"--threadpool-safe is for C++ modules only: C and Fortran modules never run on the "
                         "thread pool, and this module has no C++ source"};
    }
    for (const auto* list : {&settings.includes, &settings.defines, &settings.libraryDirs, &settings.libraries}) {
        for (const auto& value : *list) {
            if (value.empty() || value == "-D" || value == "-U") throw UsageError{"an option is given an empty value"};
        }
    }
    return settings;
}

// The options in an environment variable such as CFLAGS, split at white space.
std::vector<std::string> flagsFromEnvironment(const char* name) {
    std::vector<std::string> flags;
    const char* value = std::getenv(name);
    if (value == nullptr) return flags;
    std::istringstream words(value);
    for (std::string word; words >> word;) flags.push_back(word);
    return flags;
}

// A command as it would be typed into a POSIX shell.
std::string shellText(const std::vector<std::string>& args) {
    std::string text;
    for (const auto& arg : args) {
        if (!text.empty()) text += ' ';
        const bool plain = !arg.empty() && arg.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                                 "0123456789._/=+-,:@%") == std::string::npos;
        if (plain) {
            text += arg;
            continue;
        }
        text += '\'';
        for (const char c : arg) {
            if (c == '\'') {
                text += "'\\''";
            } else {
                text += c;
            }
        }
        text += '\'';
    }
    return text;
}

// A program's text without the blank lines around it (the first line keeps its indent).
std::string withoutBlankLines(const std::string& text) {
    const std::string trimmed = boost::algorithm::trim_right_copy(text);
    std::size_t start = 0;
    for (std::size_t at = 0; at < trimmed.size() && std::isspace(static_cast<unsigned char>(trimmed[at])); ++at) {
        if (trimmed[at] == '\n') start = at + 1;
    }
    return trimmed.substr(start);
}

// What a tool printed, when it printed anything but white space.
void showToolOutput(const std::string& out, const std::string& err) {
    if (const std::string text = withoutBlankLines(out); !text.empty()) std::cout << text << "\n";
    std::cout.flush();
    if (const std::string text = withoutBlankLines(err); !text.empty()) std::cerr << text << "\n";
}

// The folder for object files, removed with everything in it when the build ends.
class ScratchFolder {
public:
    ScratchFolder() : m_path(bfs::temp_directory_path() / bfs::unique_path("orb-build-%%%%-%%%%-%%%%-%%%%")) {
        bfs::create_directories(m_path);
    }
    ~ScratchFolder() {
        boost::system::error_code ignored;
        bfs::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const bfs::path& path() const { return m_path; }

private:
    bfs::path m_path;
};

const char* compilerOf(Language language) {
    switch (language) {
    case Language::kCxx: return "g++";
    case Language::kFortran: return "gfortran";
    default: return "gcc";
    }
}

const char* flagsVariableOf(Language language) {
    switch (language) {
    case Language::kCxx: return "CXXFLAGS";
    case Language::kFortran: return "FFLAGS";
    default: return "CFLAGS";
    }
}

// The version function of the module, for the chosen generation. It is a weak definition, so a
// module that defines its own keeps that one.
std::string versionFunctionSource(orbfile::Version::APITAG generation) {
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "*relnum = 0x%XU;\n    *apinum = 0x%08XU;\n",
                  orbfile::Version::get_current_relnum(), orbfile::Version::apitag2apinum(generation));
    return std::string("/* Generated by orb build: the release and interface generation the module was built for. */\n"
                       "#include <stdint.h>\n"
                       "__attribute__((weak, visibility(\"default\"))) void orbfilerequiredapiversion(uint32_t* relnum, "
                       "uint32_t* apinum) {\n    ") +
           numbers + "}\n";
}

// What one compiler or linker run left: whether it succeeded and what it said on standard error.
struct ToolRun {
    bool ok = false;
    std::string err;
};

// Runs one compiler command, showing what it printed as soon as it ends.
ToolRun runTool(const std::vector<std::string>& command) {
    try {
        const auto completed = host::process::run(command);
        showToolOutput(completed.out, completed.err);
        return {completed.exitStatus == 0, completed.err};
    } catch (const std::exception& error) {
        std::cerr << "orb build: " << error.what() << "\n";
        return {false, {}};
    }
}

// FNV-1a: a name for a text that stays the same from one run of the tool to the next.
std::uint64_t textHash(const std::string& text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ULL;
    return hash;
}

// The compiled version function for `generation`. It is the same object for every module of a
// generation, so it is compiled once and kept in the installation ("lib/orb-version/", named by
// the hash of its source, so a changed source is never mistaken for the old one); a module
// build then pays only for its own sources. The object is published by renaming a complete file
// into place, so builds running at once never see half of one. Where the installation cannot be
// written, the object is compiled into the scratch folder for this build alone.
std::optional<std::string> versionFunctionObject(orbfile::Version::APITAG generation, const bfs::path& root,
                                                 const bfs::path& scratch) {
    const std::string source = versionFunctionSource(generation);
    char name[40];
    std::snprintf(name, sizeof name, "%016llx.o", static_cast<unsigned long long>(textHash(source)));
    const bfs::path kept = root / "lib" / "orb-version" / name;
    boost::system::error_code error;
    if (bfs::is_regular_file(kept, error)) return kept.string();

    const bfs::path sourceFile = scratch / "orb_version_function.c";
    {
        bfs::ofstream out(sourceFile);
        out << source;
        if (!out) {
            std::cerr << "orb build: cannot write into " << scratch.string() << ": check the temporary folder (TMPDIR)\n";
            return std::nullopt;
        }
    }
    const bfs::path object = scratch / "orb_version_function.o";
    if (!runTool({"gcc", "-c", "-fPIC", sourceFile.string(), "-o", object.string()}).ok) return std::nullopt;

    bfs::create_directories(kept.parent_path(), error);
    if (error) return object.string();
    const bfs::path partial = kept.parent_path() / bfs::unique_path("%%%%-%%%%-%%%%.partial");
    bfs::copy_file(object, partial, error);
    if (!error) bfs::rename(partial, kept, error);
    if (error) bfs::remove(partial, error);
    return object.string();
}

void printInspection(const std::string& file, orbfile::Inspector& inspector) {
    const char* verdict = inspector.has_error() ? "error" : inspector.needs_upgrade() ? "upgrade recommended" : "ok";
    std::cout << file << ": " << verdict << "\n";
    for (const auto& message : inspector.get_messages()) {
        std::cout << "  " << utf8(orbfile::Inspector::MessageID2uchar(message.id)) << ": "
                  << orb::startup::logText(message.reason) << "\n";
        if (!message.action.empty()) std::cout << "    action: " << orb::startup::logText(message.action) << "\n";
    }
}

// --- functions of another interface generation ---------------------------------------------------

// The generations in the order they came, with the suffix of the names the runtime exports for
// each (ry.h maps ryGetDoubles to ryGetDoubles_800 when building for R2018a).
struct GenerationSuffix {
    orbfile::Version::APITAG tag;
    const char* suffix;
};
constexpr GenerationSuffix kGenerationSuffixes[] = {
    {orbfile::Version::COMPAT_32, "_700"}, {orbfile::Version::R2017b, "_730"}, {orbfile::Version::R2018a, "_800"}};

// "R2017b", "compatibleArrayDims": the generation as its option names it.
std::string generationName(orbfile::Version::APITAG tag) { return utf8(orbfile::Version::apitag2option(tag)).substr(1); }

// The functions the compiler or linker found missing: called without a declaration (C), not
// declared (C++), or left undefined by the link. gcc quotes names with ' or with ‘ ’.
std::set<std::string> missingFunctions(const std::string& diagnostics) {
    static const std::regex patterns[] = {
        std::regex("implicit declaration of function (?:'|\xE2\x80\x98)([A-Za-z_][A-Za-z0-9_]*)"),
        std::regex("(?:'|\xE2\x80\x98)([A-Za-z_][A-Za-z0-9_]*)(?:'|\xE2\x80\x99) was not declared in this scope"),
        std::regex("undefined reference to (?:`|'|\xE2\x80\x98)([A-Za-z_][A-Za-z0-9_]*)"),
    };
    std::set<std::string> names;
    for (const auto& pattern : patterns) {
        for (std::sregex_iterator match(diagnostics.begin(), diagnostics.end(), pattern), end; match != end; ++match) {
            names.insert((*match)[1]);
        }
    }
    return names;
}

// For each missing function that is a function of the interface, only not of the generation
// built for: which generations have it, and the option to build with. The runtime's libraries
// say which names exist (they export each under the suffix of its generation).
std::vector<std::string> generationNotes(const std::string& diagnostics, orbfile::Version::APITAG built,
                                         const bfs::path& root) {
    const std::set<std::string> missing = missingFunctions(diagnostics);
    if (missing.empty()) return {};
    std::set<std::string> exported;
    for (const char* library : {"liborb.so", "libvhost.so"}) {
        const bfs::path file = root / "lib" / library;
        std::vector<std::string> defined;
        std::vector<std::string> undefined;
        host::util::LibSyms symbols(host::i18n::to_ustring(file.string()), defined, undefined);
        exported.insert(defined.begin(), defined.end());
    }
    std::vector<std::string> notes;
    for (const auto& name : missing) {
        std::vector<orbfile::Version::APITAG> having;
        for (const auto& generation : kGenerationSuffixes) {
            if (exported.count(name + generation.suffix) != 0) having.push_back(generation.tag);
        }
        if (having.empty() || std::find(having.begin(), having.end(), built) != having.end()) continue;
        std::string where;
        if (having.back() == orbfile::Version::R2018a &&
            having.size() == static_cast<std::size_t>(orbfile::Version::R2018a - having.front() + 1)) {
            where = "it exists from " + generationName(having.front());
        } else {
            where = "it exists in " + generationName(having.front());
            for (std::size_t i = 1; i < having.size(); ++i) {
                where += (i + 1 == having.size() ? " and " : ", ") + generationName(having[i]);
            }
        }
        notes.push_back(name + " is not part of the " + generationName(built) + " interface; " + where +
                        ": build with -" + generationName(having.back()));
    }
    return notes;
}

// --- compile_commands.json -------------------------------------------------------------------------

// Adds `entries` to compile_commands.json in the current folder, replacing the entries of the same
// files; the file is written whole and renamed into place.
bool writeCompileCommands(const nlohmann::json& entries) {
    const bfs::path file = bfs::current_path() / "compile_commands.json";
    nlohmann::json database = nlohmann::json::array();
    {
        bfs::ifstream in(file);
        if (in) {
            database = nlohmann::json::parse(in, nullptr, false);
            if (!database.is_array()) {
                std::cerr << "orb build: " << file.string()
                          << " is not a list of compile commands; remove it and build again\n";
                return false;
            }
        }
    }
    std::set<std::string> replaced;
    for (const auto& entry : entries) replaced.insert(entry["file"].get<std::string>());
    nlohmann::json kept = nlohmann::json::array();
    for (const auto& entry : database) {
        if (!entry.is_object() || !entry.contains("file") || !entry["file"].is_string() ||
            replaced.count(entry["file"].get<std::string>()) == 0) {
            kept.push_back(entry);
        }
    }
    for (const auto& entry : entries) kept.push_back(entry);
    const bfs::path partial = file.parent_path() / bfs::unique_path("compile_commands-%%%%-%%%%.partial");
    {
        bfs::ofstream out(partial);
        out << kept.dump(2) << "\n";
        if (!out) {
            std::cerr << "orb build: cannot write " << file.string() << "\n";
            return false;
        }
    }
    boost::system::error_code error;
    bfs::rename(partial, file, error);
    if (error) {
        bfs::remove(partial, error);
        std::cerr << "orb build: cannot write " << file.string() << "\n";
        return false;
    }
    return true;
}

// --- the build -----------------------------------------------------------------------------------

// While alive, the metadata steps' progress lines (written to the host's output) are shown only
// when `verbose`; the steps' own failure report is never shown, since the tool shows what the
// failing program said and says what failed itself.
class StepOutput {
public:
    explicit StepOutput(bool verbose)
        : m_previous(vhost::setOutputSink([verbose](std::string_view text) {
              if (!verbose || text.rfind("Error with orblink:", 0) == 0) return;
              std::cout << text << std::flush;
          })) {}
    ~StepOutput() { vhost::setOutputSink(std::move(m_previous)); }
    StepOutput(const StepOutput&) = delete;
    StepOutput& operator=(const StepOutput&) = delete;

private:
    vhost::OutputSink m_previous;
};

// On a terminal, the compiler's own colours (its output is captured, so it would leave them out).
bool colouredDiagnostics() {
    const char* noColour = std::getenv("NO_COLOR");
    return vhost::platform::isTerminal(vhost::platform::StandardStream::Error) &&
           (noColour == nullptr || *noColour == '\0');
}

int build(const Settings& settings) {
    const bfs::path root = host::get_install_path();
    const std::string includeDir = (root / "include").string();
    const std::string libDir = (root / "lib").string();

    for (const auto& source : settings.sources) {
        boost::system::error_code error;
        if (!bfs::is_regular_file(source.path, error)) {
            std::cerr << "orb build: " << source.path << ": no such file; check the name and the folder ("
                      << bfs::current_path().string() << ")\n";
            return kExitFailure;
        }
    }

    bfs::path output = settings.output.empty()
                           ? bfs::path(bfs::path(settings.sources.front().path).stem().string() + ".orbw64")
                           : bfs::path(settings.output);
    if (output.extension() != ".orbw64") output += ".orbw64";
    if (!settings.outdir.empty()) {
        boost::system::error_code error;
        bfs::create_directories(settings.outdir, error);
        if (error) {
            std::cerr << "orb build: cannot create the folder '" << settings.outdir << "': " << error.message() << "\n";
            return kExitFailure;
        }
        output = bfs::path(settings.outdir) / output;
    }
    if (!output.parent_path().empty() && !bfs::is_directory(output.parent_path())) {
        std::cerr << "orb build: the folder of '" << output.string()
                  << "' does not exist: create it, or name it with --outdir, which creates it\n";
        return kExitFailure;
    }

    if (settings.verbose) {
        host::process::setCommandObserver(
            [](const std::vector<std::string>& args) { std::cout << shellText(args) << std::endl; });
    }

    const ScratchFolder scratch;
    const std::string macro = utf8(orbfile::Version::apitag2macro(settings.generation));
    const bool colour = colouredDiagnostics() &&
                        std::none_of(settings.compileFlags.begin(), settings.compileFlags.end(),
                                     [](const std::string& f) { return f.rfind("-fdiagnostics-color", 0) == 0; });
    std::vector<std::string> objects;
    bool cxx = false;
    bool fortran = false;
    std::size_t compiled = 0;
    const std::size_t toCompile =
        std::count_if(settings.sources.begin(), settings.sources.end(),
                      [](const Source& s) { return s.language != Language::kLinkInput; });
    // One source built for the default generation, whose metadata the first link already embeds:
    // the link's own driver compiles the source too, one driver run fewer and no object file
    // written and read back. (Another generation is linked twice, and would compile twice.)
    const bool compileInLink = toCompile == 1 && settings.generation == orbfile::Version::R2018a;
    std::vector<std::string> compileFlags;
    std::string diagnostics;  // what the compilers and the linker said, searched for missing functions
    nlohmann::json commands = nlohmann::json::array();
    std::vector<std::vector<std::string>> compileCommands;
    for (std::size_t i = 0; i < settings.sources.size(); ++i) {
        const Source& source = settings.sources[i];
        if (source.language == Language::kLinkInput) {
            objects.push_back(source.path);
            continue;
        }
        cxx = cxx || source.language == Language::kCxx;
        fortran = fortran || source.language == Language::kFortran;
        std::vector<std::string> flags = {"-fPIC"};
        if (source.language != Language::kCxx) flags.emplace_back("-fexceptions");
        // A C function called without a declaration is taken to return int and is then missing at
        // run time; an error now says so while the source is at hand.
        if (source.language == Language::kC) flags.emplace_back("-Werror=implicit-function-declaration");
        // The SDK's Fortran includes are preprocessor includes.
        if (source.language == Language::kFortran) flags.emplace_back("-cpp");
        if (settings.debug) flags.emplace_back("-g");
        if (settings.optimise) flags.emplace_back("-O2");
        if (colour) flags.emplace_back("-fdiagnostics-color=always");
        flags.push_back("-I" + includeDir);
        for (const auto& dir : settings.includes) flags.push_back("-I" + dir);
        flags.push_back(macro);
        for (const auto& define : settings.defines) flags.push_back(define);
        // The environment's options first, so that the command line's own win.
        for (auto& flag : flagsFromEnvironment(flagsVariableOf(source.language))) flags.push_back(std::move(flag));
        flags.insert(flags.end(), settings.compileFlags.begin(), settings.compileFlags.end());

        const std::string object =
            (scratch.path() / (std::to_string(i) + "_" + bfs::path(source.path).stem().string() + ".o")).string();
        std::vector<std::string> command = {compilerOf(source.language), "-c"};
        command.insert(command.end(), flags.begin(), flags.end());
        command.insert(command.end(), {source.path, "-o", object});
        if (settings.compileCommands) {
            std::vector<std::string> recorded = command;
            // An editor's compiler is no terminal.
            recorded.erase(std::remove(recorded.begin(), recorded.end(), "-fdiagnostics-color=always"), recorded.end());
            recorded.resize(recorded.size() - 2);  // no object file: it would name the scratch folder
            commands.push_back({{"directory", bfs::current_path().string()},
                                {"file", bfs::absolute(source.path).lexically_normal().string()},
                                {"arguments", recorded}});
        }
        if (compileInLink) {
            compileFlags = std::move(flags);
            objects.push_back(source.path);
            continue;
        }
        compileCommands.push_back(std::move(command));
        objects.push_back(object);
    }
    if (settings.compileCommands && !writeCompileCommands(commands)) return kExitFailure;
    const auto notBuilt = [&](const std::string& what) {
        for (const auto& note : generationNotes(diagnostics, settings.generation, root)) {
            std::cerr << "orb build: " << note << "\n";
        }
        std::cerr << "orb build: " << what << "; " << output.string() << " was not built\n";
        return kExitFailure;
    };
    for (const auto& command : compileCommands) {
        if (toCompile > 1 && settings.verbose) {
            std::cout << "[" << ++compiled << "/" << toCompile << "] Compiling " << command[command.size() - 3]
                      << std::endl;
        }
        const ToolRun run = runTool(command);
        diagnostics += run.err;
        if (!run.ok) return notBuilt("compiling " + command[command.size() - 3] + " failed");
    }

    // The version function, unless a source already defines one (the linker prefers theirs).
    const std::optional<std::string> versionObject = versionFunctionObject(settings.generation, root, scratch.path());
    if (!versionObject) return kExitFailure;
    objects.push_back(*versionObject);

    std::vector<std::string> link = {cxx ? "g++" : fortran ? "gfortran" : "gcc", "-shared"};
    link.insert(link.end(), compileFlags.begin(), compileFlags.end());
    // Code-generation options that need their runtime at the link too (-fsanitize=, -fopenmp,
    // -fprofile-arcs, -m32 ...); the driver ignores the others there.
    if (!compileInLink) {
        std::copy_if(settings.compileFlags.begin(), settings.compileFlags.end(), std::back_inserter(link),
                     [](const std::string& f) { return f.rfind("-f", 0) == 0 || f.rfind("-m", 0) == 0; });
    }
    if (colour && !compileInLink) link.emplace_back("-fdiagnostics-color=always");
    link.insert(link.end(), objects.begin(), objects.end());
    const int outputIndex = static_cast<int>(link.size());
    // The runtime's libraries export little beyond the C functions modules call, so the module
    // links against lib/ itself and runs against the same files.
    link.insert(link.end(), {"-o", output.string(), "-L" + libDir});
    for (const auto& dir : settings.libraryDirs) link.push_back("-L" + dir);
    // The bundle is linked in as raw data, which carries no note about the stack; without this
    // the linker would mark the module as needing an executable stack. Every function the module
    // calls must be found now, in the runtime's libraries or those named: a module that calls a
    // function its generation does not have would otherwise fail at its first call.
    link.insert(link.end(), {"-Wl,-rpath," + libDir, "-Wl,-z,noexecstack", "-Wl,--no-undefined", "-lorb", "-lvhost"});
    for (const auto& library : settings.libraries) link.push_back("-l" + library);
    if (cxx && fortran) link.emplace_back("-lgfortran");
    // C++ modules exchange data arrays through the data-array library's C interface.
    if (cxx) link.emplace_back("-lVeltraDataArray");
    for (auto& flag : flagsFromEnvironment("LDFLAGS")) link.push_back(std::move(flag));
    link.insert(link.end(), settings.linkFlags.begin(), settings.linkFlags.end());

    std::cout.flush();
    orbfile::metadata::Result result = [&] {
        const StepOutput steps(settings.verbose);
        return orbfile::build_orb_linker_cmds(link, "-o", outputIndex, settings.threadpoolSafe);
    }();
    std::fflush(stdout);
    showToolOutput(result.get_cmdOutput(), result.get_cmdErr());
    diagnostics += result.get_cmdErr();
    if (result.get_status() != 0) {
        // The steps keep the files of a failed step for inspection; the tool leaves nothing.
        result.delete_files();
        boost::system::error_code ignored;
        const bfs::path temporary =
            output.parent_path() / (output.stem().string() + "_kv_temp_" + output.extension().string());
        bfs::remove(temporary, ignored);
        const std::string said = result.get_cmdErr();
        if (said.find("no such program") != std::string::npos && said.find(root.string()) != std::string::npos) {
            std::cerr << "orb build: the installation at " << root.string()
                      << " lacks a program the build runs: build it again (./run build), or set VELTRA_ROOT to a "
                         "complete one\n";
        }
        return notBuilt(compileInLink ? "compiling and linking failed" : "linking failed");
    }
    std::cout << "Built " << output.string() << "\n";

    if (settings.check) {
        orbfile::Inspector inspector(host::i18n::to_ustring(output.string()), true);
        printInspection(output.string(), inspector);
        if (inspector.has_error()) return kExitFailure;
    }
    return kExitOk;
}

int runBuild(const std::vector<std::string>& args) {
    Settings settings;
    try {
        settings = parse(args);
    } catch (const UsageError& error) {
        std::cerr << "orb build: " << error.message << "\nRun 'orb build --help' for usage.\n";
        return kExitUsage;
    }
    if (settings.help) {
        std::cout << kUsage;
        return kExitOk;
    }
    return build(settings);
}

const SubcommandRegistration registration({"build", "compile and link a module with its metadata", &runBuild});

}  // namespace
}  // namespace orbtool
