#include "platform/startup_probe.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <set>
#include <utility>
#include <vector>

#include "platform/isolated_call.hpp"

namespace orb::platform {
namespace {

// A file is settled once its inode has not changed for this long: longer than the coarsest
// resolution of time stamps among the file systems modules are kept on.
constexpr std::int64_t kSettledSeconds = 2;

struct ProvedFiles {
    std::mutex mutex;
    std::set<FileIdentity> files;
};

ProvedFiles& provedFiles() {
    static ProvedFiles* proved = new ProvedFiles;  // never destroyed: loads may run during exit
    return *proved;
}

thread_local bool t_startupWithheld = false;

}  // namespace

StartupCodeWithheld::StartupCodeWithheld() noexcept : m_previous(std::exchange(t_startupWithheld, true)) {}
StartupCodeWithheld::~StartupCodeWithheld() { t_startupWithheld = m_previous; }

std::optional<FileIdentity> identifyFile(const std::string& nativePath) {
    struct stat info {};
    if (::stat(nativePath.c_str(), &info) != 0) return std::nullopt;
    FileIdentity identity;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.size = static_cast<std::uint64_t>(info.st_size);
    identity.modified[0] = info.st_mtim.tv_sec;
    identity.modified[1] = info.st_mtim.tv_nsec;
    identity.changed[0] = info.st_ctim.tv_sec;
    identity.changed[1] = info.st_ctim.tv_nsec;
    // Read after the stat: a change made from now on is stamped no earlier than this.
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    identity.settled = info.st_ctim.tv_sec + kSettledSeconds < now.tv_sec;
    return identity;
}

StartupVerdict proveStartupCode(const std::string& nativePath, const InCopyCheck* alsoInCopy) {
    // Also a file proved earlier: mapping it runs its start-up code again.
    if (t_startupWithheld) return {StartupVerdict::Failed, "its start-up code is withheld: nothing of it may run here"};
    const std::optional<FileIdentity> identity = identifyFile(nativePath);
    if (!identity) return {StartupVerdict::NotMapped, std::strerror(errno)};
    return proveStartupCode(nativePath, *identity, alsoInCopy);
}

StartupVerdict proveStartupCode(const std::string& nativePath, const FileIdentity& identity,
                                const InCopyCheck* alsoInCopy) {
    if (t_startupWithheld) return {StartupVerdict::Failed, "its start-up code is withheld: nothing of it may run here"};
    // Remembered at once, settled or not: a file loaded again while it is new is not run in a copy
    // of the process each time.
    ProvedFiles& proved = provedFiles();
    {
        const std::lock_guard lock(proved.mutex);
        if (!alsoInCopy && proved.files.count(identity)) return {};
    }
    // Unlocked while the copy runs: another thread may prove the same file meanwhile, at the cost
    // of a second copy, but none waits on another's.
    StartupVerdict verdict = probeLibraryStartup(nativePath, kStartupProbeSeconds, alsoInCopy);
    if (verdict.kind == StartupVerdict::Proved) {
        const std::lock_guard lock(proved.mutex);
        proved.files.insert(identity);
    }
    return verdict;
}

void* mappedLibrary(const std::string& nativePath) {
    const std::string path = nativePath.find('/') == std::string::npos ? "./" + nativePath : nativePath;
    // The reference the query takes is given back when the scope ends; the library stays mapped,
    // since that reference was not the last.
    const std::unique_ptr<void, int (*)(void*)> handle(::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), &::dlclose);
    return handle.get();
}

std::string makePrivateCopy(const std::string& nativePath) {
    namespace fs = std::filesystem;
    std::string folder = (fs::temp_directory_path() / "orb-module-XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        throw std::runtime_error("cannot make a private copy of " + nativePath + ": " + std::strerror(errno));
    }
    const fs::path copy = fs::path(folder) / fs::path(nativePath).filename();
    std::error_code error;
    fs::copy_file(nativePath, copy, error);
    if (error) {
        fs::remove_all(folder, error);
        throw std::runtime_error("cannot make a private copy of " + nativePath + ": " + error.message());
    }
    // Held open for the life of the process: the system loader recognises a file it has mapped by
    // device and inode, and a removed copy's inode could otherwise be reused by a later copy,
    // which would then be handed the earlier (possibly retired) mapping.
    ::open(copy.c_str(), O_RDONLY | O_CLOEXEC);
    return copy.string();
}

void removePrivateCopy(const std::string& copyPath) noexcept {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path copy(copyPath);
    fs::remove(copy, error);
    fs::remove(copy.parent_path(), error);
}

namespace {

// One line of the process's own map (reading it takes none of the system loader's locks, which a
// library with damaged tables could leave held).
struct Mapping {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    std::string permissions;
    std::string file;  // "device inode"; empty for anonymous memory
};

std::vector<Mapping> processMappings() {
    std::vector<Mapping> mappings;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        std::istringstream fields(line);
        std::string range, offset, device;
        unsigned long long inode = 0;
        Mapping mapping;
        fields >> range >> mapping.permissions >> offset >> device >> inode;
        const auto dash = range.find('-');
        if (dash == std::string::npos) continue;
        mapping.start = std::stoull(range.substr(0, dash), nullptr, 16);
        mapping.end = std::stoull(range.substr(dash + 1), nullptr, 16);
        if (inode != 0) mapping.file = device + " " + std::to_string(inode);
        mappings.push_back(std::move(mapping));
    }
    return mappings;
}

// A return instruction: every byte of retired code is one, so a call into it comes straight back.
constexpr unsigned char kReturn = 0xC3;

}  // namespace

void retireLibraryCode(void* library) noexcept {
    if (!library) return;
    struct link_map* map = nullptr;
    if (::dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_ld) return;
    try {
        const auto base = static_cast<std::uintptr_t>(map->l_addr);
        const auto dynamic = reinterpret_cast<std::uintptr_t>(map->l_ld);
        const std::vector<Mapping> mappings = processMappings();
        // The library's span: the file mapping at its base and those that follow it without a gap.
        auto first = std::find_if(mappings.begin(), mappings.end(),
                                  [&](const Mapping& m) { return base >= m.start && base < m.end; });
        if (first == mappings.end() || first->file.empty()) return;
        const std::string file = first->file;
        for (auto m = first; m != mappings.end() && m->file == file && (m == first || m->start == (m - 1)->end); ++m) {
            // The dynamic section's mapping is zeros: the system loader's finalisation then finds
            // an empty finaliser array and an old-style finaliser at the library's base, which,
            // like all of its code and its first page, is a return instruction.
            const bool tables = dynamic >= m->start && dynamic < m->end;
            const bool code = m == first || m->permissions.find('x') != std::string::npos;
            void* at = reinterpret_cast<void*>(m->start);
            const std::size_t length = m->end - m->start;
            if (::mmap(at, length, PROT_READ | PROT_WRITE, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) == MAP_FAILED) {
                continue;
            }
            if (code && !tables) std::memset(at, kReturn, length);
            const bool writable = m->permissions.find('w') != std::string::npos;
            ::mprotect(at, length, code && !tables ? PROT_READ | PROT_EXEC : (writable ? PROT_READ | PROT_WRITE : PROT_READ));
        }
    } catch (...) {
        // No room to read the map: the library stays as it is.
    }
}

void forgetProvedFiles() noexcept {
    ProvedFiles& proved = provedFiles();
    const std::lock_guard lock(proved.mutex);
    proved.files.clear();
}

}  // namespace orb::platform
