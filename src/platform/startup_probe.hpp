// Start-up code runs first in a child process.
//
// Mapping a library runs its start-up code (C constructors, C++ global constructors) inside the
// system loader, which holds its own lock meanwhile: a fault or an exception there cannot be
// jumped out of or unwound through without leaving that lock held. So before the host maps a
// module file for the first time, a forked copy of the process maps it (resolving every symbol
// at once, as the host does) and ends; only a file whose start-up code ran to the end there is
// mapped in the host. A file that proved itself is remembered by its identity (FileIdentity), so
// loading it again, or another engine loading it, costs one stat().
//
// What is not covered: start-up code that behaves differently the second time (it reads the
// clock, a random source or the process id, or waits on threads the copy does not have).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

#include "platform/export.hpp"
#include "platform/isolated_call.hpp"

namespace orb::platform {

// A file as it is now: its device and inode, its size, and the times its contents and its inode
// last changed. Rewritten in place it changes size or times; replaced (renamed into place), its
// inode, and its inode's time too should the old inode number come back.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modified[2] = {0, 0};  // seconds, nanoseconds
    std::int64_t changed[2] = {0, 0};
    // Whether the identity surely changes with the file: its inode last changed more than two
    // seconds ago. A file changed within the resolution of its time stamps (up to two seconds on
    // some file systems) could change again and keep all of the above.
    bool settled = false;

    auto key() const noexcept {
        return std::tie(device, inode, size, modified[0], modified[1], changed[0], changed[1]);
    }
    bool operator<(const FileIdentity& other) const noexcept { return key() < other.key(); }
};

// The identity of the file at `nativePath`; nullopt when it cannot be examined (stat fails).
ORB_API std::optional<FileIdentity> identifyFile(const std::string& nativePath);

// How long the copy may take before it is ended and the file refused.
inline constexpr unsigned kStartupProbeSeconds = 30;

// Whether the library at `nativePath` may be mapped in this process: Proved when its start-up
// code has proved itself (now or earlier); NotMapped when the system loader refuses the file
// before any start-up code runs, so that mapping it here fails cleanly with the loader's own
// reason; Failed when its start-up code failed (never map it then). A file that cannot be
// examined (stat fails) counts as NotMapped. Any thread. With `alsoInCopy`, the copy also runs
// that check once the file is mapped, and a file proved earlier is proved again (the check's
// answer is not remembered).
ORB_API StartupVerdict proveStartupCode(const std::string& nativePath, const InCopyCheck* alsoInCopy = nullptr);
// The same for a file whose identity the caller has just taken: the file is not examined again.
ORB_API StartupVerdict proveStartupCode(const std::string& nativePath, const FileIdentity& identity,
                                        const InCopyCheck* alsoInCopy = nullptr);

// While one lives, proveStartupCode on its thread runs no start-up code and answers Failed ("its
// start-up code is withheld"), so nothing is mapped on that thread: for a caller that must run
// nothing of a module at all, not even in a copy of the process.
class ORB_API StartupCodeWithheld {
public:
    StartupCodeWithheld() noexcept;
    ~StartupCodeWithheld();
    StartupCodeWithheld(const StartupCodeWithheld&) = delete;
    StartupCodeWithheld& operator=(const StartupCodeWithheld&) = delete;

private:
    bool m_previous;
};

// The library at `nativePath` if this process has it mapped already (under that name, or the same
// file under another), else null. Takes no reference: the answer is only compared.
ORB_API void* mappedLibrary(const std::string& nativePath);

// A copy of the file at `nativePath` in a private temporary folder, under the same file name: a
// new file, which the system loader maps afresh whatever it has mapped of the original. Raises
// std::runtime_error when it cannot be made. removePrivateCopy removes the copy and its folder
// (a mapping of it stays valid).
ORB_API std::string makePrivateCopy(const std::string& nativePath);
ORB_API void removePrivateCopy(const std::string& copyPath) noexcept;

// Retires the code of a library that must never run again (its code faulted, or its file was
// rewritten in place under its mapping): the library stays mapped, but its file mapping is
// replaced by private memory in which every code byte is a return instruction and its dynamic
// section is empty. Whatever still calls into it (its finalisers when the process ends,
// destructors it registered with the C library, a stale function pointer) comes straight back,
// and nothing changing the file can reach it any more. Null is ignored. libraryRetired answers
// whether a library was retired; the system loader hands the same library out again for its
// file, so its next load must map a copy of the file.
ORB_API void retireLibraryCode(void* library) noexcept;
ORB_API bool libraryRetired(void* library) noexcept;
ORB_API bool anyLibraryRetired() noexcept;

// Forgets every proved file (tests).
ORB_API void forgetProvedFiles() noexcept;

}  // namespace orb::platform
