// Programs and child processes on POSIX: the execute permission, starting a child with its output
// on pipes, and wait() statuses.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "vhost/platform/system.hpp"

extern char** environ;

namespace vhost::platform {
namespace {

// Both ends of a pipe, closed when it goes (an end already handed over is -1).
struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::system_category(), "pipe");
        read = ends[0];
        write = ends[1];
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void closeRead() {
        if (read >= 0) ::close(read);
        read = -1;
    }
    void closeWrite() {
        if (write >= 0) ::close(write);
        write = -1;
    }
};

// The spawn's file actions, destroyed when they go.
struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { ::posix_spawn_file_actions_init(&actions); }
    ~FileActions() { ::posix_spawn_file_actions_destroy(&actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
};

// Reads what one read gives on `fd` into `into` (one only: the pipe may hold no more, and a
// second read would wait while the child fills the other pipe); false once the writer has closed
// its end or the pipe failed.
bool drain(int fd, std::string& into) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, static_cast<std::size_t>(got));
            return true;
        }
        if (got < 0 && errno == EINTR) continue;
        return false;
    }
}

}  // namespace

bool isExecutableFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

ChildRun runChild(const std::string& program, const std::vector<std::string>& argv) {
    Pipe out;
    Pipe err;
    FileActions files;
    // Standard input reads nothing; left closed, the child's first file would take its number.
    ::posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&files.actions, out.write, STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&files.actions, err.write, STDERR_FILENO);
    std::vector<char*> arguments;
    arguments.reserve(argv.size() + 1);
    for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    // posix_spawn starts the child in the caller's memory (vfork-like) until it execs.
    pid_t pid = 0;
    const int started = ::posix_spawn(&pid, program.c_str(), &files.actions, nullptr, arguments.data(), environ);
    out.closeWrite();
    err.closeWrite();
    if (started != 0) throw std::system_error(started, std::system_category());

    ChildRun run;
    pollfd ends[2] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (::poll(ends, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (ends[i].fd < 0 || ends[i].revents == 0) continue;
            if (!drain(ends[i].fd, i == 0 ? run.out : run.err)) {
                ends[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitStatus = exitStatusOf(status, 1);
    return run;
}

int exitStatusOf(int nativeStatus, int otherwise) {
    if (WIFEXITED(nativeStatus)) return WEXITSTATUS(nativeStatus);
    if (WIFSIGNALED(nativeStatus)) return 128 + WTERMSIG(nativeStatus);
    return otherwise;
}

}  // namespace vhost::platform
