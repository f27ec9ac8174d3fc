// The portable part of the host filesystem library; the access check is the platform's
// (vhost/platform/posix/file_access.cpp).
#include "host/filesystem.hpp"

#include <filesystem>
#include <system_error>

#include "vhost/i18n/conversion.hpp"

namespace host::fs {

std::string nativePath(std::u16string_view path) {
    std::string native;
    if (!vhost::i18n::tryToUtf8(path, native)) {
        throw FilesystemError(FilesystemError::kInvalidPath, "the path is not valid UTF-16 text");
    }
    return native;
}

bool exists(const std::string& path) noexcept {
    if (path.empty()) return false;
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return !error && std::filesystem::exists(status);
}

std::string absolute(const std::string& path) {
    if (path.empty()) throw FilesystemError(FilesystemError::kInvalidPath, "the path is empty");
    std::error_code error;
    std::filesystem::path result = std::filesystem::absolute(path, error);
    if (error) {
        throw FilesystemError(FilesystemError::kSystemError, "cannot make '" + path + "' absolute: " + error.message());
    }
    return result.string();
}

}  // namespace host::fs
