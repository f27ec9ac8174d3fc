// POSIX: fork, run the work in the child, hand its text back through a pipe.
#include "platform/isolated_call.hpp"
#include "platform/library_handle.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cxxabi.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <typeinfo>
#include <string_view>

namespace orb::platform {

std::recursive_mutex& loaderGate() noexcept {
    static std::recursive_mutex gate;
    return gate;
}

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

// Whether the child is running (or ready to run) rather than waiting: the state letter of its
// /proc entry, after the command name in parentheses (which may itself hold parentheses).
bool runningNow(pid_t child) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(child));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[512];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) return false;
    const std::string_view stat(text, static_cast<std::size_t>(n));
    const std::size_t end = stat.rfind(')');
    return end != std::string_view::npos && end + 2 < stat.size() && stat[end + 2] == 'R';
}

// The parent's half: the child's text until it closes the pipe or the time is up, then how it
// ended. `completed` when it exited on its own and its text ends with the marker.
IsolatedOutcome collect(pid_t child, int fd, unsigned seconds) {
    IsolatedOutcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            outcome.timedOut = true;
            outcome.running = runningNow(child);
            ::kill(child, SIGKILL);
            break;
        }
        pollfd poll{fd, POLLIN, 0};
        const int ready = ::poll(&poll, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;  // the deadline is checked above
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // end of the child's text
        outcome.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
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

// How long a fork waits for the runtime's own loads and unloads to let go of the loader: past it
// (a start-up or exit routine that does not return) the copy is made anyway, and the probe's own
// test of the loader's locks decides.
constexpr auto kLoaderGateWait = std::chrono::seconds(2);

// A pipe and a forked child; in the parent, answers the child's id and keeps the reading end.
// With `gated`, the fork waits for the runtime's own loads (loaderGate): for a child that maps a
// library itself, and calls nothing that passes the gate, whose copy stays taken in the child.
pid_t forkWithPipe(int fds[2], bool gated = false) {
    if (::pipe(fds) != 0) throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
    std::unique_lock gate(loaderGate(), std::defer_lock);
    if (gated) {
        // Asked for again and again rather than waited on with a time limit: a load holds the
        // gate for milliseconds at most, and a timed wait is one the thread checker cannot follow.
        const auto deadline = std::chrono::steady_clock::now() + kLoaderGateWait;
        while (!gate.try_lock() && std::chrono::steady_clock::now() < deadline) ::usleep(200);
    }
    const pid_t child = ::fork();
    if (child == 0) (void)gate.release();
    if (child < 0) {
        const int error = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        throw std::runtime_error(std::string("cannot start a process: ") + std::strerror(error));
    }
    if (child == 0) {
        ::close(fds[0]);
    } else {
        ::close(fds[1]);
    }
    return child;
}

// Start-up probe statuses: how the child ended when it ended on its own.
constexpr int kProbeMapped = 0;
constexpr int kProbeNotMapped = 3;
constexpr int kProbeThrew = 4;
constexpr int kProbeExited = 5;
constexpr int kProbeRefused = 6;  // mapped, then refused by the check run in the copy

// Sent first by the copy: the system loader's locks were free in it.
constexpr char kLoaderFree = '\x02';
// How long a copy may take to find them free, how many copies are tried, and the short time the
// first copy that finds them free gets.
constexpr int kLoaderFreeMilliseconds = 2000;
constexpr int kProbeAttempts = 5;
constexpr unsigned kQuickProbeSeconds = 3;

// Whether the copy reported the loader's locks free in time (also when it ended without saying).
bool loaderFreeInChild(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLoaderFreeMilliseconds);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd poll{fd, POLLIN, 0};
        const int ready = ::poll(&poll, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) continue;
        char first = 0;
        const ssize_t n = ::read(fd, &first, 1);
        if (n < 0 && errno == EINTR) continue;
        return true;  // the signal, or the end of a copy that died before it: collect() tells
    }
}

// Set in the child before the library is mapped: a start-up routine that calls exit() ends the
// child here, before the exit handlers the child inherited from the host run. The module code
// running now, as the child's texts name it.
int g_probeOutput = -1;
const char* g_probeStage = "its start-up code";
void endProbeAtExit() {
    writeAll(g_probeOutput, std::string(g_probeStage) + " called exit()" + kCompleted);
    ::_exit(kProbeExited);
}

// A machine fault in the check run in the copy, when no guard of the module boundary caught it
// (the copy has the default handlers, and the guard's were installed before the fork): the copy
// says which module code faulted instead of ending with the bare signal.
void endProbeOnFault(int signal) {
    const char* name = ::strsignal(signal);
    writeAll(g_probeOutput, std::string(g_probeStage) + " failed: signal " + std::to_string(signal) + " (" +
                                (name ? name : "unknown") + ")" + kCompleted);
    ::_exit(kProbeRefused);
}

// The exception being handled, as its source names it: "std::runtime_error: global ctor failed",
// "int"; empty when none is. Call only inside a handler or a terminate handler.
std::string currentException() {
    const std::type_info* type = abi::__cxa_current_exception_type();
    const std::exception_ptr current = std::current_exception();
    if (!type || !current) return {};
    int status = 0;
    char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
    std::string text = status == 0 && demangled ? demangled : type->name();
    std::free(demangled);
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& error) {
        text += std::string(": ") + error.what();
    } catch (...) {
    }
    return text;
}

std::string threwText() {
    const std::string thrown = currentException();
    return std::string(g_probeStage) + (thrown.empty() ? " threw a C++ exception of an unknown type" : " threw " + thrown);
}

// A C++ exception thrown by start-up code finds no handler: the system loader's frames between
// the constructor and the probe have none (or the constructor is noexcept), so the C++ runtime
// ends the process through std::terminate. The probe says what was thrown instead of "signal 6".
[[noreturn]] void endProbeOnTerminate() {
    const std::string thrown = currentException();
    const std::string text = std::string(g_probeStage) + (thrown.empty() ? " called std::terminate" : " threw " + thrown);
    writeAll(g_probeOutput, text + kCompleted);
    ::_exit(kProbeThrew);
}

// The copy made for module code, before that code runs: the default actions of the fault signals,
// nothing blocked, the standard streams going nowhere; then it tells the parent through `fd`
// whether the system loader's lock was free at the fork, and ends itself with a description should
// `stage` call exit() or throw past every handler. Only what the system loader needs runs in such a
// copy, and the module code it was made for: the child of a process with several threads holds
// only this thread, and a lock another thread held at the fork stays locked in it.
void prepareCopy(int fd, const char* stage) {
    // A machine fault ends the child: the host's guard handlers and masks are the host's.
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(signal, &fallback, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
    // What start-up code prints belongs to nobody.
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        if (null > STDERR_FILENO) ::close(null);
    }
    // The system loader's list lock, as the fork left it: taken and released here once, then the
    // parent hears that it was free. A lock another thread held at the fork stays held in the copy
    // forever; the parent then tries again with a new copy.
    ::dl_iterate_phdr([](struct dl_phdr_info*, std::size_t, void*) { return 1; }, nullptr);
    writeAll(fd, std::string(1, kLoaderFree));
    g_probeOutput = fd;
    g_probeStage = stage;
    std::atexit(endProbeAtExit);
    std::set_terminate(endProbeOnTerminate);
}

// The child's half of probeLibraryStartup.
[[noreturn]] void probeInChild(const char* nativePath, int fd, const InCopyCheck* alsoInCopy) {
    prepareCopy(fd, "its start-up code");
    int status = kProbeMapped;
    std::string text;
    try {
        // Never closed: the copy ends with _exit, and closing would run the library's finalisers.
        void* library = ::dlopen(nativePath, RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            const char* reason = ::dlerror();
            text = reason ? reason : "the system loader refused it";
            status = kProbeNotMapped;
        } else if (alsoInCopy) {
            g_probeStage = alsoInCopy->what;
            for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) ::signal(signal, &endProbeOnFault);
            text = alsoInCopy->run(library);
            if (!text.empty()) status = kProbeRefused;
        }
    } catch (...) {
        text = threwText();
        status = kProbeThrew;
    }
    writeAll(fd, text + kCompleted);
    ::_exit(status);
}

// The child's half of probeLibraryUnload: the one unload, as the host would make it.
[[noreturn]] void unloadInChild(void* library, int fd) {
    prepareCopy(fd, "its unload code");
    ::dlclose(library);
    writeAll(fd, kCompleted);
    ::_exit(kProbeMapped);
}

// A copy made under the gate whose first word says the system loader's lock was free in it:
// the child's id, or -1 after kProbeAttempts copies found it held (each ended at once).
template <class Child>
pid_t forkWithLoaderFree(int fds[2], Child child) {
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        const pid_t pid = forkWithPipe(fds, true);
        if (pid == 0) child(fds[1]);
        if (loaderFreeInChild(fds[0])) return pid;
        // Another thread was inside the system loader at the fork.
        ::kill(pid, SIGKILL);
        ::close(fds[0]);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    return -1;
}

}  // namespace

IsolatedOutcome runIsolated(const std::function<int(std::string&)>& work, unsigned seconds) {
    int fds[2];
    const pid_t child = forkWithPipe(fds);
    if (child == 0) {
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
    return collect(child, fds[0], seconds);
}

StartupVerdict probeLibraryStartup(const std::string& nativePath, unsigned seconds, const InCopyCheck* alsoInCopy) {
    // The path is made before the fork: the child allocates as little as it can.
    const std::string path = nativePath.find('/') == std::string::npos ? "./" + nativePath : nativePath;
    for (bool hadQuickTry = false;; hadQuickTry = true) {
        int fds[2];
        const pid_t child = forkWithLoaderFree(fds, [&](int fd) { probeInChild(path.c_str(), fd, alsoInCopy); });
        if (child < 0) {
            return {StartupVerdict::Failed,
                    "its start-up code could not be tried: the system loader stayed busy in another thread"};
        }
        // A copy can also stick on the loader's other lock, which it has no way to test: the
        // first copy that gets this far has a short time, a second one the whole of it.
        const unsigned limit = hadQuickTry ? seconds : std::min(seconds, kQuickProbeSeconds);
        const IsolatedOutcome outcome = collect(child, fds[0], limit);
        if (outcome.timedOut && !hadQuickTry) continue;
        if (outcome.completed && outcome.status == kProbeMapped) return {};
        if (outcome.completed && outcome.status == kProbeNotMapped) {
            return {StartupVerdict::NotMapped, outcome.output};
        }
        if (outcome.completed) return {StartupVerdict::Failed, outcome.output};
        return {StartupVerdict::Failed, "its start-up code failed: " + describeFailure(outcome, limit)};
    }
}

UnloadVerdict probeLibraryUnload(void* library, unsigned seconds) {
    UnloadVerdict verdict;
    // A copy that waits rather than runs may have stuck on a lock another thread held at the fork
    // (the system loader's other lock among them): a second copy is made before the code is
    // judged to wait for what no copy has.
    for (bool secondCopy = false;; secondCopy = true) {
        int fds[2];
        const pid_t child = forkWithLoaderFree(fds, [library](int fd) { unloadInChild(library, fd); });
        if (child < 0) {
            verdict.kind = UnloadVerdict::Waits;
            verdict.reason = "its unload code could not be tried: the system loader stayed busy in another thread";
            return verdict;
        }
        const IsolatedOutcome outcome = collect(child, fds[0], seconds);
        if (outcome.completed && outcome.status == kProbeMapped) return verdict;
        if (outcome.timedOut && !outcome.running) {
            if (!secondCopy) continue;
            verdict.kind = UnloadVerdict::Waits;
            verdict.reason = "its unload code waited " + std::to_string(seconds) +
                             " seconds for something only this process has (a thread of its own, another thread's lock)";
            return verdict;
        }
        verdict.kind = UnloadVerdict::Failed;
        if (outcome.completed) {
            verdict.reason = outcome.output;
        } else if (outcome.timedOut) {
            verdict.reason = "its unload code ran on for " + std::to_string(seconds) + " seconds without ending";
        } else {
            verdict.reason = "its unload code failed: " + describeFailure(outcome, seconds);
        }
        return verdict;
    }
}

std::string describeFailure(const IsolatedOutcome& outcome, unsigned seconds) {
    if (outcome.timedOut) return "no answer within " + std::to_string(seconds) + " seconds";
    if (!outcome.signalled) return "exit status " + std::to_string(outcome.status);
    const char* name = ::strsignal(outcome.status);
    return "signal " + std::to_string(outcome.status) + " (" + (name ? name : "unknown") + ")";
}

}  // namespace orb::platform
