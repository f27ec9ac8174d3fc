// The tool against the programs it stands beside, each run as a process with its output thrown
// away: `orb check` of the largest shared library on the machine against `nm -D --defined-only`
// of it, and `orb build` of a one-file module against a plain `cc -shared` of the same source.
//
// Environment: ORB_BENCH_LIBRARY names the library (default: the largest ELF shared library
// under /usr/lib); ORB_BENCH_SCRATCH is where builds write (default: a folder under /tmp).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kStage = ORB_STAGE_DIR;
const std::string kOrb = kStage + "/bin/orb";

bool isElf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    return in.read(magic, 4) && magic[0] == 0x7f && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F';
}

const std::string& largestLibrary() {
    static const std::string library = [] {
        if (const char* chosen = std::getenv("ORB_BENCH_LIBRARY")) return std::string(chosen);
        fs::path best;
        std::uintmax_t bestSize = 0;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator("/usr/lib", fs::directory_options::skip_permission_denied, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (ec) break;
            const auto& entry = *it;
            if (entry.is_symlink() || !entry.is_regular_file()) continue;
            const std::string name = entry.path().filename().string();
            if (name.find(".so") == std::string::npos) continue;
            const auto size = entry.file_size(ec);
            if (!ec && size > bestSize && isElf(entry.path())) {
                best = entry.path();
                bestSize = size;
            }
        }
        return best.string();
    }();
    return library;
}

fs::path scratch() {
    const char* chosen = std::getenv("ORB_BENCH_SCRATCH");
    fs::path dir = chosen ? fs::path(chosen) : fs::temp_directory_path() / ("orb-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

// Runs `args` with its output streams on /dev/null; the exit status, or -1 when it did not run
// or ended by a signal.
int run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Times `args`; `accepted` exit statuses count as success.
void timeCommand(benchmark::State& state, const std::vector<std::string>& args, std::vector<int> accepted = {0}) {
    auto ok = [&](int status) {
        for (int a : accepted) {
            if (status == a) return true;
        }
        return false;
    };
    const int first = run(args);
    if (!ok(first)) {
        state.SkipWithError(("'" + args[0] + "' ended with status " + std::to_string(first)).c_str());
        return;
    }
    for (auto _ : state) {
        if (!ok(run(args))) state.SkipWithError("a run failed");
    }
}

// The verdict on a file that is no module is exit status 1; the inspection is complete either way.
void BM_OrbCheck(benchmark::State& state) {
    state.SetLabel(largestLibrary());
    timeCommand(state, {kOrb, "check", largestLibrary()}, {0, 1});
}
BENCHMARK(BM_OrbCheck)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OrbCheckSymbols(benchmark::State& state) {
    timeCommand(state, {kOrb, "check", "--symbols", largestLibrary()}, {0, 1});
}
BENCHMARK(BM_OrbCheckSymbols)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_NmDefined(benchmark::State& state) {
    timeCommand(state, {"nm", "-D", "--defined-only", largestLibrary()});
}
BENCHMARK(BM_NmDefined)->Unit(benchmark::kMillisecond)->UseRealTime();

// The tests' healthy module, the one the call benchmarks load.
const std::string kSource = ORB_BENCH_SOURCE_DIR "/../tests/modules/loader/twice.c";

void BM_OrbBuild(benchmark::State& state) {
    const fs::path out = scratch() / "twice_built.orbw64";
    timeCommand(state, {kOrb, "build", kSource, "-o", out.string()});
}
BENCHMARK(BM_OrbBuild)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same compile and link without metadata: one compiler driver run.
void BM_CcShared(benchmark::State& state) {
    const fs::path out = scratch() / "twice_cc.so";
    timeCommand(state, {"cc", "-shared", "-fPIC", "-I" + kStage + "/include", kSource, "-o", out.string(),
                        "-L" + kStage + "/lib", "-lorb", "-lvhost"});
}
BENCHMARK(BM_CcShared)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
