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
// The record holds small buffers itself: a scalar's data, or any data of up to kInlineBytes,
// costs no allocation of its own. Arrays share a record by reference count (DataRef). A record
// lives in the slot of the array made with it (hosted: its host slot, array.hpp), or in a data
// slot of its own (slots.hpp) when it is made later, as a copy.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "host/host_api.hpp"
#include "vhost/ry/slots.hpp"
#include "vhost/ry/thread_block.hpp"

namespace vhost::ry {

// A record hosted by the array in `hostSlot` took a block: that array is no longer plain
// (array.hpp). Defined with the array.
void hostTookBlocks(void* hostSlot) noexcept;

enum class Layout : std::uint8_t { Separate, Interleaved };
enum class Access : std::uint8_t { Read, Write };

class NumericData {
public:
    // A record of its own, in a data slot.
    static void* operator new(std::size_t size);
    static void operator delete(void* slot) noexcept;

    // Raises "VELTRA:ry:outOfMemory" when the buffers cannot be allocated. `hostSlot`: the array
    // slot the record is placed in, or null for a record of its own. A record starts with one
    // reference, which a DataRef takes over; a hosted one is also held by its host array until
    // that array goes (releaseHost), so the slot is free once neither the array nor any sharer
    // of the record is left.
    NumericData(std::size_t elementSize, std::size_t count, bool complex, Layout layout, bool zeroed,
                void* hostSlot = nullptr)
        : NumericData(elementSize, count, complex, layout, zeroed, hostSlot, threadBlock()) {}
    // The same, with the calling thread's block at hand already.
    NumericData(std::size_t elementSize, std::size_t count, bool complex, Layout layout, bool zeroed, void* hostSlot,
                ThreadBlock& thread)
        : m_holders(hostSlot ? kReference | kHost : kReference), m_elementSize(elementSize), m_count(count), m_complex(complex),
          m_primary(complex ? layout : Layout::Separate), m_hostSlot(hostSlot) {
        if (complex) [[unlikely]]
            makeComplexBuffers(layout, zeroed);
        else
            m_real = buffer(count, zeroed, thread);
    }
    static constexpr std::size_t kInlineBytes = 64;
    // The form of the record in a free array slot `hostSlot` (see slots.hpp): held by its host
    // and the host's one reference, nothing else about it kept.
    struct FreeForm {};
    NumericData(FreeForm, void* hostSlot) noexcept
        : m_holders(kReference | kHost), m_elementSize(0), m_count(0), m_complex(false), m_primary(Layout::Separate),
          m_real(m_inline), m_hostSlot(hostSlot) {}
    // The record in its free form at `record` made real data of `bytes` (at most kInlineBytes:
    // count elements of elementSize) in its own room: the common small record, made without a
    // call by writing only what differs from the free form (its holders and host are those of a
    // new array's record already). Zeroed, the whole room is cleared, which costs less than
    // clearing what is used. The caller counts the bytes.
    static NumericData* revive(void* record, std::size_t elementSize, std::size_t count, std::size_t bytes,
                               bool zeroed) noexcept {
        auto* data = std::launder(static_cast<NumericData*>(record));
        data->m_elementSize = elementSize;
        data->m_count = count;
        data->m_complex = false;
        data->m_primary = Layout::Separate;
        data->m_otherInStep = false;
        data->m_hasBlocks = false;
        data->m_inlineUsed = static_cast<std::uint8_t>((bytes + 15 + (bytes == 0)) & ~std::size_t{15});
        data->m_inlineBytes = static_cast<std::uint8_t>(bytes);
        data->m_imag = nullptr;
        data->m_interleaved = nullptr;
        data->m_real = data->m_inline;
        if (zeroed) std::memset(data->m_inline, 0, kInlineBytes);
        return data;
    }
    // A deep copy holding only the primary layout, in a data slot.
    NumericData(const NumericData& other);
    NumericData& operator=(const NumericData&) = delete;
    ~NumericData() {
        if (m_hasBlocks) [[unlikely]]
            releaseBlocks();
        if (m_inlineBytes) addTo(threadBlock().counts, -std::int64_t{m_inlineBytes});
    }
    // Destroys a record no reference is left to and frees its slot: its own, or its host's.
    static void dispose(NumericData* data) noexcept { dispose(data, threadBlock()); }
    static void dispose(NumericData* data, ThreadBlock& thread) noexcept {
        void* host = data->m_hostSlot;
        // The destructor's work, with the thread's block at hand.
        if (data->m_hasBlocks) [[unlikely]]
            data->releaseBlocks();
        addTo(thread.counts, -std::int64_t{data->m_inlineBytes});
        data->m_hasBlocks = false;
        data->m_inlineBytes = 0;
        data->~NumericData();
        if (host) giveArraySlot(thread, host);
        else slots::give(thread, slots::Kind::Data, data);
    }
    // Gives up a DataRef's reference, or the host array's hold; the last holder disposes of the
    // record.
    static void drop(NumericData* data) noexcept { data->letGo(kReference); }
    static void releaseHost(NumericData* data) noexcept { data->letGo(kHost); }
    // Whether the host array and one DataRef (its own) are all that hold the record: nobody else
    // can take a reference then.
    bool heldByHostAlone() const noexcept { return m_holders.load(std::memory_order_acquire) == (kReference | kHost); }
    // Whether a buffer ever came from a block (else disposing of a hosted record is giving back
    // its host's slot).
    bool hasBlocks() const noexcept { return m_hasBlocks; }
    // Bytes of data held in the record's own room.
    std::uint8_t inlineBytes() const noexcept { return m_inlineBytes; }
    void* hostSlot() const noexcept { return m_hostSlot; }

    std::size_t elementSize() const noexcept { return m_elementSize; }
    std::size_t count() const noexcept { return m_count; }
    bool isComplex() const noexcept { return m_complex; }
    Layout primary() const noexcept { return m_primary; }
    // Whether the layout that is not primary exists and matches the primary one.
    bool otherInStep() const noexcept { return m_otherInStep; }

    // The separate real part (for real data, the only buffer).
    void* real(Access mode) const {
        if (!m_complex) [[likely]]
            return m_real;
        return access(Layout::Separate, mode, m_real);
    }
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
    std::size_t references() const noexcept { return m_holders.load(std::memory_order_acquire) / kReference; }
    // references() == 1 for a record some DataRef holds, in one comparison of the holders' word.
    bool heldByOneReference() const noexcept { return m_holders.load(std::memory_order_acquire) < 2 * kReference; }

private:
    friend class DataRef;

    // A buffer of `elements` elements: from the record's own room while it lasts (a zero-byte
    // buffer still gets an address of its own), else a block. Inline: every array made with data
    // calls it, and it is short on its common path.
    [[gnu::always_inline]] void* buffer(std::size_t elements, bool zeroed) const {
        return buffer(elements, zeroed, threadBlock());
    }
    [[gnu::always_inline]] void* buffer(std::size_t elements, bool zeroed, ThreadBlock& thread) const {
        // The overflow test without a division: every array made pays for this.
        std::size_t bytes = 0;
        if (__builtin_mul_overflow(elements, m_elementSize, &bytes)) [[unlikely]]
            raiseTooLarge();
        const std::size_t padded = bytes == 0 ? 16 : (bytes + 15) & ~std::size_t{15};
        if (padded > kInlineBytes - m_inlineUsed) return blockBuffer(bytes, zeroed);
        void* own = m_inline + m_inlineUsed;
        // Whole words, as the padding allows: no call for a few bytes.
        if (zeroed) {
            auto* words = static_cast<std::uint64_t*>(own);
            words[0] = words[1] = 0;
            if (padded > 16) std::memset(words + 2, 0, padded - 16);
        }
        m_inlineUsed = static_cast<std::uint8_t>(m_inlineUsed + padded);
        m_inlineBytes = static_cast<std::uint8_t>(m_inlineBytes + bytes);
        addTo(thread.counts, static_cast<std::int64_t>(bytes));
        return own;
    }
    void* blockBuffer(std::size_t bytes, bool zeroed) const;
    // A buffer of the record is a block now; its host array (if any) is no longer plain.
    void noteBlocks() const noexcept;
    void releaseBlocks() noexcept;
    [[noreturn]] static void raiseTooLarge();
    void makeComplexBuffers(Layout layout, bool zeroed);
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

    // The holders in one word, so that the last one to go is known without a lock: kReference
    // for each DataRef, plus kHost while the host array of a hosted record is alive.
    static constexpr std::size_t kHost = 1;
    static constexpr std::size_t kReference = 2;
    void letGo(std::size_t holder) noexcept {
        // The only holder cannot be joined concurrently: no atomic update is needed for it.
        if (m_holders.load(std::memory_order_acquire) == holder ||
            m_holders.fetch_sub(holder, std::memory_order_acq_rel) == holder)
            dispose(this);
    }
    mutable std::atomic<std::size_t> m_holders;
    std::size_t m_elementSize;
    std::size_t m_count;
    // The flags a new small record writes as constants side by side, then the two sizes it
    // computes, then the two buffers it clears as one 16-byte pair.
    bool m_complex;
    mutable Layout m_primary;
    mutable bool m_otherInStep = false;
    // Whether a buffer ever came from a block (the common small record has only its own room).
    mutable bool m_hasBlocks = false;
    // Bytes of m_inline handed out as buffers (never handed out twice), padded and as asked.
    mutable std::uint8_t m_inlineUsed = 0;
    mutable std::uint8_t m_inlineBytes = 0;
    alignas(16) mutable void* m_imag = nullptr;
    mutable void* m_interleaved = nullptr;
    mutable void* m_real = nullptr;
    void* m_hostSlot;
    alignas(16) mutable unsigned char m_inline[kInlineBytes];
};

// Shared ownership of a NumericData record.
class DataRef {
public:
    DataRef() noexcept = default;
    // Takes over the reference a new record starts with.
    explicit DataRef(NumericData* adopted) noexcept : m_data(adopted) {}
    DataRef(const DataRef& other) noexcept : m_data(other.m_data) {
        if (m_data) m_data->m_holders.fetch_add(NumericData::kReference, std::memory_order_relaxed);
    }
    DataRef(DataRef&& other) noexcept : m_data(std::exchange(other.m_data, nullptr)) {}
    DataRef& operator=(DataRef other) noexcept {
        std::swap(m_data, other.m_data);
        return *this;
    }
    ~DataRef() { reset(); }

    void reset() noexcept {
        if (NumericData* data = std::exchange(m_data, nullptr)) NumericData::drop(data);
    }
    // Lets go of the record without giving up its reference (the caller has taken it over).
    NumericData* release() noexcept { return std::exchange(m_data, nullptr); }
    NumericData* get() const noexcept { return m_data; }
    NumericData* operator->() const noexcept { return m_data; }
    NumericData& operator*() const noexcept { return *m_data; }
    std::size_t use_count() const noexcept { return m_data ? m_data->references() : 0; }

private:
    NumericData* m_data = nullptr;
};

}  // namespace vhost::ry
