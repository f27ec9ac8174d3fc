// orb build: compile the sources of a module against the SDK and link it with its metadata.
//
// Each source is compiled by the compiler of its language (C and Fortran with -fexceptions, so
// that an error raised by a service unwinds through the module's frames) into a private folder;
// a small generated source adds the module's version function for the chosen interface
// generation (compiled once per generation and kept), unless the module defines its own; then
// the link runs through the metadata-aware linker steps of the runtime. A single source built for
// the default generation is compiled by the link's own driver run instead. Nothing but the
// module is left behind. What runs, with which arguments, is planned in build_plan.cpp; this
// file runs the plan.
//
// The tool reports as a compiler driver does: what the compilers and the linker say is shown
// once, as each of them ends; the metadata steps' progress lines (which they print through the
// host's output, and the tool is the host here) only with -v; on success one line.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <boost/algorithm/string/trim.hpp>
#include <nlohmann/json.hpp>

#include "build_plan.hpp"
#include "check_report.hpp"
#include "common/command_line.hpp"
#include "host/i18n.hpp"
#include "host/install.hpp"
#include "host/libsyms.hpp"
#include "host/process.hpp"
#include "orbfile/metadata/linker_commands.hpp"
#include "orbfile/version.hpp"
#include "startup/log_record.hpp"
#include "subcommand.hpp"
#include "vhost/platform/system.hpp"
#include "vhost/ut/output.hpp"

namespace orbtool {
namespace {

namespace fs = std::filesystem;
using namespace build;

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
  --check                inspect the module once built and print its report as orb check does
  --threadpool-safe      declare the module safe to run on the host's thread pool (C++ modules
                         only; it then runs there while the feature ThreadPoolCppOrb is on)
  -v, --verbose          print every command run and the steps of the link
  -h, --help             show this help

Exit status: 0 the module was built (and, with --check, passes the inspection), 1 compiling,
linking or the check failed, 2 usage error.
)";

std::string utf8(const char16_t* text) { return text == nullptr ? std::string() : orb::startup::logText(text); }

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

// A name no file in `folder` has yet: `stem`, random letters, `extension`.
fs::path unusedName(const fs::path& folder, const std::string& stem, const std::string& extension) {
    static std::mt19937_64 random{std::random_device{}()};
    const char* const letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (;;) {
        std::string name = stem;
        for (int i = 0; i < 16; ++i) name += letters[random() % 36];
        const fs::path path = folder / (name + extension);
        std::error_code error;
        if (!fs::exists(path, error)) return path;
    }
}

// The folder for object files, removed with everything in it when the build ends. It is named at
// once but made only when the build needs it: a single source compiled by the link's own driver
// run, with the version function kept, writes nothing there (and making and removing a folder
// costs a file system its journal work).
class ScratchFolder {
public:
    ScratchFolder() : m_path(unusedName(fs::temp_directory_path(), "orb-build-", "")) {}
    ~ScratchFolder() {
        if (!m_created) return;
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& path() const { return m_path; }
    // Makes the folder; false when one of its name exists already (it belongs to another build:
    // take another name, which this one then has).
    bool create() {
        m_created = fs::create_directory(m_path);
        if (!m_created) m_path = unusedName(m_path.parent_path(), "orb-build-", "");
        return m_created;
    }

private:
    fs::path m_path;
    bool m_created = false;
};

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

// The compiled version function: the kept object, compiled and kept first when it is not there
// yet (a module build then pays only for its own sources). The object is published by renaming a
// complete file into place, so builds running at once never see half of one. Where the
// installation cannot be written, the scratch folder's object serves this build alone.
std::optional<std::string> versionFunctionObject(const VersionFunction& function) {
    std::error_code error;
    if (fs::is_regular_file(function.kept, error)) return function.kept.string();
    {
        std::ofstream out(function.sourceFile);
        out << function.source;
        if (!out) {
            std::cerr << "orb build: cannot write into " << function.sourceFile.parent_path().string()
                      << ": check the temporary folder (TMPDIR)\n";
            return std::nullopt;
        }
    }
    if (!runTool(function.compile).ok) return std::nullopt;

    fs::create_directories(function.kept.parent_path(), error);
    if (error) return function.object.string();
    const fs::path partial = unusedName(function.kept.parent_path(), "", ".partial");
    fs::copy_file(function.object, partial, error);
    if (!error) fs::rename(partial, function.kept, error);
    if (error) fs::remove(partial, error);
    return function.object.string();
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
                                         const fs::path& root) {
    const std::set<std::string> missing = missingFunctions(diagnostics);
    if (missing.empty()) return {};
    std::set<std::string> exported;
    for (const char* library : {"liborb.so", "libvhost.so"}) {
        const fs::path file = root / "lib" / library;
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
    const fs::path file = fs::current_path() / "compile_commands.json";
    nlohmann::json database = nlohmann::json::array();
    {
        std::ifstream in(file);
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
    const fs::path partial = unusedName(file.parent_path(), "compile_commands-", ".partial");
    {
        std::ofstream out(partial);
        out << kept.dump(2) << "\n";
        if (!out) {
            std::cerr << "orb build: cannot write " << file.string() << "\n";
            return false;
        }
    }
    std::error_code error;
    fs::rename(partial, file, error);
    if (error) {
        fs::remove(partial, error);
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
    const fs::path root = host::get_install_path();
    for (const auto& source : settings.sources) {
        std::error_code error;
        if (!fs::is_regular_file(source.path, error)) {
            std::cerr << "orb build: " << source.path << ": no such file; check the name and the folder ("
                      << fs::current_path().string() << ")\n";
            return kExitFailure;
        }
    }
    if (!settings.outdir.empty()) {
        std::error_code error;
        fs::create_directories(settings.outdir, error);
        if (error) {
            std::cerr << "orb build: cannot create the folder '" << settings.outdir << "': " << error.message() << "\n";
            return kExitFailure;
        }
    }

    ScratchFolder scratch;
    Context context{root, scratch.path(), fs::current_path(), colouredDiagnostics(), {}};
    for (const char* name : {"CFLAGS", "CXXFLAGS", "FFLAGS", "LDFLAGS"}) {
        if (const char* value = std::getenv(name)) context.environment[name] = value;
    }
    Plan plan = build::plan(settings, context);
    // Object files, or the version function to compile: the scratch folder is made (created, not
    // merely named: a folder that exists already belongs to another build).
    std::error_code noKept;
    while ((!plan.compiles.empty() || !fs::is_regular_file(plan.versionFunction.kept, noKept)) && !scratch.create()) {
        context.scratch = scratch.path();
        plan = build::plan(settings, context);
    }
    const fs::path& output = plan.output;
    if (!output.parent_path().empty() && !fs::is_directory(output.parent_path())) {
        std::cerr << "orb build: the folder of '" << output.string()
                  << "' does not exist: create it, or name it with --outdir, which creates it\n";
        return kExitFailure;
    }
    if (settings.verbose) {
        host::process::setCommandObserver(
            [](const std::vector<std::string>& args) { std::cout << shellText(args) << std::endl; });
    }
    if (settings.compileCommands && !writeCompileCommands(plan.compileDatabase)) return kExitFailure;

    std::string diagnostics;  // what the compilers and the linker said, searched for missing functions
    const auto notBuilt = [&](const std::string& what) {
        for (const auto& note : generationNotes(diagnostics, settings.generation, root)) {
            std::cerr << "orb build: " << note << "\n";
        }
        std::cerr << "orb build: " << what << "; " << output.string() << " was not built\n";
        return kExitFailure;
    };
    std::size_t compiled = 0;
    for (const auto& step : plan.compiles) {
        if (plan.compiles.size() > 1 && settings.verbose) {
            std::cout << "[" << ++compiled << "/" << plan.compiles.size() << "] Compiling " << step.source << std::endl;
        }
        const ToolRun run = runTool(step.command);
        diagnostics += run.err;
        if (!run.ok) return notBuilt("compiling " + step.source + " failed");
    }

    // The version function, unless a source already defines one (the linker prefers theirs).
    const std::optional<std::string> versionObject = versionFunctionObject(plan.versionFunction);
    if (!versionObject) return kExitFailure;
    plan.link[plan.versionIndex] = *versionObject;

    std::cout.flush();
    orbfile::metadata::Result result = [&] {
        const StepOutput steps(settings.verbose);
        return orbfile::build_orb_linker_cmds(plan.link, "-o", plan.outputIndex, settings.threadpoolSafe);
    }();
    std::fflush(stdout);
    showToolOutput(result.get_cmdOutput(), result.get_cmdErr());
    diagnostics += result.get_cmdErr();
    if (result.get_status() != 0) {
        // The steps keep the files of a failed step for inspection; the tool leaves nothing.
        result.delete_files();
        std::error_code ignored;
        const fs::path temporary =
            output.parent_path() / (output.stem().string() + "_kv_temp_" + output.extension().string());
        fs::remove(temporary, ignored);
        const std::string said = result.get_cmdErr();
        if (said.find("no such program") != std::string::npos && said.find(root.string()) != std::string::npos) {
            std::cerr << "orb build: the installation at " << root.string()
                      << " lacks a program the build runs: build it again (./run build), or set VELTRA_ROOT to a "
                         "complete one\n";
        }
        return notBuilt(plan.compileInLink ? "compiling and linking failed" : "linking failed");
    }
    std::cout << "Built " << output.string() << "\n";

    // The module's report as orb check gives it.
    if (settings.check) {
        check::Settings report;
        report.layout = check::layoutForStdout("auto");
        return check::printReport({output.string()}, report);
    }
    return kExitOk;
}

int runBuild(const std::vector<std::string>& args) {
    Settings settings;
    try {
        settings = parse(args);
    } catch (const UsageError& error) {
        std::cerr << "orb build: " << error.what() << "\nRun 'orb build --help' for usage.\n";
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
