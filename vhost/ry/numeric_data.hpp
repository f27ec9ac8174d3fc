// The data of a numeric, logical or character array.
//
// Real data is one buffer. Complex data exists in two layouts: separate real and imaginary
// buffers (the older interfaces) and one buffer of interleaved (real, imaginary) pairs (the
// current interface). One layout is primary and holds the truth; the other is built on demand
// and kept, marked in step or stale. Asking for a layout to read leaves the primary layout as it
// is; asking for it to write (every pointer handed to a module, which may write through it) makes
// it primary and the other stale. Buffers are never freed while the data lives, except when a
// caller replaces one, so a pointer handed out earlier stays valid memory even when it is stale.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_api.hpp"

namespace vhost::ry {

enum class Layout : std::uint8_t { Separate, Interleaved };
enum class Access : std::uint8_t { Read, Write };

class NumericData {
public:
    // Raises "VELTRA:ry:outOfMemory" when the buffers cannot be allocated.
    NumericData(std::size_t elementSize, std::size_t count, bool complex, Layout layout, bool zeroed);
    // A deep copy holding only the primary layout.
    NumericData(const NumericData& other);
    NumericData& operator=(const NumericData&) = delete;
    ~NumericData();

    std::size_t elementSize() const noexcept { return m_elementSize; }
    std::size_t count() const noexcept { return m_count; }
    bool isComplex() const noexcept { return m_complex; }
    Layout primary() const noexcept { return m_primary; }
    // Whether the layout that is not primary exists and matches the primary one.
    bool otherInStep() const noexcept { return m_otherInStep; }

    // The separate real part (for real data, the only buffer).
    void* real(Access access) const;
    // The separate imaginary part; null for real data.
    void* imag(Access access) const;
    // The interleaved pairs (for real data, the only buffer).
    HOST_API void* interleaved(Access access) const;

    // Copies the primary layout into the other one when that one exists.
    void sync();
    // Adds a zero imaginary part with `layout` primary, or drops the imaginary part.
    void makeComplex(Layout layout);
    void makeReal();
    // Grows the buffers to hold `count` elements (new elements zero); never shrinks.
    void reserve(std::size_t count);

    // Takes over `block` (from allocateBlock) as the real, imaginary or interleaved buffer,
    // freeing the buffer it replaces. The adopted layout becomes primary. adoptImag on real data
    // makes it complex; adoptInterleaved needs complex data.
    void adoptReal(void* block);
    void adoptImag(void* block);
    void adoptInterleaved(void* block);

    // Bytes held in all buffers.
    std::size_t bytes() const noexcept;

private:
    void* buffer(std::size_t elements, bool zeroed) const;
    void materialize(Layout target) const;
    void* access(Layout layout, Access access, void* const& pointer) const;

    std::size_t m_elementSize;
    std::size_t m_count;
    bool m_complex;
    mutable Layout m_primary;
    mutable bool m_otherInStep = false;
    mutable void* m_real = nullptr;
    mutable void* m_imag = nullptr;
    mutable void* m_interleaved = nullptr;
};

}  // namespace vhost::ry
