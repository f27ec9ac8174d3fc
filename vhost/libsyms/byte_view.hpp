// Reading binary formats safely: little-endian field types for format structs, and a view of the
// file's bytes whose every read is checked against the file's size first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "host/host_api.hpp"
#include "objfile/byte_view.hpp"

namespace vhost::libsyms {

// Little-endian format fields are the object-file layer's.
using objfile::Le;
using objfile::Le16;
using objfile::Le32;
using objfile::Le64;

// A malformed file. The message names the field and the values that were wrong.
class HOST_API FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "0x1f40": the form offsets and sizes take in messages.
HOST_API std::string hex(std::uint64_t value);

// A window on bytes of a mapped file. Reads never go outside it; a read that would throws
// FormatError with the caller's description of what was being read.
class ByteView {
public:
    ByteView() noexcept = default;
    ByteView(const unsigned char* data, std::uint64_t size) noexcept : m_data(data), m_size(size) {}

    std::uint64_t size() const noexcept { return m_size; }
    const unsigned char* data() const noexcept { return m_data; }

    // Whether [offset, offset + count) lies inside the view; overflow-safe.
    bool contains(std::uint64_t offset, std::uint64_t count) const noexcept {
        return offset <= m_size && m_size - offset >= count;
    }

    // The sub-view [offset, offset + count). `describe` is called only on failure and returns
    // what the range is ("section 3 has sh_offset 0x1000 + sh_size 0x40"); the message adds the
    // view's size.
    template <class Describe>
    ByteView sub(std::uint64_t offset, std::uint64_t count, Describe&& describe) const {
        if (!contains(offset, count)) {
            throw FormatError(std::string(describe()) + " beyond the file size " + hex(m_size));
        }
        return ByteView(m_data + offset, count);
    }

    // The format struct T copied from `offset`.
    template <class T, class Describe>
    T read(std::uint64_t offset, Describe&& describe) const {
        static_assert(std::is_trivially_copyable_v<T> && alignof(T) == 1);
        const ByteView range = sub(offset, sizeof(T), std::forward<Describe>(describe));
        T value;
        std::memcpy(&value, range.m_data, sizeof(T));
        return value;
    }

    // The NUL-terminated text starting at `offset`; null when the offset is outside the view or
    // no NUL follows inside it. The caller decides whether that is an error.
    const char* cString(std::uint64_t offset, std::size_t& length) const noexcept {
        if (offset >= m_size) return nullptr;
        const void* nul = std::memchr(m_data + offset, 0, static_cast<std::size_t>(m_size - offset));
        if (nul == nullptr) return nullptr;
        length = static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - (m_data + offset));
        return reinterpret_cast<const char*>(m_data + offset);
    }

private:
    const unsigned char* m_data = nullptr;
    std::uint64_t m_size = 0;
};

}  // namespace vhost::libsyms
