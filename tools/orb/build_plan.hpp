// What `orb build` will run, worked out from its command line before anything runs: the compile
// of each source, the compile of the version function, and the link that the runtime's
// metadata-aware link steps take over (they add the resource compiler's bundle). Nothing here
// touches the file system or runs a program, so the plan can be checked without a compiler.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "orbfile/version.hpp"

namespace orbtool::build {

enum class Language { kC, kCxx, kFortran, kLinkInput };

struct Source {
    std::string path;
    Language language;
};

// The command line, read.
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

// Reads the arguments after "orb build". Throws tools::UsageError for a command line that cannot
// be built from (with --help, only for options it cannot read).
Settings parse(const std::vector<std::string>& args);

// What the plan depends on besides the command line.
struct Context {
    std::filesystem::path root;           // the installation: its include/ and lib/
    std::filesystem::path scratch;        // the folder for object files
    std::filesystem::path currentFolder;  // where relative names are
    bool colour = false;                  // the compilers' diagnostics go to a terminal
    // CFLAGS, CXXFLAGS, FFLAGS and LDFLAGS, those that are set.
    std::map<std::string, std::string> environment;
};

struct CompileStep {
    std::string source;  // as the command line names it
    std::vector<std::string> command;
};

// The module's version function for the chosen generation. Its object is the same for every
// module of a generation, so it is kept in the installation under the hash of its source and
// compiled into the scratch folder only when it is not there yet.
struct VersionFunction {
    std::string source;
    std::filesystem::path kept;
    std::filesystem::path sourceFile;
    std::filesystem::path object;
    std::vector<std::string> compile;
};

struct Plan {
    std::filesystem::path output;  // the module file
    std::vector<CompileStep> compiles;
    // One source for the default generation is compiled by the link's own driver run.
    bool compileInLink = false;
    // compile_commands.json entries, one per source compiled.
    nlohmann::json compileDatabase = nlohmann::json::array();
    VersionFunction versionFunction;
    // The link, with the kept version object at `versionIndex` (the executor puts the scratch
    // folder's object there when it could not keep one) and the output option at `outputIndex`.
    std::vector<std::string> link;
    std::size_t versionIndex = 0;
    int outputIndex = 0;
};

Plan plan(const Settings& settings, const Context& context);

}  // namespace orbtool::build
