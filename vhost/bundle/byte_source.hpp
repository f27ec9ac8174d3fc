// The bytes of a file as the bundle reader sees them: random-access reads that are checked
// against the source's size before anything is read, and a count of the bytes read, so the cost
// of locating a zip can be observed without timing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/host_api.hpp"

namespace vhost::bundle {

// A span of a source: `size` bytes from `offset`.
struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t end() const noexcept { return offset + size; }
};

class HOST_API ByteSource {
public:
    virtual ~ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    std::uint64_t size() const noexcept { return m_size; }
    // Whether [offset, offset + count) lies within the source; overflow counts as outside.
    bool contains(std::uint64_t offset, std::uint64_t count) const noexcept {
        return offset <= m_size && m_size - offset >= count;
    }
    // Reads exactly `count` bytes at `offset` into `out`. False, with nothing read, when the span
    // is not within the source; false also when the underlying read fails.
    bool read(std::uint64_t offset, std::size_t count, void* out);
    // Reads up to `count` bytes at `offset`, stopping at the end of the source. Returns how many
    // were read (0 at or beyond the end, or when the underlying read fails).
    std::size_t readSome(std::uint64_t offset, std::size_t count, void* out);
    // Bytes delivered by read and readSome since the source was made.
    std::uint64_t bytesRead() const noexcept { return m_bytesRead; }

protected:
    explicit ByteSource(std::uint64_t size) noexcept : m_size(size) {}
    // Called only with a span within the source.
    virtual bool doRead(std::uint64_t offset, std::size_t count, void* out) = 0;

private:
    std::uint64_t m_size;
    std::uint64_t m_bytesRead = 0;
};

// A regular file, read through one open descriptor with positioned reads. Not for concurrent use.
//
// Small reads are served from a window of the file kept in memory: a zip reader asks for a few
// bytes at a time (signatures, headers, names), and each of those would otherwise be a seek and a
// read of the file.
class HOST_API FileByteSource final : public ByteSource {
public:
    // Throws std::runtime_error when `path` (UTF-8) is not a regular file or cannot be opened.
    explicit FileByteSource(const std::string& path);
    ~FileByteSource() override;

private:
    static constexpr std::size_t kWindow = 16 * 1024;

    bool doRead(std::uint64_t offset, std::size_t count, void* out) override;
    // Opening, closing and reading the file itself are the platform's (vhost/platform/).
    struct Opened {
        int descriptor;
        std::uint64_t size;
    };
    static Opened open(const std::string& path);
    explicit FileByteSource(Opened opened) noexcept : ByteSource(opened.size), m_descriptor(opened.descriptor) {}
    bool readFile(std::uint64_t offset, std::size_t count, void* out);

    int m_descriptor;
    // Two windows, the one used less recently replaced first: readers go back and forth between
    // the file's headers at its start and the zip at its end.
    struct Window {
        std::unique_ptr<unsigned char[]> bytes{new unsigned char[kWindow]};
        std::size_t size = 0;  // bytes [start, start + size) are held
        std::uint64_t start = 0;
        bool holds(std::uint64_t offset, std::size_t count) const noexcept {
            return offset >= start && offset - start + count <= size;
        }
    };
    Window m_windows[2];
    std::size_t m_recent = 0;  // the window used last
};

// Bytes the caller owns and keeps alive for the source's life.
class HOST_API MemoryByteSource final : public ByteSource {
public:
    MemoryByteSource(const void* data, std::size_t size) noexcept
        : ByteSource(size), m_data(static_cast<const unsigned char*>(data)) {}

private:
    bool doRead(std::uint64_t offset, std::size_t count, void* out) override;

    const unsigned char* m_data;
};

}  // namespace vhost::bundle
