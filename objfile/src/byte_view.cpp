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

void FileBytes::readAt(std::uint64_t offset, char* out, std::size_t count) const {
    m_in.clear();
    m_in.seekg(static_cast<std::streamoff>(offset));
    m_in.read(out, static_cast<std::streamsize>(count));
    if (!m_in) throw FormatError("reading " + hex(count) + " bytes at " + hex(offset) + " failed: the file changed while it was read");
}

void FileBytes::copy(std::uint64_t offset, void* out, std::size_t count) const {
    constexpr std::size_t kWindow = 64 * 1024;
    // The caller has checked offset + count against the file's size.
    if (offset >= m_windowStart && offset - m_windowStart <= m_windowSize &&
        count <= m_windowSize - (offset - m_windowStart)) {
        std::memcpy(out, m_window.get() + (offset - m_windowStart), count);
        return;
    }
    if (count >= kWindow) return readAt(offset, static_cast<char*>(out), count);
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, size() - offset));
    if (wanted > m_windowRoom) {
        m_window.reset(new char[wanted]);
        m_windowRoom = wanted;
    }
    m_windowSize = 0;
    readAt(offset, m_window.get(), wanted);
    m_windowStart = offset;
    m_windowSize = wanted;
    std::memcpy(out, m_window.get(), count);
}

}  // namespace objfile
