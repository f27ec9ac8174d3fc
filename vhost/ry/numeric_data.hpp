// The data of a numeric, logical or character array.
//
// Real data is one buffer. Complex data exists in two layouts: separate real and imaginary
// buffers (the older interfaces) and one buffer of interleaved (real, imaginary) pairs (the
// current interface). One layout is primary and holds the truth; the other is built on demand
// and kept, marked in step or stale. Asking for a layout to read leaves the primary layout as it
// is; asking for it to write (every pointer handed to a module, which may write through it) makes
// it primary and the other stale. Buffers are never freed while the data lives, except when a
// caller replaces one, so a pointer handed out earlier stays valid memory even when it is stale.
//
// The record lives in a data slot (slots.hpp) and holds small buffers itself: a scalar's data,
// or any data of up to kInlineBytes, costs no allocation of its own. Arrays share a record by
// reference count (DataRef).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "host/host_api.hpp"

namespace vhost::ry {

enum class Layout : std::uint8_t { Separate, Interleaved };
enum class Access : std::uint8_t { Read, Write };

class NumericData {
public:
    static void* operator new(std::size_t size);
    static void operator delete(void* slot) noexcept;

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
    // The only buffer of real data, read or written: real data has no other layout to bring in
    // step. Real data only.
    void* realOnly() const noexcept { return m_real; }
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

    // The buffer a record was made with, for its maker to fill before anyone else sees it: the
    // real part, or the interleaved pairs of complex interleaved data.
    void* madeBuffer() const noexcept { return m_real ? m_real : m_interleaved; }

    // Bytes held in all buffers.
    std::size_t bytes() const noexcept;

    // References held by DataRefs.
    std::size_t references() const noexcept { return m_references.load(std::memory_order_acquire); }

private:
    friend class DataRef;
    static constexpr std::size_t kInlineBytes = 64;

    void* buffer(std::size_t elements, bool zeroed) const;
    bool isInline(const void* pointer) const noexcept {
        return pointer >= m_inline && pointer < m_inline + kInlineBytes;
    }
    // Frees a buffer unless it is one of the record's own.
    void release(void* pointer) const noexcept {
        if (pointer && !isInline(pointer)) releaseBlock(pointer);
    }
    static void releaseBlock(void* pointer) noexcept;
    std::size_t sizeOf(const void* pointer, std::size_t elements) const noexcept;
    void materialize(Layout target) const;
    void* access(Layout layout, Access access, void* const& pointer) const;

    mutable std::atomic<std::size_t> m_references{1};
    std::size_t m_elementSize;
    std::size_t m_count;
    bool m_complex;
    mutable Layout m_primary;
    mutable bool m_otherInStep = false;
    // Bytes of m_inline handed out as buffers (never handed out twice), padded and as asked.
    mutable std::uint8_t m_inlineUsed = 0;
    mutable std::uint8_t m_inlineBytes = 0;
    mutable void* m_real = nullptr;
    mutable void* m_imag = nullptr;
    mutable void* m_interleaved = nullptr;
    alignas(16) mutable unsigned char m_inline[kInlineBytes];
};

// Shared ownership of a NumericData record.
class DataRef {
public:
    DataRef() noexcept = default;
    // Takes over the reference a new record starts with.
    explicit DataRef(NumericData* adopted) noexcept : m_data(adopted) {}
    DataRef(const DataRef& other) noexcept : m_data(other.m_data) {
        if (m_data) m_data->m_references.fetch_add(1, std::memory_order_relaxed);
    }
    DataRef(DataRef&& other) noexcept : m_data(std::exchange(other.m_data, nullptr)) {}
    DataRef& operator=(DataRef other) noexcept {
        std::swap(m_data, other.m_data);
        return *this;
    }
    ~DataRef() { reset(); }

    void reset() noexcept {
        NumericData* data = std::exchange(m_data, nullptr);
        // The only reference cannot be copied concurrently: no atomic update is needed for it.
        if (data && (data->m_references.load(std::memory_order_acquire) == 1 ||
                     data->m_references.fetch_sub(1, std::memory_order_acq_rel) == 1))
            delete data;
    }
    NumericData* get() const noexcept { return m_data; }
    NumericData* operator->() const noexcept { return m_data; }
    NumericData& operator*() const noexcept { return *m_data; }
    std::size_t use_count() const noexcept { return m_data ? m_data->references() : 0; }

private:
    NumericData* m_data = nullptr;
};

}  // namespace vhost::ry
