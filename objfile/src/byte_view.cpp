#include "objfile/byte_view.hpp"

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace objfile {

std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string dec(std::uint64_t value) { return std::to_string(value); }

std::uint64_t FileBytes::sizeOf(const std::filesystem::path& path) {
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(path, error);
    if (error) throw FormatError("cannot read the file: " + error.message());
    return size;
}

FileBytes::FileBytes(const std::filesystem::path& path) : Bytes(sizeOf(path)), m_in(path, std::ios::binary) {
    if (!m_in) throw FormatError("cannot open the file: " + std::generic_category().message(errno));
}

void FileBytes::copy(std::uint64_t offset, void* out, std::size_t count) const {
    m_in.clear();
    m_in.seekg(static_cast<std::streamoff>(offset));
    m_in.read(static_cast<char*>(out), static_cast<std::streamsize>(count));
    if (!m_in) throw FormatError("reading " + hex(count) + " bytes at " + hex(offset) + " failed: the file changed while it was read");
}

}  // namespace objfile
