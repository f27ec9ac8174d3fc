// POSIX: fork, run the work in the child, hand its text back through a pipe.
#include "platform/isolated_call.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace orb::platform {
namespace {

// Ends the text of work that returned. Whatever ends the copy before that (a fault, an abort, the
// system loader giving up with an exit of its own) leaves it out.
constexpr char kCompleted[] = "\n\x01isolated-call-completed\x01";

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the parent is gone; nobody is left to tell
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

IsolatedOutcome runIsolated(const std::function<int(std::string&)>& work, unsigned seconds) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        throw std::runtime_error(std::string("cannot start a process: ") + std::strerror(error));
    }
    if (child == 0) {
        ::close(fds[0]);
        int status = 255;
        std::string output;
        try {
            status = work(output);
        } catch (const std::exception& error) {
            output += std::string("\n") + error.what() + "\n";
        } catch (...) {
        }
        output += kCompleted;
        writeAll(fds[1], output);
        ::close(fds[1]);
        // No destructors, no exit handlers: they belong to the parent's copy of the state.
        ::_exit(status & 0xFF);
    }

    ::close(fds[1]);
    IsolatedOutcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            outcome.timedOut = true;
            ::kill(child, SIGKILL);
            break;
        }
        pollfd poll{fds[0], POLLIN, 0};
        const int ready = ::poll(&poll, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;  // the deadline is checked above
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // end of the child's text
        outcome.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const std::string_view marker(kCompleted, sizeof kCompleted - 1);
    if (!outcome.timedOut && WIFEXITED(status) && outcome.output.ends_with(marker)) {
        outcome.completed = true;
        outcome.output.resize(outcome.output.size() - marker.size());
    } else {
        outcome.output.clear();
    }
    if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
        outcome.signalled = true;
        outcome.status = WTERMSIG(status);
    }
    return outcome;
}

std::string describeFailure(const IsolatedOutcome& outcome, unsigned seconds) {
    if (outcome.timedOut) return "no answer within " + std::to_string(seconds) + " seconds";
    if (!outcome.signalled) return "exit status " + std::to_string(outcome.status);
    const char* name = ::strsignal(outcome.status);
    return "signal " + std::to_string(outcome.status) + " (" + (name ? name : "unknown") + ")";
}

}  // namespace orb::platform
