#include "vhost/bundle/byte_source.hpp"

#include <algorithm>
#include <cstring>

namespace vhost::bundle {

bool ByteSource::read(std::uint64_t offset, std::size_t count, void* out) {
    if (!contains(offset, count)) return false;
    if (count == 0) return true;
    if (!doRead(offset, count, out)) return false;
    m_bytesRead += count;
    return true;
}

std::size_t ByteSource::readSome(std::uint64_t offset, std::size_t count, void* out) {
    if (offset >= m_size) return 0;
    const std::uint64_t available = m_size - offset;
    const std::size_t n = available < count ? static_cast<std::size_t>(available) : count;
    return read(offset, n, out) ? n : 0;
}

FileByteSource::FileByteSource(const std::string& path) : FileByteSource(open(path)) {}

bool FileByteSource::doRead(std::uint64_t offset, std::size_t count, void* out) {
    if (count >= kWindow) return readFile(offset, count, out);
    std::size_t use = m_recent;
    if (!m_windows[use].holds(offset, count)) {
        use = 1 - m_recent;
        Window& window = m_windows[use];
        if (!window.holds(offset, count)) {
            // The aligned window holding the span, or one starting at the span when it straddles
            // two; for a span among the file's last kWindow bytes, those bytes: a zip keeps its
            // directory and end record there, and a linker often its section headers, so the
            // headers' look-up and the zip's both come from one read.
            std::uint64_t start = offset - offset % kWindow;
            if (offset + count > start + kWindow) start = offset;
            if (size() <= kWindow) {
                start = 0;
            } else if (offset >= size() - kWindow) {
                start = size() - kWindow;
            }
            const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, size() - start));
            window.size = 0;
            if (!readFile(start, length, window.bytes.get())) return false;
            window.start = start;
            window.size = length;
        }
    }
    m_recent = use;
    const Window& window = m_windows[use];
    std::memcpy(out, window.bytes.get() + (offset - window.start), count);
    return true;
}

bool MemoryByteSource::doRead(std::uint64_t offset, std::size_t count, void* out) {
    std::memcpy(out, m_data + offset, count);
    return true;
}

}  // namespace vhost::bundle
