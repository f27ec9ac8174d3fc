// orb build: compile the sources of a module against the SDK and link it with its metadata.
//
// Each source is compiled by the compiler of its language (C and Fortran with -fexceptions, so
// that an error raised by a service unwinds through the module's frames) into a private folder;
// a small generated source adds the module's version function for the chosen interface
// generation (compiled once per generation and kept), unless the module defines its own; then
// the link runs through the metadata-aware linker steps of the runtime. A single source built for
// the default generation is compiled by the link's own driver run instead. Nothing but the
// module is left behind.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <boost/algorithm/string/trim.hpp>
#include <boost/filesystem.hpp>
#include <boost/filesystem/fstream.hpp>

#include "host/i18n.hpp"
#include "host/install.hpp"
#include "host/process.hpp"
#include "orbfile/inspector.hpp"
#include "orbfile/metadata/linker_commands.hpp"
#include "orbfile/version.hpp"
#include "startup/log_record.hpp"
#include "subcommand.hpp"

namespace orbtool {
namespace {

namespace bfs = boost::filesystem;

constexpr const char* kUsage = R"(usage: orb build [options] SOURCES... [-o OUT]

Compiles the C, C++ and Fortran SOURCES of one module against the SDK of this installation and
links them into a module that carries its metadata (the interface generation it was built for).
The module is named after the first source (NAME.orbw64) and written to the current directory
unless -o or --outdir say otherwise. Object files (.o), archives (.a) and shared libraries (.so)
among the SOURCES go to the link as they are. Exit status: 0 when the module was built (and, with
--check, passes the inspection), 1 when compiling, linking or the check failed, 2 for a usage
error.

Interface generation (one of):
  -R2018a                interleaved complex data (the default)
  -R2017b                separate real and imaginary parts, 64-bit dimensions
  -compatibleArrayDims   separate real and imaginary parts, 32-bit dimensions

Options:
  -o FILE                the module file (".orbw64" is added when missing)
  --outdir DIR           the folder of the module (created when missing)
  -I DIR                 add DIR to the include path
  -D NAME[=VALUE]        define a preprocessor macro
  -L DIR                 add DIR to the library path
  -l NAME                link the library NAME
  -g                     compile with debugging information
  -O                     compile with optimisation
  -v, --verbose          print every command run
  --check                inspect the module once built and print what the inspection finds
  -h, --help             show this help
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
    std::vector<std::string> defines;
    std::vector<std::string> libraryDirs;
    std::vector<std::string> libraries;
    bool debug = false;
    bool optimise = false;
    bool verbose = false;
    bool check = false;
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

Settings parse(const std::vector<std::string>& args) {
    Settings settings;
    std::optional<std::string> generationOption;
    const auto setGeneration = [&](orbfile::Version::APITAG tag, const std::string& option) {
        if (generationOption && *generationOption != option) {
            throw UsageError{*generationOption + " and " + option + " exclude each other"};
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
        } else if (arg == "--outdir") {
            if (i + 1 >= args.size()) throw UsageError{"option --outdir needs a value"};
            settings.outdir = args[++i];
        } else if (starts("--outdir=")) {
            settings.outdir = arg.substr(9);
        } else if (starts("-o")) {
            settings.output = valueOf(args, i, "-o");
        } else if (starts("-I")) {
            settings.includes.push_back(valueOf(args, i, "-I"));
        } else if (starts("-D")) {
            settings.defines.push_back(valueOf(args, i, "-D"));
        } else if (starts("-L")) {
            settings.libraryDirs.push_back(valueOf(args, i, "-L"));
        } else if (starts("-l")) {
            settings.libraries.push_back(valueOf(args, i, "-l"));
        } else if (starts("-") && arg.size() > 1) {
            throw UsageError{"unknown option '" + arg + "'"};
        } else {
            const auto language = languageOf(arg);
            if (!language) throw UsageError{"'" + arg + "' is not a C, C++ or Fortran source, an object or a library"};
            settings.sources.push_back({arg, *language});
        }
    }
    if (settings.help) return settings;
    const bool anySource = std::any_of(settings.sources.begin(), settings.sources.end(),
                                       [](const Source& s) { return s.language != Language::kLinkInput; });
    if (!anySource) throw UsageError{"no source file given"};
    for (const auto* list : {&settings.includes, &settings.defines, &settings.libraryDirs, &settings.libraries}) {
        for (const auto& value : *list) {
            if (value.empty()) throw UsageError{"an option is given an empty value"};
        }
    }
    return settings;
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

// What a tool printed, when it printed anything but white space.
void showToolOutput(const std::string& out, const std::string& err) {
    if (!boost::algorithm::trim_copy(out).empty()) std::cout << boost::algorithm::trim_right_copy(out) << "\n";
    if (!boost::algorithm::trim_copy(err).empty()) std::cerr << boost::algorithm::trim_right_copy(err) << "\n";
    std::cout.flush();
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

// Runs one compiler or linker command; false (after showing what it printed) when it fails.
bool runTool(const std::vector<std::string>& command) {
    try {
        const auto completed = host::process::run(command);
        showToolOutput(completed.out, completed.err);
        if (completed.exitStatus != 0) {
            std::cerr << "orb build: " << command.front() << " failed with exit status " << completed.exitStatus
                      << "\n";
            return false;
        }
        return true;
    } catch (const std::exception& error) {
        std::cerr << "orb build: " << error.what() << "\n";
        return false;
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
            std::cerr << "orb build: cannot write into " << scratch.string() << "\n";
            return std::nullopt;
        }
    }
    const bfs::path object = scratch / "orb_version_function.o";
    if (!runTool({"gcc", "-c", "-fPIC", sourceFile.string(), "-o", object.string()})) return std::nullopt;

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

int build(const Settings& settings) {
    const bfs::path root = host::get_install_path();
    const std::string includeDir = (root / "include").string();
    const std::string libDir = (root / "lib").string();

    for (const auto& source : settings.sources) {
        boost::system::error_code error;
        if (!bfs::is_regular_file(source.path, error)) {
            std::cerr << "orb build: no such file '" << source.path << "'\n";
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
        std::cerr << "orb build: the folder of '" << output.string() << "' does not exist\n";
        return kExitFailure;
    }

    if (settings.verbose) {
        host::process::setCommandObserver(
            [](const std::vector<std::string>& args) { std::cout << shellText(args) << std::endl; });
    }

    const ScratchFolder scratch;
    const std::string macro = utf8(orbfile::Version::apitag2macro(settings.generation));
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
    for (std::size_t i = 0; i < settings.sources.size(); ++i) {
        const Source& source = settings.sources[i];
        if (source.language == Language::kLinkInput) {
            objects.push_back(source.path);
            continue;
        }
        cxx = cxx || source.language == Language::kCxx;
        fortran = fortran || source.language == Language::kFortran;
        if (toCompile > 1) {
            std::cout << "[" << ++compiled << "/" << toCompile << "] Compiling " << source.path << std::endl;
        }
        std::vector<std::string> flags = {"-fPIC"};
        if (source.language != Language::kCxx) flags.emplace_back("-fexceptions");
        // The SDK's Fortran includes are preprocessor includes.
        if (source.language == Language::kFortran) flags.emplace_back("-cpp");
        if (settings.optimise) flags.emplace_back("-O2");
        flags.push_back("-I" + includeDir);
        for (const auto& dir : settings.includes) flags.push_back("-I" + dir);
        flags.push_back(macro);
        for (const auto& define : settings.defines) flags.push_back("-D" + define);
        if (compileInLink) {
            compileFlags = std::move(flags);
            objects.push_back(source.path);
            continue;
        }
        const std::string object =
            (scratch.path() / (std::to_string(i) + "_" + bfs::path(source.path).stem().string() + ".o")).string();
        std::vector<std::string> command = {compilerOf(source.language), "-c"};
        if (settings.debug) command.emplace_back("-g");
        command.insert(command.end(), flags.begin(), flags.end());
        command.insert(command.end(), {source.path, "-o", object});
        if (!runTool(command)) return kExitFailure;
        objects.push_back(object);
    }

    // The version function, unless a source already defines one (the linker prefers theirs).
    const std::optional<std::string> versionObject = versionFunctionObject(settings.generation, root, scratch.path());
    if (!versionObject) return kExitFailure;
    objects.push_back(*versionObject);

    std::vector<std::string> link = {cxx ? "g++" : fortran ? "gfortran" : "gcc", "-shared"};
    if (settings.debug) link.emplace_back("-g");
    link.insert(link.end(), compileFlags.begin(), compileFlags.end());
    link.insert(link.end(), objects.begin(), objects.end());
    const int outputIndex = static_cast<int>(link.size());
    // The runtime's libraries export little beyond the C functions modules call, so the module
    // links against lib/ itself and runs against the same files.
    link.insert(link.end(), {"-o", output.string(), "-L" + libDir});
    for (const auto& dir : settings.libraryDirs) link.push_back("-L" + dir);
    // The bundle is linked in as raw data, which carries no note about the stack; without this
    // the linker would mark the module as needing an executable stack.
    link.insert(link.end(), {"-Wl,-rpath," + libDir, "-Wl,-z,noexecstack", "-lorb", "-lvhost"});
    for (const auto& library : settings.libraries) link.push_back("-l" + library);
    if (cxx && fortran) link.emplace_back("-lgfortran");
    // C++ modules exchange data arrays through the data-array library's C interface.
    if (cxx) link.emplace_back("-lVeltraDataArray");

    std::cout.flush();
    orbfile::metadata::Result result = orbfile::build_orb_linker_cmds(link, "-o", outputIndex);
    std::fflush(stdout);
    showToolOutput(result.get_cmdOutput(), result.get_cmdErr());
    if (result.get_status() != 0) {
        // The steps keep the files of a failed step for inspection; the tool leaves nothing.
        result.delete_files();
        boost::system::error_code ignored;
        const bfs::path temporary =
            output.parent_path() / (output.stem().string() + "_kv_temp_" + output.extension().string());
        bfs::remove(temporary, ignored);
        std::cerr << "orb build: " << (compileInLink ? "compiling and linking " : "linking ") << output.string()
                  << " failed (status " << result.get_status() << ")\n";
        return kExitFailure;
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
