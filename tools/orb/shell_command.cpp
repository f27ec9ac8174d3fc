// orb shell: an interactive prompt of the reference host, with the runtime attached. Every line
// is run as statements on one engine for the whole session, so variables and loaded modules
// persist from one line to the next. An error is shown and the session goes on.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include <readline/history.h>
#include <readline/readline.h>

#include "host/ut.hpp"
#include "host_session.hpp"
#include "subcommand.hpp"
#include "vhost/lang/interpreter.hpp"

namespace orbtool {
namespace {

constexpr const char* kUsage = R"(usage: orb shell [--path DIR]...

An interactive prompt of the reference host. Each line holds statements of the host's language
(separated by ';'); a statement not ended by ';' shows its result. Variables and loaded modules
live for the whole session. Module files (*.orbw64) in the search path folders and in the
current folder are called by name. 'exit' or 'quit' (or end of input) leaves.

Errors are shown on standard error and the session goes on. When standard input is not a
terminal, lines are read from it as they come, without a prompt.

Options:
  --path DIR   put DIR on the module search path (repeatable; the first is searched first)
  -h, --help   show this help
)";

constexpr const char* kPrompt = ">> ";

// Ctrl-C at the prompt abandons the line being typed; while statements run it asks the host to
// interrupt them at its next safe point (the end of the module call in progress, for instance).
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int) {
    g_interrupted = 1;
    host::utInterruptState::SetInterruptPending(true);
}

// Called by readline when a signal cut its wait for a key short (after the handler above ran).
int abandonLineAfterInterrupt() {
    if (g_interrupted == 0) return 0;
    g_interrupted = 0;
    host::utInterruptState::SetInterruptPending(false);
    rl_replace_line("", 0);
    rl_crlf();
    rl_on_new_line();
    rl_redisplay();
    return 0;
}

void catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = &onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    rl_signal_event_hook = &abandonLineAfterInterrupt;
}

// The next line of input, or nothing at the end of input. Reads through the line editor (with
// history) on a terminal, and plainly otherwise so that piped input gives clean output.
std::optional<std::string> readStatementLine(bool interactive) {
    if (interactive) {
        char* raw = readline(kPrompt);
        if (raw == nullptr) return std::nullopt;
        std::string line(raw);
        std::free(raw);
        if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
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
    try {
        for (std::size_t i = 0; i < args.size();) {
            if (takePathOption(args, i, paths)) continue;
            if (args[i] == "-h" || args[i] == "--help") {
                std::cout << kUsage;
                return kExitOk;
            }
            throw UsageError(args[i].starts_with("-") ? "unknown option '" + args[i] + "'"
                                                      : "unexpected argument '" + args[i] + "'");
        }
    } catch (const UsageError& error) {
        std::cerr << "orb shell: " << error.what() << "\nRun 'orb shell --help' for usage.\n";
        return kExitUsage;
    }

    const bool interactive = isatty(STDIN_FILENO) != 0;
    HostSession session(paths);
    if (interactive) {
        catchInterrupts();
        std::cout << "orb shell: 'exit' or 'quit' leaves; Ctrl-C abandons the line or interrupts.\n";
    }
    bool endOfInput = true;
    while (const auto line = readStatementLine(interactive)) {
        if (isExitCommand(*line)) {
            endOfInput = false;
            break;
        }
        if (line->find_first_not_of(" \t\r") == std::string::npos) continue;
        try {
            g_interrupted = 0;
            host::utInterruptState::SetInterruptPending(false);
            vhost::lang::evaluate(*line);
        } catch (const std::exception& error) {
            printError(error);
        }
        std::cout.flush();
    }
    // End of input leaves the cursor after the prompt.
    if (interactive && endOfInput) std::cout << "\n";
    return kExitOk;
}

const SubcommandRegistration registration({"shell", "an interactive prompt of the reference host", &runShell});

}  // namespace
}  // namespace orbtool
