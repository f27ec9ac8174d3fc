#include "build_plan.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <sstream>

#include "common/command_line.hpp"
#include "startup/log_record.hpp"

namespace orbtool::build {
namespace {

namespace fs = std::filesystem;
namespace po = boost::program_options;

constexpr const char* kPipe = "-pipe";

std::optional<Language> languageOf(const std::string& path) {
    const std::string extension = fs::path(path).extension().string();
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

// -O2, -Os, -Ofast, -g3, -ggdb: a level given to -O or -g.
bool isLevelOption(const std::string& arg, char letter) {
    if (arg.size() < 3 || arg[0] != '-' || arg[1] != letter) return false;
    const std::string level = arg.substr(2);
    return level.find_first_not_of("0123456789sgzfastdbwarfline-") == std::string::npos;
}

// The compiler driver's own option families, which name no option of this tool: -W..., -f...,
// -m..., -std=..., -O and -g levels go to every compile, -Wl,... to the link.
std::vector<po::option> compilerStyle(std::vector<std::string>& args) {
    const std::string& arg = args.front();
    const auto starts = [&](const char* prefix) { return arg.starts_with(prefix); };
    std::string key;
    if (starts("-Wl,")) {
        key = "link-flag";
    } else if (((starts("-W") || starts("-f") || starts("-m") || starts("-std=")) && arg.size() > 2) ||
               isLevelOption(arg, 'O') || isLevelOption(arg, 'g')) {
        key = "compile-flag";
    } else {
        return {};
    }
    po::option option(key, {arg});
    option.original_tokens = {arg};
    args.erase(args.begin());
    return {option};
}

tools::CommandLine commandLine() {
    tools::CommandLine line;
    const auto text = [] { return po::value<std::string>(); };
    line.options.add_options()("help,h", "")("verbose,v", "")("check", "")("threadpool-safe", "")(
        "compile-commands", "")("outdir", text())(",o", text())(",I", text())(",D", text())(",U", text())(
        ",L", text())(",l", text())(",g", "")(",O", "")("Xcompiler", text())("Xlinker", text())(
        "compile-flag", text())("link-flag", text())("source", text());
    for (const auto tag : {orbfile::Version::COMPAT_32, orbfile::Version::R2017b, orbfile::Version::R2018a}) {
        const std::string name = utf8(orbfile::Version::apitag2option(tag)).substr(1);
        line.options.add_options()(name.c_str(), "");
        line.singleDash.insert(name);
    }
    line.singleDash.insert({"Xcompiler", "Xlinker"});
    line.missingValue = {{"outdir", "option --outdir needs a folder"},
                         {"Xcompiler", "option -Xcompiler needs the option to pass on"},
                         {"Xlinker", "option -Xlinker needs the option to pass on"}};
    line.positional.add("source", -1);
    // Single-dash long options as a compiler driver has them; no abbreviations, which would take
    // -o for --outdir.
    line.style = (po::command_line_style::unix_style | po::command_line_style::allow_long_disguise) &
                 ~po::command_line_style::allow_guessing;
    line.extraStyle = &compilerStyle;
    line.unknownOption = [](const std::string& option) {
        return "unknown option '" + option + "': pass a compiler option with -Xcompiler " + option +
               ", a linker option with -Xlinker " + option;
    };
    return line;
}

// The options in an environment variable such as CFLAGS, split at white space.
std::vector<std::string> flagsFrom(const Context& context, const char* name) {
    std::vector<std::string> flags;
    const auto found = context.environment.find(name);
    if (found == context.environment.end()) return flags;
    std::istringstream words(found->second);
    for (std::string word; words >> word;) flags.push_back(word);
    return flags;
}

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

// FNV-1a: a name for a text that stays the same from one run of the tool to the next.
std::uint64_t textHash(const std::string& text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ULL;
    return hash;
}

VersionFunction versionFunction(orbfile::Version::APITAG generation, const Context& context) {
    VersionFunction function;
    function.source = versionFunctionSource(generation);
    char name[40];
    std::snprintf(name, sizeof name, "%016llx.o", static_cast<unsigned long long>(textHash(function.source)));
    function.kept = context.root / "lib" / "orb-version" / name;
    function.sourceFile = context.scratch / "orb_version_function.c";
    function.object = context.scratch / "orb_version_function.o";
    function.compile = {"gcc", "-c", kPipe, "-fPIC", function.sourceFile.string(), "-o", function.object.string()};
    return function;
}

}  // namespace

Settings parse(const std::vector<std::string>& args) {
    Settings settings;
    std::optional<std::string> generationOption;
    for (const auto& option : tools::parseCommandLine(args, commandLine()).options) {
        const std::string& key = option.string_key;
        const std::string value = option.value.empty() ? std::string() : option.value.front();
        if (key == "help") {
            settings.help = true;
        } else if (key == "verbose") {
            settings.verbose = true;
        } else if (key == "-g") {
            settings.debug = true;
        } else if (key == "-O") {
            settings.optimise = true;
        } else if (key == "check") {
            settings.check = true;
        } else if (key == "threadpool-safe") {
            settings.threadpoolSafe = true;
        } else if (key == "compile-commands") {
            settings.compileCommands = true;
        } else if (key == "outdir") {
            settings.outdir = value;
        } else if (key == "Xcompiler" || key == "compile-flag") {
            settings.compileFlags.push_back(value);
        } else if (key == "Xlinker") {
            settings.linkFlags.insert(settings.linkFlags.end(), {"-Xlinker", value});
        } else if (key == "link-flag") {
            settings.linkFlags.push_back(value);
        } else if (key == "-o") {
            settings.output = value;
        } else if (key == "-I") {
            settings.includes.push_back(value);
        } else if (key == "-D" || key == "-U") {
            settings.defines.push_back(key + value);
        } else if (key == "-L") {
            settings.libraryDirs.push_back(value);
        } else if (key == "-l") {
            settings.libraries.push_back(value);
        } else if (key == "source") {
            const auto language = languageOf(value);
            if (!language) {
                throw tools::UsageError("'" + value +
                                        "' is not a C, C++ or Fortran source (.c, .cpp, .f90, ...), an object (.o) or "
                                        "a library (.a, .so)");
            }
            settings.sources.push_back({value, *language});
        } else {
            // An interface generation.
            if (generationOption && *generationOption != "-" + key) {
                throw tools::UsageError(*generationOption + " and -" + key + " exclude each other: give one");
            }
            generationOption = "-" + key;
            for (const auto t : {orbfile::Version::COMPAT_32, orbfile::Version::R2017b, orbfile::Version::R2018a}) {
                if (*generationOption == utf8(orbfile::Version::apitag2option(t))) settings.generation = t;
            }
        }
    }
    if (settings.help) return settings;
    if (settings.sources.empty()) {
        throw tools::UsageError("no source file given: name the module's sources, as in orb build gain.c");
    }
    const bool anyCxx = std::any_of(settings.sources.begin(), settings.sources.end(),
                                    [](const Source& s) { return s.language == Language::kCxx; });
    if (settings.threadpoolSafe && !anyCxx) {
        throw tools::UsageError("--threadpool-safe is for C++ modules only: C and Fortran modules never run on the "
                                "thread pool, and this module has no C++ source");
    }
    for (const auto* list : {&settings.includes, &settings.defines, &settings.libraryDirs, &settings.libraries}) {
        for (const auto& value : *list) {
            if (value.empty() || value == "-D" || value == "-U") {
                throw tools::UsageError("an option is given an empty value");
            }
        }
    }
    return settings;
}

Plan plan(const Settings& settings, const Context& context) {
    Plan plan;
    const std::string includeDir = (context.root / "include").string();
    const std::string libDir = (context.root / "lib").string();

    fs::path output = settings.output.empty()
                          ? fs::path(fs::path(settings.sources.front().path).stem().string() + ".orbw64")
                          : fs::path(settings.output);
    if (output.extension() != ".orbw64") output += ".orbw64";
    if (!settings.outdir.empty()) output = fs::path(settings.outdir) / output;
    plan.output = output;

    const std::string macro = utf8(orbfile::Version::apitag2macro(settings.generation));
    const bool colour = context.colour &&
                        std::none_of(settings.compileFlags.begin(), settings.compileFlags.end(),
                                     [](const std::string& f) { return f.starts_with("-fdiagnostics-color"); });
    std::vector<std::string> objects;
    bool cxx = false;
    bool fortran = false;
    const std::size_t toCompile =
        std::count_if(settings.sources.begin(), settings.sources.end(),
                      [](const Source& s) { return s.language != Language::kLinkInput; });
    // One source built for the default generation, whose metadata the first link already embeds:
    // the link's own driver compiles the source too, one driver run fewer and no object file
    // written and read back. (Another generation is linked twice, and would compile twice.)
    plan.compileInLink = toCompile == 1 && settings.generation == orbfile::Version::R2018a;
    std::vector<std::string> compileFlags;
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
        // On a terminal, the compiler's own colours (its output is captured, so it would leave
        // them out).
        if (colour) flags.emplace_back("-fdiagnostics-color=always");
        flags.push_back("-I" + includeDir);
        for (const auto& dir : settings.includes) flags.push_back("-I" + dir);
        flags.push_back(macro);
        for (const auto& define : settings.defines) flags.push_back(define);
        // The environment's options first, so that the command line's own win.
        for (auto& flag : flagsFrom(context, flagsVariableOf(source.language))) flags.push_back(std::move(flag));
        flags.insert(flags.end(), settings.compileFlags.begin(), settings.compileFlags.end());

        const std::string object =
            (context.scratch / (std::to_string(i) + "_" + fs::path(source.path).stem().string() + ".o")).string();
        std::vector<std::string> command = {compilerOf(source.language), "-c"};
        command.insert(command.end(), flags.begin(), flags.end());
        command.insert(command.end(), {source.path, "-o", object});
        std::vector<std::string> recorded = command;
        // An editor's compiler is no terminal.
        recorded.erase(std::remove(recorded.begin(), recorded.end(), "-fdiagnostics-color=always"), recorded.end());
        recorded.resize(recorded.size() - 2);  // no object file: it would name the scratch folder
        // The compiler hands its assembly to the assembler through a pipe, not a file in the
        // system's temporary folder: the two run side by side and nothing is written and read
        // back. The object code is the same, so an editor's entry leaves it out.
        command.insert(command.begin() + 2, kPipe);
        plan.compileDatabase.push_back({{"directory", context.currentFolder.string()},
                                        {"file", (context.currentFolder / source.path).lexically_normal().string()},
                                        {"arguments", recorded}});
        if (plan.compileInLink) {
            compileFlags = std::move(flags);
            objects.push_back(source.path);
            continue;
        }
        plan.compiles.push_back({source.path, std::move(command)});
        objects.push_back(object);
    }

    // The version function, unless a source already defines one (the linker prefers theirs).
    plan.versionFunction = versionFunction(settings.generation, context);
    plan.versionIndex = objects.size();
    objects.push_back(plan.versionFunction.kept.string());

    std::vector<std::string>& link = plan.link;
    link = {cxx ? "g++" : fortran ? "gfortran" : "gcc", "-shared"};
    if (plan.compileInLink) link.emplace_back(kPipe);
    link.insert(link.end(), compileFlags.begin(), compileFlags.end());
    // Code-generation options that need their runtime at the link too (-fsanitize=, -fopenmp,
    // -fprofile-arcs, -m32 ...); the driver ignores the others there.
    if (!plan.compileInLink) {
        std::copy_if(settings.compileFlags.begin(), settings.compileFlags.end(), std::back_inserter(link),
                     [](const std::string& f) { return f.starts_with("-f") || f.starts_with("-m"); });
    }
    if (colour && !plan.compileInLink) link.emplace_back("-fdiagnostics-color=always");
    plan.versionIndex += link.size();
    link.insert(link.end(), objects.begin(), objects.end());
    plan.outputIndex = static_cast<int>(link.size());
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
    for (auto& flag : flagsFrom(context, "LDFLAGS")) link.push_back(std::move(flag));
    link.insert(link.end(), settings.linkFlags.begin(), settings.linkFlags.end());
    return plan;
}

}  // namespace orbtool::build
