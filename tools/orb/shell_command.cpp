// orb shell: an interactive prompt of the reference host, with the runtime attached. Every line
// is run as statements on one engine for the whole session, so variables and loaded modules
// persist from one line to the next. An error is shown and the session goes on.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <type_traits>

#include <readline/history.h>
#include <readline/readline.h>

#include "host/ut.hpp"
#include "host_session.hpp"
#include "shell_assist.hpp"
#include "vhost/platform/system.hpp"
#include "subcommand.hpp"
#include "vhost/lang/interpreter.hpp"

namespace orbtool {
namespace {

constexpr const char* kUsage = R"(usage: orb shell [--path DIR]... [--leaks]

An interactive prompt of the reference host. Each line holds statements of the host's language
(separated by ';'); a statement not ended by ';' shows its result. Variables and loaded modules
live for the whole session. Module files (*.orbw64) in the search path folders and in the
current folder are called by name.

Commands of the shell itself:
  help           the language in brief, the modules on the search path and the built-ins
  help NAME      what NAME is: a variable, a built-in, or a module (its file, whether it is
                 loaded, and what orb check says of it, with the fix for each finding)
  leaks on|off   after each module call, show on standard error what the runtime freed on the
                 module's behalf (arrays and memory blocks it neither released nor returned)
  leaks          whether leak reports are on, and what module calls left so far
  clear NAME     unload the module NAME (its exit functions run; the next call loads it afresh)
  clear all      unload every module and empty the workspaces
  exit, quit     leave the shell (so does the end of input, Ctrl-D on a terminal)

On a terminal, lines are edited with the usual keys, Up and Down recall earlier lines, Tab
completes variables, built-ins, module functions on the search path and these commands, and
Ctrl-C abandons the line being typed or interrupts a running call.

Errors are shown on standard error and the session goes on. When standard input is not a
terminal, lines are read from it as they come, without a prompt.

Options:
  --path DIR   put DIR on the module search path (repeatable; the first is searched first)
  --leaks      start with leak reports on
  -h, --help   show this help

Exit status: 0 success, 1 a statement failed (when standard input is not a terminal) or a folder
named does not exist, 2 usage error.
)";

constexpr const char* kPrompt = ">> ";

// Ctrl-C at the prompt abandons the line being typed; while statements run it asks the host to
// interrupt them at its next safe point (the end of the module call in progress, for instance).
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int) {
    g_interrupted = 1;
    host::utInterruptState::SetInterruptPending(true);
}

// The line editor (GNU readline), loaded when the shell runs on a terminal: every other use of the
// tool starts without it and the terminal library it needs, and binds none of their names.
struct LineEditor {
    decltype(&::readline) readline = nullptr;
    decltype(&::add_history) add_history = nullptr;
    decltype(&::rl_replace_line) replace_line = nullptr;
    decltype(&::rl_crlf) crlf = nullptr;
    decltype(&::rl_on_new_line) on_new_line = nullptr;
    decltype(&::rl_redisplay) redisplay = nullptr;
    decltype(&::rl_completion_matches) completion_matches = nullptr;
    decltype(&::rl_attempted_completion_over) attempted_completion_over = nullptr;
    decltype(&::rl_basic_word_break_characters) basic_word_break_characters = nullptr;
    decltype(&::rl_attempted_completion_function) attempted_completion_function = nullptr;
    decltype(&::rl_signal_event_hook) signal_event_hook = nullptr;
};

// The editor, or null when the system's library (ORB_READLINE_SONAME) cannot be loaded or lacks a
// name; the shell then reads lines plainly, as from a pipe.
const LineEditor* lineEditor() {
    static const std::optional<LineEditor> editor = []() -> std::optional<LineEditor> {
        void* const library = vhost::platform::loadSystemLibrary(ORB_READLINE_SONAME);
        if (library == nullptr) return std::nullopt;
        LineEditor found;
        bool complete = true;
        const auto bind = [&](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
                vhost::platform::systemLibrarySymbol(library, name));
            complete = complete && slot != nullptr;
        };
        bind(found.readline, "readline");
        bind(found.add_history, "add_history");
        bind(found.replace_line, "rl_replace_line");
        bind(found.crlf, "rl_crlf");
        bind(found.on_new_line, "rl_on_new_line");
        bind(found.redisplay, "rl_redisplay");
        bind(found.completion_matches, "rl_completion_matches");
        bind(found.attempted_completion_over, "rl_attempted_completion_over");
        bind(found.basic_word_break_characters, "rl_basic_word_break_characters");
        bind(found.attempted_completion_function, "rl_attempted_completion_function");
        bind(found.signal_event_hook, "rl_signal_event_hook");
        if (!complete) return std::nullopt;
        return found;
    }();
    return editor ? &*editor : nullptr;
}

// Called by readline when a signal cut its wait for a key short (after the handler above ran).
int abandonLineAfterInterrupt() {
    if (g_interrupted == 0) return 0;
    g_interrupted = 0;
    host::utInterruptState::SetInterruptPending(false);
    const LineEditor& editor = *lineEditor();
    editor.replace_line("", 0);
    editor.crlf();
    editor.on_new_line();
    editor.redisplay();
    return 0;
}

// Tab: the names that can start the word under the cursor.
char* nextCompletion(const char* text, int state) {
    static std::vector<std::string> matches;
    static std::size_t next = 0;
    if (state == 0) {
        try {
            matches = shell::completions(text);
        } catch (const std::exception&) {
            matches.clear();
        }
        next = 0;
    }
    if (next >= matches.size()) return nullptr;
    return strdup(matches[next++].c_str());
}

char** completeName(const char* text, int, int) {
    const LineEditor& editor = *lineEditor();
    *editor.attempted_completion_over = 1;  // no file names: they are not statements
    return editor.completion_matches(text, &nextCompletion);
}

void enableCompletion() {
    // Dots belong to names (veltra.graphics.line); operators and brackets end them.
    static char breaks[] = " \t\n\"'`,;=()[]{}+-*/<>&|~^";
    *lineEditor()->basic_word_break_characters = breaks;
    *lineEditor()->attempted_completion_function = &completeName;
}

void catchInterrupts() {
    vhost::platform::onTerminalInterrupt(&onInterrupt);
    *lineEditor()->signal_event_hook = &abandonLineAfterInterrupt;
}

// The next line of input, or nothing at the end of input. Reads through the line editor (with
// history) on a terminal, and plainly otherwise so that piped input gives clean output.
std::optional<std::string> readStatementLine(bool interactive) {
    if (interactive) {
        char* raw = lineEditor()->readline(kPrompt);
        if (raw == nullptr) return std::nullopt;
        std::string line(raw);
        std::free(raw);
        if (line.find_first_not_of(" \t") != std::string::npos) lineEditor()->add_history(line.c_str());
        return line;
    }
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return line;
}

bool isExitCommand(const std::string& line) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos) return false;
    auto last = line.find_last_not_of(" \t;");
    if (last == std::string::npos || last < first) return false;
    const std::string word = line.substr(first, last - first + 1);
    return word == "exit" || word == "quit";
}

int runShell(const std::vector<std::string>& args) {
    std::vector<std::string> paths;
    bool leaks = false;
    try {
        tools::CommandLine line;
        line.options.add_options()("help,h", "")("leaks", "")(
            "argument", boost::program_options::value<std::vector<std::string>>());
        line.positional.add("argument", -1);
        line.missingValue = {{"path", "--path needs a folder"}};
        addPathOption(line);
        const auto values = tools::readCommandLine(args, line);
        if (values.count("help") != 0) {
            std::cout << kUsage;
            return kExitOk;
        }
        if (values.count("argument") != 0) {
            throw UsageError("unexpected argument '" + values["argument"].as<std::vector<std::string>>().front() + "'");
        }
        if (values.count("path") != 0) paths = values["path"].as<std::vector<std::string>>();
        leaks = values.count("leaks") != 0;
    } catch (const UsageError& error) {
        std::cerr << "orb shell: " << error.what() << "\nRun 'orb shell --help' for usage.\n";
        return kExitUsage;
    } catch (const MissingFile& error) {
        std::cerr << "orb shell: " << error.what() << "\n";
        return kExitFailure;
    }

    const bool interactive =
        vhost::platform::isTerminal(vhost::platform::StandardStream::Input) && lineEditor() != nullptr;
    HostSession session(paths);
    setLeakReports(leaks);
    if (interactive) {
        catchInterrupts();
        enableCompletion();
        std::cout << "orb shell: 'help' explains, Tab completes, 'exit' leaves; Ctrl-C abandons the line or interrupts.\n";
    }
    bool endOfInput = true;
    // Statements read from a file or a pipe are a script: one that failed fails the run.
    bool anyError = false;
    while (const auto line = readStatementLine(interactive)) {
        if (isExitCommand(*line)) {
            endOfInput = false;
            break;
        }
        if (line->find_first_not_of(" \t\r") == std::string::npos) continue;
        try {
            g_interrupted = 0;
            host::utInterruptState::SetInterruptPending(false);
            if (!shell::runShellCommand(*line)) vhost::lang::evaluate(*line);
        } catch (const std::exception& error) {
            printError(error, "orb shell --path DIR");
            anyError = true;
        }
        std::cout.flush();
    }
    // End of input leaves the cursor after the prompt.
    if (interactive && endOfInput) std::cout << "\n";
    return anyError && !interactive ? kExitFailure : kExitOk;
}

const SubcommandRegistration registration({"shell", "an interactive prompt of the reference host", &runShell});

}  // namespace
}  // namespace orbtool
