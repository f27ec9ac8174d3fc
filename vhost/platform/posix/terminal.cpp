// The standard streams on POSIX: file descriptors 0, 1 and 2.
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include "vhost/platform/system.hpp"

namespace vhost::platform {
namespace {

int descriptorOf(StandardStream stream) {
    switch (stream) {
        case StandardStream::Input: return STDIN_FILENO;
        case StandardStream::Output: return STDOUT_FILENO;
        case StandardStream::Error: return STDERR_FILENO;
    }
    return -1;
}

}  // namespace

void writeToStandardError(std::string_view text) noexcept {
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(STDERR_FILENO, text.data() + written, text.size() - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
}

bool isTerminal(StandardStream stream) { return ::isatty(descriptorOf(stream)) != 0; }

int terminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

void onTerminalInterrupt(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace vhost::platform
