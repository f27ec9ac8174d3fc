// The file time stamp of the host filesystem library.
#include <chrono>
#include <filesystem>
#include <system_error>

#include "host/filesystem.hpp"

namespace host::fs {

std::int64_t lastWriteTime(const std::string& path) {
    if (path.empty()) throw FilesystemError(FilesystemError::kInvalidPath, "the path is empty");
    std::error_code error;
    const auto stamp = std::filesystem::last_write_time(path, error);
    if (error) {
        throw FilesystemError(FilesystemError::kSystemError,
                              "cannot read the time stamp of '" + path + "': " + error.message());
    }
    const auto system = std::chrono::file_clock::to_sys(stamp);
    return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

}  // namespace host::fs
