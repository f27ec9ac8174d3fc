#include "platform/startup_probe.hpp"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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
#include <string_view>
#include <set>
#include <utility>
#include <vector>

#include "platform/isolated_call.hpp"
#include "platform/library_handle.hpp"

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
    // Gated: the reference the query holds for a moment must not fall between an unload's proof
    // in a copy and the unload itself, nor be the last one when it is given back.
    const std::lock_guard gate(loaderGate());
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

namespace {

// Libraries whose code was retired. Never shrinks (their mappings stay), so a handle in it stays
// one; never destroyed: modules are cleared during exit.
struct RetiredLibraries {
    std::mutex mutex;
    std::set<void*> libraries;
    std::atomic<bool> any{false};
};

RetiredLibraries& retiredLibraries() {
    static RetiredLibraries* retired = new RetiredLibraries;
    return *retired;
}

void rememberRetired(void* library) noexcept {
    RetiredLibraries& retired = retiredLibraries();
    try {
        const std::lock_guard lock(retired.mutex);
        retired.libraries.insert(library);
    } catch (...) {
        // Without room to remember it the mapping is still kept; only a private copy for its
        // next load is lost.
    }
    retired.any.store(true, std::memory_order_release);
}

}  // namespace

bool anyLibraryRetired() noexcept { return retiredLibraries().any.load(std::memory_order_acquire); }

bool libraryRetired(void* library) noexcept {
    RetiredLibraries& retired = retiredLibraries();
    if (!library || !retired.any.load(std::memory_order_acquire)) return false;
    const std::lock_guard lock(retired.mutex);
    return retired.libraries.count(library) != 0;
}

void retireLibraryCode(void* library) noexcept {
    if (!library) return;
    rememberRetired(library);
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

namespace {

// A loaded object's segments, as the system loader lists them.
struct LoadedObject {
    std::uintptr_t base = 0;
    const ElfW(Phdr)* headers = nullptr;
    std::size_t headerCount = 0;
};

// The objects mapped before the runtime's first load, by base and name: the host's own, loaded
// with it and never unloaded by a module's unload. Taken once, by the first load; sorted.
struct Resident {
    std::once_flag once;
    std::vector<std::pair<std::uintptr_t, std::string>> objects;

    bool has(std::uintptr_t base, const char* name) const noexcept {
        auto at = std::lower_bound(objects.begin(), objects.end(), base,
                                   [](const auto& object, std::uintptr_t wanted) { return object.first < wanted; });
        for (; at != objects.end() && at->first == base; ++at) {
            if (at->second == name) return true;
        }
        return false;
    }
};

Resident& resident() {
    static Resident* objects = new Resident;  // never destroyed: modules are cleared during exit
    return *objects;
}

const char* fileName(const char* path) noexcept {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// One pass over the loaded objects for a library about to be unloaded: its own segments, and
// for each library it needs whether every loaded object of that name is resident (a needed
// library no loaded object is named after counts as not resident). No allocation.
constexpr std::size_t kMostNeeded = 64;
struct DependencyScan {
    const struct link_map* self = nullptr;
    LoadedObject found;
    std::size_t neededCount = 0;
    const char* needed[kMostNeeded];
    bool seen[kMostNeeded] = {};
    bool allResident = true;

    static int visit(struct dl_phdr_info* info, std::size_t, void* data) {
        auto& scan = *static_cast<DependencyScan*>(data);
        const char* name = info->dlpi_name ? info->dlpi_name : "";
        if (info->dlpi_addr == scan.self->l_addr && scan.self->l_name && std::strcmp(name, scan.self->l_name) == 0) {
            scan.found = {info->dlpi_addr, info->dlpi_phdr, info->dlpi_phnum};
            return 0;
        }
        const char* file = fileName(name);
        for (std::size_t i = 0; i < scan.neededCount; ++i) {
            if (std::strcmp(file, scan.needed[i]) != 0) continue;
            scan.seen[i] = true;
            if (!resident().has(info->dlpi_addr, name)) scan.allResident = false;
        }
        return 0;
    }
};

// Whether [address, address + bytes) lies in one loaded segment of `object` (executable ones
// only, with `code`).
bool inSegment(const LoadedObject& object, std::uintptr_t address, std::size_t bytes, bool code) {
    for (std::size_t i = 0; i < object.headerCount; ++i) {
        const ElfW(Phdr)& segment = object.headers[i];
        if (segment.p_type != PT_LOAD || (code && !(segment.p_flags & PF_X))) continue;
        const std::uintptr_t start = object.base + segment.p_vaddr;
        if (address >= start && address - start <= segment.p_memsz && segment.p_memsz - (address - start) >= bytes) {
            return true;
        }
    }
    return false;
}

// Whether the code of `object` at `address` is `pattern`: a byte, or -1 for any (the
// displacements, which differ between libraries).
template <std::size_t N>
bool codeMatches(const LoadedObject& object, std::uintptr_t address, const int (&pattern)[N]) {
    // A leading end-branch marker (endbr64) is part of the code only when the toolchain emits one.
    static constexpr unsigned char kEndBranch[] = {0xF3, 0x0F, 0x1E, 0xFA};
    static_assert(N >= sizeof kEndBranch);
    if (!inSegment(object, address, N, true)) return false;
    const auto* code = reinterpret_cast<const unsigned char*>(address);
    if (std::memcmp(code, kEndBranch, sizeof kEndBranch) == 0) {
        if (!inSegment(object, address, sizeof kEndBranch + N, true)) return false;
        code += sizeof kEndBranch;
    }
    for (const int byte : pattern) {
        if (byte >= 0 && *code != byte) return false;
        ++code;
    }
    return true;
}

// The compiler's default finaliser (the C runtime's start file puts one in every library): it runs
// what was registered with __cxa_atexit for this library (__cxa_finalize) and nothing of its own.
constexpr int kDefaultFinaliser[] = {
    0x80, 0x3D, -1, -1, -1, -1, 0x00,        // cmpb $0, completed(%rip)
    0x75, -1,                                // jne (done already)
    0x55,                                    // push %rbp
    0x48, 0x83, 0x3D, -1, -1, -1, -1, 0x00,  // cmpq $0, __cxa_finalize@GOT(%rip)
    0x48, 0x89, 0xE5,                        // mov %rsp, %rbp
    0x74, -1,                                // je
    0x48, 0x8B, 0x3D, -1, -1, -1, -1,        // mov __dso_handle(%rip), %rdi
    0xE8, -1, -1, -1, -1,                    // call __cxa_finalize
    0xE8, -1, -1, -1, -1,                    // call deregister_tm_clones
    0xC6, 0x05, -1, -1, -1, -1, 0x01,        // movb $1, completed(%rip)
    0x5D, 0xC3,                              // pop %rbp; ret
};
// The start files' old-style finaliser, empty.
constexpr int kEmptyFinaliser[] = {0x48, 0x83, 0xEC, 0x08, 0x48, 0x83, 0xC4, 0x08, 0xC3};

}  // namespace

void noteResidentLibraries() noexcept {
    Resident& known = resident();
    try {
        std::call_once(known.once, [&known] {
            ::dl_iterate_phdr(
                [](struct dl_phdr_info* info, std::size_t, void* data) {
                    static_cast<Resident*>(data)->objects.emplace_back(info->dlpi_addr,
                                                                       info->dlpi_name ? info->dlpi_name : "");
                    return 0;
                },
                &known);
            std::sort(known.objects.begin(), known.objects.end());
        });
    } catch (...) {
        // Nothing noted: every dependency counts as one a module's unload may take with it.
    }
}

bool hasUnloadCode(host::utLibHandle library) noexcept {
    struct link_map* map = nullptr;
    if (!library || ::dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_ld) return true;
    // Entries holding addresses are offsets in the file; the system loader makes some of them
    // addresses in place.
    const std::uintptr_t base = map->l_addr;
    const auto at = [base](ElfW(Addr) value) -> std::uintptr_t { return value < base ? base + value : value; };
    std::uintptr_t fini = 0, finiArray = 0, strings = 0, symbols = 0;
    std::size_t finiArrayBytes = 0;
    std::pair<std::uintptr_t, std::size_t> relocations[2] = {};  // the table, then the call slots'
    std::size_t needed[kMostNeeded];
    std::size_t neededCount = 0;
    for (const ElfW(Dyn)* entry = map->l_ld; entry->d_tag != DT_NULL; ++entry) {
        switch (entry->d_tag) {
            case DT_FINI: fini = at(entry->d_un.d_ptr); break;
            case DT_FINI_ARRAY: finiArray = at(entry->d_un.d_ptr); break;
            case DT_FINI_ARRAYSZ: finiArrayBytes = entry->d_un.d_val; break;
            case DT_STRTAB: strings = at(entry->d_un.d_ptr); break;
            case DT_SYMTAB: symbols = at(entry->d_un.d_ptr); break;
            case DT_RELA: relocations[0].first = at(entry->d_un.d_ptr); break;
            case DT_RELASZ: relocations[0].second = entry->d_un.d_val; break;
            case DT_JMPREL: relocations[1].first = at(entry->d_un.d_ptr); break;
            case DT_PLTRELSZ: relocations[1].second = entry->d_un.d_val; break;
            case DT_PLTREL: if (entry->d_un.d_val != DT_RELA) return true; break;
            case DT_REL: return true;  // not this platform's relocations
            case DT_NEEDED:
                if (neededCount == kMostNeeded) return true;
                needed[neededCount++] = entry->d_un.d_val;
                break;
            default: break;
        }
    }
    if (!strings || !symbols || finiArrayBytes > sizeof(ElfW(Addr))) return true;
    const char* names = reinterpret_cast<const char*>(strings);

    DependencyScan scan;
    scan.self = map;
    scan.neededCount = neededCount;
    for (std::size_t i = 0; i < neededCount; ++i) scan.needed[i] = fileName(names + needed[i]);
    ::dl_iterate_phdr(&DependencyScan::visit, &scan);
    if (!scan.found.headers || !scan.allResident) return true;
    for (std::size_t i = 0; i < neededCount; ++i) {
        if (!scan.seen[i]) return true;
    }

    if (finiArrayBytes != 0) {
        if (!inSegment(scan.found, finiArray, sizeof(ElfW(Addr)), false)) return true;
        if (!codeMatches(scan.found, *reinterpret_cast<const ElfW(Addr)*>(finiArray), kDefaultFinaliser)) return true;
    }
    if (fini && !codeMatches(scan.found, fini, kEmptyFinaliser)) return true;
    // What the library registered to run at its unload runs through __cxa_atexit (atexit in a
    // library is the start files' call of it).
    const auto* table = reinterpret_cast<const ElfW(Sym)*>(symbols);
    for (const auto& [first, bytes] : relocations) {
        const auto* relocation = reinterpret_cast<const ElfW(Rela)*>(first);
        for (std::size_t i = 0; first && i < bytes / sizeof(ElfW(Rela)); ++i) {
            const std::size_t index = ELF64_R_SYM(relocation[i].r_info);
            if (index == 0 || table[index].st_shndx != SHN_UNDEF) continue;
            const char* name = names + table[index].st_name;
            if (std::strcmp(name, "__cxa_atexit") == 0 || std::strcmp(name, "atexit") == 0) return true;
        }
    }
    return false;
}

UnloadVerdict unloadLibrary(host::utLibHandle handle) noexcept {
    UnloadVerdict verdict;
    if (!handle) return verdict;
    const std::lock_guard gate(loaderGate());
    if (hasUnloadCode(handle)) {
        try {
            verdict = probeLibraryUnload(handle, kUnloadProbeSeconds);
        } catch (const std::exception& error) {
            verdict.kind = UnloadVerdict::Waits;
            verdict.reason = std::string("its unload code could not be tried: ") + error.what();
        }
        if (verdict.kind != UnloadVerdict::Unloaded) {
            struct link_map* map = nullptr;
            if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) verdict.library = map->l_name;
            if (verdict.kind == UnloadVerdict::Failed) retireLibraryCode(handle);
            return verdict;
        }
    }
    host::utUnloadLibrary(handle);
    return verdict;
}

void forgetProvedFiles() noexcept {
    ProvedFiles& proved = provedFiles();
    const std::lock_guard lock(proved.mutex);
    proved.files.clear();
}

}  // namespace orb::platform
