// Host filesystem library: the facts about files that the runtime asks for.
//
// Paths cross this boundary in the platform's native form (UTF-8 bytes on POSIX), made from the
// runtime's UTF-16 paths by nativePath. Every operation may be called from any thread.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "host/host_api.hpp"

namespace host::fs {

// The filesystem could not answer: number() says why, what() names the path and the reason.
class FilesystemError : public std::runtime_error {
public:
    enum Number {
        kInvalidPath = 1,    // the path cannot be given to the platform (not valid text, or empty)
        kNameTooLong = 2,    // the path or one of its components is longer than the platform allows
        kSymlinkLoop = 3,    // resolving the path meets a cycle of symbolic links
        kNotADirectory = 4,  // a component on the way is not a directory
        kIoError = 5,        // the device reported an input/output error
        kSystemError = 6,    // any other refusal of the platform
    };
    FilesystemError(Number number, const std::string& message) : std::runtime_error(message), m_number(number) {}
    Number number() const noexcept { return m_number; }

private:
    Number m_number;
};

// The native form of a UTF-16 path. Throws FilesystemError kInvalidPath when the text is not
// valid UTF-16.
HOST_API std::string nativePath(std::u16string_view path);

// Whether something (a file of any type) is at `path`; false also when that cannot be determined.
HOST_API bool exists(const std::string& path) noexcept;

// Access modes of access().
inline constexpr int kAccessExists = 0;
inline constexpr int kAccessRead = 2;
inline constexpr int kAccessWrite = 4;

// Whether the calling process may use `path` in `mode` (kAccessRead | kAccessWrite combine).
// False when it is refused permission or the path names nothing; throws FilesystemError when the
// question cannot be answered (see Number) and std::invalid_argument for another mode.
HOST_API bool access(const std::string& path, int mode);

// `path` made absolute against the current directory, without resolving symbolic links.
// Throws FilesystemError when the current directory cannot be determined or the path is empty.
HOST_API std::string absolute(const std::string& path);

// When the content of the file at `path` last changed, in seconds since 1970-01-01 00:00 UTC.
// Throws FilesystemError when the file cannot be examined (kInvalidPath for an empty path).
HOST_API std::int64_t lastWriteTime(const std::string& path);

}  // namespace host::fs
