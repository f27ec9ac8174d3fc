// Reading binary formats safely: little-endian field types for format structs, one error type
// for a malformed file, and checked views of a file's bytes, in memory, read from disk piece by
// piece, or through a reader of one's own (derive from Bytes). Every read of file bytes goes through Bytes::require, which checks for overflow first and
// then against the file's size, so no count or offset read from a file is trusted.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace objfile {

// A field of a file format stored little-endian. Alignment 1, so a format struct built from these
// has exactly the format's size and can be copied out of the file at any offset.
template <class T>
struct Le {
    static_assert(std::is_unsigned_v<T>);
    unsigned char bytes[sizeof(T)];

    T value() const noexcept {
        if constexpr (std::endian::native == std::endian::little) {
            T v;  // one load: the loop below is not always merged into one
            std::memcpy(&v, bytes, sizeof v);
            return v;
        }
        T v = 0;
        for (std::size_t i = sizeof(T); i-- > 0;) v = static_cast<T>((v << 8) | bytes[i]);
        return v;
    }
};
using Le16 = Le<std::uint16_t>;
using Le32 = Le<std::uint32_t>;
using Le64 = Le<std::uint64_t>;
static_assert(sizeof(Le16) == 2 && sizeof(Le32) == 4 && sizeof(Le64) == 8 && alignof(Le64) == 1);

// "0x1f40": the form offsets, sizes and addresses take in messages.
std::string hex(std::uint64_t value);
// "31": the form counts and indices take in messages.
std::string dec(std::uint64_t value);

// A malformed or unusable file. The message names the field and the value that was wrong
// ("program header 2 has p_offset 0x1000 + p_filesz 0x40 beyond the file size 0xbb8").
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The bytes of one file. Reads never go outside it: a read that would throws FormatError with
// the caller's description of what was being read.
class Bytes {
public:
    virtual ~Bytes() = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;

    std::uint64_t size() const noexcept { return m_size; }

    // Whether [offset, offset + count) lies inside the file; overflow-safe.
    bool contains(std::uint64_t offset, std::uint64_t count) const noexcept {
        return UINT64_MAX - offset >= count && offset + count <= m_size;
    }

    // Throws unless [offset, offset + count) lies inside the file. `describe` is called only on
    // failure and says what the range is ("program header 2 has p_offset 0x1000 + p_filesz
    // 0x40"); the message adds why it is refused.
    template <class Describe>
    void require(std::uint64_t offset, std::uint64_t count, Describe&& describe) const {
        if (UINT64_MAX - offset < count) throw FormatError(std::string(describe()) + ", which overflows 64 bits");
        if (offset + count > m_size) throw FormatError(std::string(describe()) + " beyond the file size " + hex(m_size));
    }

    // The same for a table of `count` entries of `entrySize` bytes; a count whose table would not
    // fit in 64 bits is refused before anything is multiplied.
    template <class Describe>
    void requireTable(std::uint64_t offset, std::uint64_t count, std::uint64_t entrySize, Describe&& describe) const {
        if (entrySize != 0 && count > UINT64_MAX / entrySize) throw FormatError(std::string(describe()) + ", which overflows 64 bits");
        require(offset, count * entrySize, describe);
    }

    // The `T` stored at `offset` (a format struct of Le fields, or bytes).
    template <class T, class Describe>
    T read(std::uint64_t offset, Describe&& describe) const {
        static_assert(std::is_trivially_copyable_v<T>);
        require(offset, sizeof(T), describe);
        T value;
        copy(offset, &value, sizeof(T));
        return value;
    }

    // `count` bytes at `offset`, copied to `out`.
    template <class Describe>
    void readInto(std::uint64_t offset, void* out, std::uint64_t count, Describe&& describe) const {
        require(offset, count, describe);
        if (count != 0) copy(offset, out, static_cast<std::size_t>(count));
    }

    // The whole file where it lies in memory, for a reader that walks large tables in place; null
    // when the file is read piece by piece.
    virtual const unsigned char* memory() const noexcept { return nullptr; }

    // `count` bytes at `offset`.
    template <class Describe>
    std::string readText(std::uint64_t offset, std::uint64_t count, Describe&& describe) const {
        require(offset, count, describe);
        std::string text(static_cast<std::size_t>(count), '\0');
        if (count != 0) copy(offset, text.data(), text.size());
        return text;
    }

    // The NUL-terminated text at `offset`, without its NUL; throws when no NUL follows inside
    // the file. Read in pieces, so a long text costs what it holds.
    template <class Describe>
    std::string readCString(std::uint64_t offset, Describe&& describe) const {
        require(offset, 1, describe);
        std::string text;
        char chunk[64];
        for (std::uint64_t at = offset; at < m_size;) {
            const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof chunk, m_size - at));
            copy(at, chunk, count);
            const void* nul = std::memchr(chunk, 0, count);
            if (nul != nullptr) return text.append(chunk, static_cast<std::size_t>(static_cast<const char*>(nul) - chunk));
            text.append(chunk, count);
            at += count;
        }
        throw FormatError(std::string(describe()) + " at " + hex(offset) + " has no terminating NUL before the end of the file (size " +
                          hex(m_size) + ")");
    }

protected:
    explicit Bytes(std::uint64_t size) noexcept : m_size(size) {}
    // Copies `count` bytes at `offset`; the range has been checked.
    virtual void copy(std::uint64_t offset, void* out, std::size_t count) const = 0;

private:
    std::uint64_t m_size;
};

// Bytes already in memory; the view does not own them.
class ByteView final : public Bytes {
public:
    ByteView(const void* data, std::uint64_t size) noexcept : Bytes(size), m_data(static_cast<const unsigned char*>(data)) {}

    const unsigned char* data() const noexcept { return m_data; }
    const unsigned char* memory() const noexcept override { return m_data; }

    // The NUL-terminated text at `offset` inside [offset, limit), viewed where it lies; nullopt
    // when the offset is outside that range or no NUL follows inside it. The caller decides
    // whether that is an error. `limit` must lie inside the view.
    std::optional<std::string_view> cString(std::uint64_t offset, std::uint64_t limit) const noexcept {
        if (offset >= limit || limit > size()) return std::nullopt;
        const char* at = reinterpret_cast<const char*>(m_data + offset);
        const void* nul = std::memchr(at, 0, static_cast<std::size_t>(limit - offset));
        if (nul == nullptr) return std::nullopt;
        return std::string_view(at, static_cast<std::size_t>(static_cast<const char*>(nul) - at));
    }

private:
    void copy(std::uint64_t offset, void* out, std::size_t count) const override {
        std::memcpy(out, m_data + offset, count);
    }
    const unsigned char* m_data;
};

// A file read piece by piece, so that checking a large library reads only its headers and
// tables. A read the system refuses (the file shrank meanwhile) throws FormatError too.
class FileBytes final : public Bytes {
public:
    // Throws FormatError when the file cannot be opened or its size cannot be taken.
    explicit FileBytes(const std::filesystem::path& path);

private:
    static std::uint64_t sizeOf(const std::filesystem::path& path);
    void copy(std::uint64_t offset, void* out, std::size_t count) const override;
    void readAt(std::uint64_t offset, char* out, std::size_t count) const;
    mutable std::ifstream m_in;
    // The readers ask for headers and table entries a few bytes at a time, mostly near each other:
    // they are served from one window of the file, read whole, instead of a seek and a read each.
    mutable std::unique_ptr<char[]> m_window;  // not zeroed: every byte served was read
    mutable std::size_t m_windowSize = 0, m_windowRoom = 0;
    mutable std::uint64_t m_windowStart = 0;
};

}  // namespace objfile
