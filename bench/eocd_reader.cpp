#include "eocd_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace orbbench {
namespace {

constexpr std::size_t kEocdSize = 22;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kChunk = 64 * 1024;

std::uint32_t u16(const unsigned char* p) { return p[0] | (p[1] << 8); }
std::uint32_t u32(const unsigned char* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

class File {
public:
    explicit File(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat st {};
        if (m_fd >= 0 && ::fstat(m_fd, &st) == 0) m_size = static_cast<std::uint64_t>(st.st_size);
    }
    ~File() {
        if (m_fd >= 0) ::close(m_fd);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool ok() const { return m_fd >= 0; }
    std::uint64_t size() const { return m_size; }
    // Exactly `count` bytes at `offset`, or false.
    bool read(std::uint64_t offset, void* out, std::size_t count) const {
        if (offset > m_size || count > m_size - offset) return false;
        auto* p = static_cast<char*>(out);
        while (count > 0) {
            const ssize_t got = ::pread(m_fd, p, count, static_cast<off_t>(offset));
            if (got <= 0) return false;
            p += got;
            offset += static_cast<std::uint64_t>(got);
            count -= static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    int m_fd;
    std::uint64_t m_size = 0;
};

bool endsWith(const std::string& text, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

std::optional<std::string> inflateRaw(const std::vector<unsigned char>& in, std::size_t outSize) {
    std::string out(outSize, '\0');
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return std::nullopt;
    z.next_in = const_cast<unsigned char*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<unsigned char*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    if (status != Z_STREAM_END || z.total_out != outSize) return std::nullopt;
    return out;
}

// The manifest of the zip whose end record lies at `eocd`, when its central directory is there.
std::optional<std::string> manifestAt(const File& file, std::uint64_t eocd) {
    unsigned char end[kEocdSize];
    if (!file.read(eocd, end, sizeof end)) return std::nullopt;
    const std::uint32_t entries = u16(end + 10);
    const std::uint32_t cdSize = u32(end + 12);
    const std::uint32_t cdOffset = u32(end + 16);
    if (cdSize > eocd || cdOffset > eocd - cdSize) return std::nullopt;
    const std::uint64_t cdStart = eocd - cdSize;
    const std::uint64_t zipStart = cdStart - cdOffset;  // data may precede the zip
    std::vector<unsigned char> cd(cdSize);
    if (!file.read(cdStart, cd.data(), cd.size())) return std::nullopt;

    std::size_t at = 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        if (cd.size() - at < kCentralHeaderSize || u32(&cd[at]) != 0x02014b50) return std::nullopt;
        const unsigned char* h = &cd[at];
        const std::size_t nameLength = u16(h + 28);
        const std::size_t skip = kCentralHeaderSize + nameLength + u16(h + 30) + u16(h + 32);
        if (cd.size() - at < skip) return std::nullopt;
        const std::string name(reinterpret_cast<const char*>(h + kCentralHeaderSize), nameLength);
        if (endsWith(name, "/manifest.json")) {
            const std::uint32_t method = u16(h + 10);
            const std::uint32_t packed = u32(h + 20);
            const std::uint32_t size = u32(h + 24);
            unsigned char local[kLocalHeaderSize];
            const std::uint64_t localAt = zipStart + u32(h + 42);
            if (!file.read(localAt, local, sizeof local) || u32(local) != 0x04034b50) return std::nullopt;
            std::vector<unsigned char> data(packed);
            if (!file.read(localAt + kLocalHeaderSize + u16(local + 26) + u16(local + 28), data.data(), packed)) {
                return std::nullopt;
            }
            if (method == 0) return packed == size ? std::optional<std::string>(std::string(data.begin(), data.end())) : std::nullopt;
            if (method == 8) return inflateRaw(data, size);
            return std::nullopt;
        }
        at += skip;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> readAttachedManifest(const std::string& path) {
    const File file(path);
    if (!file.ok() || file.size() < kEocdSize) return std::nullopt;
    // Chunks overlap by three bytes so that a signature across a chunk boundary is seen.
    std::vector<unsigned char> chunk(kChunk + 3);
    std::uint64_t end = file.size();
    while (end >= 4) {
        const std::uint64_t begin = end > kChunk ? end - kChunk : 0;
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(end + 3, file.size()) - begin);
        if (!file.read(begin, chunk.data(), count)) return std::nullopt;
        for (std::size_t i = count - 4 + 1; i-- > 0;) {
            if (chunk[i] == 'P' && chunk[i + 1] == 'K' && chunk[i + 2] == 5 && chunk[i + 3] == 6) {
                if (auto manifest = manifestAt(file, begin + i)) return manifest;
            }
        }
        if (begin == 0) break;
        end = begin;
    }
    return std::nullopt;
}

}  // namespace orbbench
