// The host's access check on POSIX. access(2) answers for the real user, which is what a
// host that never changes identity wants; errno tells a refusal from a question that cannot be
// answered.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/filesystem.hpp"

namespace host::fs {

bool access(const std::string& path, int mode) {
    if (mode & ~(kAccessRead | kAccessWrite)) {
        throw std::invalid_argument("access mode " + std::to_string(mode) + " is not a combination of read and write");
    }
    if (path.empty()) throw FilesystemError(FilesystemError::kInvalidPath, "the path is empty");
    int native = F_OK;
    if (mode & kAccessRead) native |= R_OK;
    if (mode & kAccessWrite) native |= W_OK;
    if (::access(path.c_str(), native) == 0) return true;

    const int reason = errno;
    auto fail = [&](FilesystemError::Number number) -> bool {
        throw FilesystemError(number, "cannot check access to '" + path + "': " + std::strerror(reason));
    };
    switch (reason) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case ENOENT: return false;
    case ENAMETOOLONG: return fail(FilesystemError::kNameTooLong);
    case ELOOP: return fail(FilesystemError::kSymlinkLoop);
    case ENOTDIR: return fail(FilesystemError::kNotADirectory);
    case EIO: return fail(FilesystemError::kIoError);
    default: return fail(FilesystemError::kSystemError);
    }
}

}  // namespace host::fs
