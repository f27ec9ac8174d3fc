// orb run: calls one module function, or runs statements, in the reference host and shows what
// comes back.
//
//   orb run [OPTIONS] -e STATEMENTS
//   orb run [OPTIONS] [--nargout N] FILE.orbw64 [ARG]...
//   orb run [OPTIONS] [--nargout N] NAME [ARG]...
//
// Exit status: 0 when everything ran, 1 when the host raised an error (shown on standard error)
// or a file or folder named does not exist, 2 for a command line that cannot be read.

#include <cctype>
#include <charconv>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>

#include <csignal>

#include "host/exceptions.hpp"
#include "host/services.hpp"
#include "host/ry.hpp"
#include "host_session.hpp"
#include "platform/module_boundary.hpp"
#include "subcommand.hpp"
#include "vhost/lang/interpreter.hpp"
#include "vhost/services/features.hpp"

namespace orbtool {
namespace {

constexpr const char* kUsage = R"(usage: orb run [OPTIONS] -e STATEMENTS
       orb run [OPTIONS] [--nargout N] FILE.orbw64 [ARG]...
       orb run [OPTIONS] [--nargout N] NAME [ARG]...

Runs module code in the reference host, with the runtime attached.

With -e, runs STATEMENTS as the host's language does: statements are separated by ';' or new
lines, and a statement not ended by ';' shows its result.

With a module FILE, puts the file's folder on the search path and calls the function named after
the file (FILE without folder and extension) with the ARGs; with a NAME, calls the function of
that name found on the search path (the --path folders, then the current folder). Each ARG is one
literal of the host's language: 3, -2.5, [1 2; 3 4], 'text', "string", true. Quote them for the
shell: orb run scale.orbw64 '[1 2 3]' 2. The outputs are shown as the language shows values.

Options:
  --path DIR     put DIR on the module search path (repeatable; the first is searched first)
  -e STATEMENTS  run STATEMENTS instead of calling one function
  --nargout N    ask the function for N outputs (default 0: the function's first output, if it
                 gives one, is shown as ans)
  --tasks        run in tasks mode, as background tasks do: only modules admitted to the thread
                 pool load (C++ modules built with orb build --threadpool-safe, with
                 --feature ThreadPoolCppOrb=1); any other module fails at its first call
                 with parallel:threadpool:DisallowedOrbFunction
  --feature NAME=VALUE
                 set the host feature NAME to the whole number VALUE before running (repeatable)
  --leaks        after each module call, say on standard error what the runtime freed on the
                 module's behalf: the arrays and memory blocks it allocated and neither destroyed
                 nor returned, as in: leaks: NAME left 3 arrays (96 bytes)
  --no-guard     run without the fault guard: a segmentation fault (or another machine fault,
                 or an abort) in a module ends the process where it happens, as in a plain
                 program, instead of becoming an error; for the debugger and core files:
                 gdb --args orb run --no-guard FILE.orbw64 ARG...
  -h, --help     show this help

Exit status: 0 success, 1 the host raised an error (shown on standard error) or a file or folder
named does not exist, 2 usage error.
)";

struct RunRequest {
    std::vector<std::string> paths;
    std::optional<std::string> statements;
    std::string target;  // FILE or NAME
    std::vector<std::string> arguments;
    int nargout = 0;
    bool nargoutGiven = false;
    bool tasks = false;
    bool leaks = false;
    bool noGuard = false;
    std::vector<std::pair<std::string, int>> features;
    bool help = false;
};

int parseCount(const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > 100) {
        throw UsageError("--nargout needs a whole number from 0 to 100, not '" + text + "'");
    }
    return value;
}

std::pair<std::string, int> parseFeature(const std::string& text) {
    const std::size_t equals = text.find('=');
    int value = 0;
    const char* first = text.data() + (equals == std::string::npos ? text.size() : equals + 1);
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (equals == 0 || equals == std::string::npos || first == last || error != std::errc() || end != last) {
        throw UsageError("--feature needs NAME=VALUE with a whole number VALUE, not '" + text + "'");
    }
    return {text.substr(0, equals), value};
}

// Options come before FILE or NAME; everything from it on is an argument, even when it starts
// with '-' (negative numbers do).
std::vector<boost::program_options::option> fromTheTargetOn(std::vector<std::string>& args) {
    if (args.front().size() > 1 && args.front()[0] == '-') {
        if (args.front() != "--") return {};
        args.erase(args.begin());
    }
    std::vector<boost::program_options::option> positional(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        positional[i].value = {args[i]};
        positional[i].original_tokens = {args[i]};
    }
    args.clear();
    return positional;
}

RunRequest parseCommandLine(const std::vector<std::string>& args) {
    namespace po = boost::program_options;
    tools::CommandLine line;
    const auto list = [] { return po::value<std::vector<std::string>>(); };
    line.options.add_options()("help,h", "")("eval,e", po::value<std::string>())("nargout", po::value<std::string>())(
        "tasks", "")("leaks", "")("no-guard", "")("feature", list())("target", po::value<std::string>())(
        "argument", list());
    addPathOption(line);
    line.missingValue = {{"path", "--path needs a folder"},
                         {"eval", "-e needs the statements to run"},
                         {"nargout", "--nargout needs a number"},
                         {"feature", "--feature needs NAME=VALUE"}};
    line.positional.add("target", 1).add("argument", -1);
    line.extraStyle = &fromTheTargetOn;
    const auto values = tools::readCommandLine(args, line);

    RunRequest request;
    request.help = values.count("help") != 0;
    if (request.help) return request;
    if (values.count("path") != 0) request.paths = values["path"].as<std::vector<std::string>>();
    if (values.count("eval") != 0) request.statements = values["eval"].as<std::string>();
    if (values.count("nargout") != 0) {
        request.nargout = parseCount(values["nargout"].as<std::string>());
        request.nargoutGiven = true;
    }
    request.tasks = values.count("tasks") != 0;
    request.leaks = values.count("leaks") != 0;
    request.noGuard = values.count("no-guard") != 0;
    if (values.count("feature") != 0) {
        for (const auto& feature : values["feature"].as<std::vector<std::string>>()) {
            request.features.push_back(parseFeature(feature));
        }
    }
    if (values.count("target") != 0) request.target = values["target"].as<std::string>();
    if (values.count("argument") != 0) request.arguments = values["argument"].as<std::vector<std::string>>();
    if (request.statements && !request.target.empty()) {
        throw UsageError("give either -e STATEMENTS or a module to call, not both");
    }
    if (request.statements && request.nargoutGiven) throw UsageError("--nargout applies to a function call, not to -e");
    if (!request.statements && request.target.empty()) {
        throw UsageError("nothing to run: give -e STATEMENTS, a module FILE.orbw64 or a function NAME");
    }
    return request;
}

bool isIdentifier(const std::string& text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    }
    return true;
}

// Arrays made here (arguments, outputs) belong to the tool.
using ArrayHandle = host::ryUnique;

// The function to call: a module file puts its folder on the path and is called by its name.
std::string functionToCall(const std::string& target, HostSession& session) {
    namespace fs = std::filesystem;
    const fs::path file(target);
    std::error_code error;
    if (fs::is_regular_file(file, error)) {
        if (file.extension() != ".orbw64") {
            throw UsageError(target + " is not a module file (*.orbw64): build one from its sources with orb build");
        }
        session.addPath(fs::absolute(file).parent_path().string());
        return file.stem().string();
    }
    if (isIdentifier(target)) return target;
    if (fs::is_directory(file, error)) {
        throw UsageError(target + " is a folder: give a module file in it, or the folder as --path " + target);
    }
    throw MissingFile(target + ": no such module file; check the name, or call the function by NAME with --path "
                      "and the module's folder");
}

// The fault guard off for this process: the guard's handlers are installed once, at the first
// guarded call; making that call now and putting the default actions back leaves every later
// fault to the system (and to a debugger, which sees it where it happens).
void switchOffFaultGuard() {
    (void)orb::platform::callModuleCode([] {});
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(signal, SIG_DFL);
}

int callFunction(const RunRequest& request, HostSession& session) {
    const std::string name = functionToCall(request.target, session);

    std::vector<ArrayHandle> inputs;
    for (std::size_t i = 0; i < request.arguments.size(); ++i) {
        try {
            inputs.emplace_back(vhost::lang::parseLiteral(request.arguments[i]));
        } catch (const host::UserException& error) {
            throw UsageError("argument " + std::to_string(i + 1) + " (" + request.arguments[i] +
                             ") is not a literal: " + error.message());
        }
    }
    std::vector<ryArray*> inputList;
    for (const auto& input : inputs) inputList.push_back(input.get());

    std::vector<ArrayHandle> outputs;
    for (ryArray* output : vhost::lang::call(name, request.nargout, inputList)) outputs.emplace_back(output);
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!outputs[i]) continue;
        // One output is "ans", as the language names an unassigned result; several are numbered.
        const std::string shownAs = outputs.size() == 1 ? "ans" : "ans" + std::to_string(i + 1);
        vhost::lang::display(shownAs, outputs[i].get());
    }
    return kExitOk;
}

int runRun(const std::vector<std::string>& args) {
    RunRequest request;
    try {
        request = parseCommandLine(args);
    } catch (const UsageError& error) {
        std::cerr << "orb run: " << error.what() << "\nRun 'orb run --help' for usage.\n";
        return kExitUsage;
    } catch (const MissingFile& error) {
        std::cerr << "orb run: " << error.what() << "\n";
        return kExitFailure;
    }
    if (request.help) {
        std::cout << kUsage;
        return kExitOk;
    }

    HostSession session(request.paths);
    for (const auto& [name, value] : request.features) {
        if (!host::svSetFeature(name, value)) {
            std::cerr << "orb run: --feature " << name << ": no such feature; check its spelling\n";
            return kExitUsage;
        }
    }
    vhost::setTasksMode(request.tasks);
    setLeakReports(request.leaks);
    if (request.noGuard) switchOffFaultGuard();
    try {
        if (request.statements) {
            vhost::lang::evaluate(*request.statements);
            return kExitOk;
        }
        return callFunction(request, session);
    } catch (const UsageError& error) {
        std::cerr << "orb run: " << error.what() << "\n";
        return kExitUsage;
    } catch (const MissingFile& error) {
        std::cerr << "orb run: " << error.what() << "\n";
        return kExitFailure;
    } catch (const std::exception& error) {
        printError(error, "orb run --path DIR");
        return kExitFailure;
    }
}

const SubcommandRegistration registration({"run", "call a module function or run statements in the reference host",
                                           &runRun});

}  // namespace
}  // namespace orbtool
