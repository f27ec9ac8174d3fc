// Reading binary formats safely: little-endian field types for format structs, one error type
// for a malformed file, and checked views of a file's bytes, in memory or read from disk piece by
// piece. Every read of file bytes goes through Bytes::require, which checks for overflow first and
// then against the file's size, so no count or offset read from a file is trusted.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
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
        if (UINT64_MAX - offset < count) throw FormatError(describe() + ", which overflows 64 bits");
        if (offset + count > m_size) throw FormatError(describe() + " beyond the file size " + hex(m_size));
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

    // `count` bytes at `offset`.
    template <class Describe>
    std::string readText(std::uint64_t offset, std::uint64_t count, Describe&& describe) const {
        require(offset, count, describe);
        std::string text(static_cast<std::size_t>(count), '\0');
        if (count != 0) copy(offset, text.data(), text.size());
        return text;
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
    mutable std::ifstream m_in;
};

}  // namespace objfile
