// The backward scan for an end-of-central-directory record, and the validation of each
// candidate against the central directory it describes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string.h>  // memrchr (a GNU extension), where the C library has it
#include <vector>

#include "objfile/byte_view.hpp"
#include "vhost/bundle/zip_locator.hpp"

namespace vhost::bundle {
namespace {

using U8 = unsigned char;

using objfile::Le16;
using objfile::Le32;

struct EndOfCentralDirectory {
    Le32 signature;
    Le16 diskNumber, centralDirectoryDisk, entriesOnDisk, entries;
    Le32 centralDirectorySize, centralDirectoryOffset;
    Le16 commentLength;
};
struct CentralDirectoryHeader {
    Le32 signature;
    Le16 versionMadeBy, versionNeeded, flags, method, time, date;
    Le32 crc32, compressedSize, uncompressedSize;
    Le16 nameLength, extraLength, commentLength, diskStart, internalAttributes;
    Le32 externalAttributes, localHeaderOffset;
};
struct LocalFileHeader {
    Le32 signature;
    Le16 versionNeeded, flags, method, time, date;
    Le32 crc32, compressedSize, uncompressedSize;
    Le16 nameLength, extraLength;
};
static_assert(sizeof(EndOfCentralDirectory) == 22 && sizeof(CentralDirectoryHeader) == 46);
static_assert(sizeof(LocalFileHeader) == 30);

constexpr U8 kEndSignature[4] = {'P', 'K', 5, 6};
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::size_t kChunk = 64 * 1024;
// The first chunk is smaller than the byte source's window: the end record usually closes the
// range, and a read that small is served from the window of the file's end, which the section
// lookup before the scan has mostly read already.
constexpr std::size_t kFirstChunk = 8 * 1024;
// A record is 22 bytes; keeping the first 21 bytes of the chunk read last lets a record that
// starts near the end of the current chunk be judged without reading anything twice.
constexpr std::size_t kCarry = sizeof(EndOfCentralDirectory) - 1;

// The last byte equal to `value` in the first `size` bytes of `data`, or null.
const U8* lastByte(const U8* data, std::size_t size, U8 value) noexcept {
#if defined(__GLIBC__)
    return static_cast<const U8*>(memrchr(data, value, size));
#else
    for (std::size_t i = size; i-- > 0;) {
        if (data[i] == value) return data + i;
    }
    return nullptr;
#endif
}

class CandidateValidator {
public:
    CandidateValidator(ByteSource& source, ByteRange range) : m_source(source), m_range(range), m_budget(range.size) {}

    // The zip described by the record at `at` (whose 22 bytes are `record`), when the central
    // directory it describes is really there.
    std::optional<ZipWindow> validate(std::uint64_t at, const U8* bytes) {
        EndOfCentralDirectory record;
        std::copy(bytes, bytes + sizeof record, reinterpret_cast<U8*>(&record));
        const std::uint64_t entries = record.entries.value();
        const std::uint64_t cdSize = record.centralDirectorySize.value();
        const std::uint64_t cdOffset = record.centralDirectoryOffset.value();
        const std::uint64_t end = at + sizeof record;
        // Single-disk archives only; an empty archive holds no bundle, and all-ones fields mean
        // the real values sit in zip64 records, which bundles never need.
        if (record.diskNumber.value() != 0 || record.centralDirectoryDisk.value() != 0) return std::nullopt;
        if (record.entriesOnDisk.value() != entries || entries == 0 || entries == 0xFFFF) return std::nullopt;
        if (cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF) return std::nullopt;
        if (m_range.end() - end < record.commentLength.value()) return std::nullopt;
        if (cdSize < entries * sizeof(CentralDirectoryHeader)) return std::nullopt;
        // The central directory ends where the record starts, and the zip starts cdOffset before it.
        if (at - m_range.offset < cdSize + cdOffset) return std::nullopt;
        const std::uint64_t cdStart = at - cdSize;
        const std::uint64_t begin = cdStart - cdOffset;

        // Walk the headers: each must carry its signature, point at a local header before the
        // central directory, and together they must fill the directory exactly.
        std::uint64_t position = cdStart;
        for (std::uint64_t i = 0; i < entries; ++i) {
            CentralDirectoryHeader header;
            if (at - position < sizeof header || !spend(sizeof header)) return std::nullopt;
            if (!m_source.read(position, sizeof header, &header)) return std::nullopt;
            if (header.signature.value() != kCentralSignature) return std::nullopt;
            if (header.localHeaderOffset.value() + sizeof(LocalFileHeader) > cdOffset) return std::nullopt;
            if (i == 0) m_firstLocal = header.localHeaderOffset.value();
            position += sizeof header + header.nameLength.value() + header.extraLength.value() +
                        header.commentLength.value();
            if (position > at) return std::nullopt;
        }
        if (position != at) return std::nullopt;

        Le32 local;
        if (!spend(sizeof local) || !m_source.read(begin + m_firstLocal, sizeof local, &local)) return std::nullopt;
        if (local.value() != kLocalSignature) return std::nullopt;
        return ZipWindow{begin, end, static_cast<std::uint16_t>(entries), ZipOrigin::kScan};
    }

    bool exhausted() const noexcept { return m_budget == 0; }

private:
    bool spend(std::uint64_t bytes) {
        if (m_budget < bytes) {
            m_budget = 0;
            return false;
        }
        m_budget -= bytes;
        return true;
    }

    ByteSource& m_source;
    ByteRange m_range;
    std::uint64_t m_budget;
    std::uint64_t m_firstLocal = 0;
};

}  // namespace

std::optional<ZipWindow> scanForZip(ByteSource& source, ByteRange range) {
    if (!source.contains(range.offset, range.size) || range.size < sizeof(EndOfCentralDirectory)) return std::nullopt;
    CandidateValidator validator(source, range);
    // buffer = [chunk read now][first kCarry bytes of the chunk read before]
    // Not zeroed: every byte looked at is read first.
    std::unique_ptr<U8[]> storage(new U8[kChunk + kCarry]);
    const auto buffer = std::span<U8>(storage.get(), kChunk + kCarry);
    std::uint64_t chunkEnd = range.end();
    std::size_t carried = 0;
    for (std::size_t chunk = kFirstChunk; chunkEnd > range.offset && !validator.exhausted(); chunk = kChunk) {
        const std::uint64_t chunkStart = std::max(range.offset, chunkEnd - std::min<std::uint64_t>(chunkEnd, chunk));
        const std::size_t length = static_cast<std::size_t>(chunkEnd - chunkStart);
        std::memmove(buffer.data() + length, buffer.data(), carried);
        if (!source.read(chunkStart, length, buffer.data())) return std::nullopt;
        const std::size_t filled = length + carried;
        // Candidates from the last backward: only where the signature's first byte is.
        for (std::size_t i = length; const U8* at = lastByte(buffer.data(), i, kEndSignature[0]);) {
            i = static_cast<std::size_t>(at - buffer.data());
            if (filled - i < sizeof(EndOfCentralDirectory)) continue;
            if (!std::equal(kEndSignature, kEndSignature + 4, buffer.begin() + i)) continue;
            if (auto window = validator.validate(chunkStart + i, buffer.data() + i)) return window;
            if (validator.exhausted()) break;
        }
        carried = std::min(kCarry, length);
        chunkEnd = chunkStart;
    }
    return std::nullopt;
}

std::optional<ZipWindow> locateZip(ByteSource& source) {
    const auto inBlob = [&](const BlobLookup& lookup, ZipOrigin origin) -> std::optional<ZipWindow> {
        if (!lookup.blob) return std::nullopt;
        auto window = scanForZip(source, *lookup.blob);
        if (window) window->origin = origin;
        return window;
    };
    if (auto window = inBlob(findElfSection(source, ".us_resources"), ZipOrigin::kElfSection)) return window;
    if (auto window = inBlob(findPeResource(source, 300, "US_RESOURCES"), ZipOrigin::kPeResource)) return window;
    return scanForZip(source, ByteRange{0, source.size()});
}

}  // namespace vhost::bundle
