// Fixed-size memory for the array library's own objects: array headers and small data records.
//
// Every module call makes and releases arrays; a general-purpose allocator would cost each of
// them a trip through its bins, and telling a live array from a released or foreign handle
// would need a shared record of every array. Instead, objects come from slots of a few fixed
// sizes, carved from address ranges reserved for the library alone and never returned to the
// system. Each thread keeps free slots of each size in a list of its own, so taking and giving
// back a slot touches no lock; a thread whose list grows long (it releases what other threads
// made) hands a batch to a shared pool, from which a thread whose list is empty takes one.
//
// Because the ranges are never unmapped and array headers have slots of their own size, any
// handle can be checked for being a live array without a lock: it must fall on an array slot,
// and the slot's first word must hold the live tag (see array.hpp).
//
// Under the address sanitizer a free slot is poisoned past its first two words (the tag and the
// free-list link), so an array used after its release is still reported; what a free array slot
// holds (its free form, below) stays there under the poison.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "host/poison.hpp"

namespace vhost::ry {
struct ThreadBlock;

// A free array slot is never garbage: it holds the free form of an array (array.hpp), so that
// the usual new matrix writes only what differs from it. formFreeArraySlot writes that form
// over whatever the slot held; giveArraySlot writes it and gives the slot back. A plain array's
// release leaves its slot in that form without either.
void formFreeArraySlot(void* slot) noexcept;
void giveArraySlot(ThreadBlock& thread, void* slot) noexcept;
}

namespace vhost::ry::slots {

enum class Kind : std::uint8_t { Array, Data, Count };
inline constexpr std::size_t kKinds = static_cast<std::size_t>(Kind::Count);

// Bytes of a slot of each kind; objects placed in them must fit and need at most 16-byte
// alignment. An array slot holds an array and the data record it was made with (array.hpp); a
// data slot holds a data record made later (a copy, or data detached from a sharer).
inline constexpr std::size_t kArraySlot = 384;
inline constexpr std::size_t kDataSlot = 128;
constexpr std::size_t sizeOf(Kind kind) noexcept { return kind == Kind::Array ? kArraySlot : kDataSlot; }

// A slot of `kind` (uninitialised contents); throws std::bad_alloc when no address range can be
// reserved. Any thread. (Inline, in thread_block.hpp.)
void* take(Kind kind);
// Gives a slot back; any thread, not only the one that took it. (Inline, in thread_block.hpp.)
void give(Kind kind, void* slot) noexcept;

// Whether `address` is the start of an array slot (live or free). Never touches the memory.
// (Inline, below.)

// --- for the inline parts ---------------------------------------------------------------------

// The free-list link is a free slot's second word: an array slot's first word is its tag, which
// must read "not live" while the slot is free. A free slot is poisoned past these two words.
inline void*& linkOf(void* slot) noexcept { return static_cast<void**>(slot)[1]; }
inline constexpr std::size_t kKeptBytes = 2 * sizeof(void*);

// A thread keeps up to 2 * kBatch free slots of each kind; beyond that it hands kBatch to the
// pool, and it takes a batch back when it has none.
inline constexpr std::size_t kBatch = 256;

// The slow paths: a slot when the thread has none left; a batch to the pool.
void* refill(ThreadBlock& thread, Kind kind);
void spill(ThreadBlock& thread, Kind kind) noexcept;

// Regions reserved for array slots (see isArraySlot): 384 MiB, a whole number of slots of
// either kind.
inline constexpr std::size_t kRegionBytes = std::size_t{3} << 27;
static_assert(kRegionBytes % kArraySlot == 0 && kRegionBytes % kDataSlot == 0);
inline constexpr std::size_t kMaxRegions = 256;
// The base of the first region before it is reserved: no address a pointer can hold (null
// included) lies within kRegionBytes above it, so that region's test needs no count.
inline constexpr std::uintptr_t kNoRegion = std::uintptr_t{1} << 63;
struct ArrayRegions {
    std::atomic<std::uintptr_t> bases[kMaxRegions];
    std::atomic<unsigned> count;
};
extern ArrayRegions g_arrayRegions;

// Offsets within a region fit 32 bits: the remainder is then a multiply and a rotate, with no
// 64-bit constants to load. Every release of an array asks.
static_assert(kRegionBytes <= std::size_t{1} << 32);
inline bool onArraySlotBoundary(std::uintptr_t offset) noexcept {
    return static_cast<std::uint32_t>(offset) % static_cast<std::uint32_t>(kArraySlot) == 0;
}

inline bool isArraySlot(const void* address) noexcept {
    const auto a = reinterpret_cast<std::uintptr_t>(address);
    // The first region before the loop: it holds every array of a process that never needed a
    // second one.
    if (const std::uintptr_t offset = a - g_arrayRegions.bases[0].load(std::memory_order_acquire);
        offset < kRegionBytes) [[likely]]
        return onArraySlotBoundary(offset);
    const unsigned count = g_arrayRegions.count.load(std::memory_order_acquire);
    for (unsigned i = 1; i < count; ++i) {
        const std::uintptr_t offset = a - g_arrayRegions.bases[i].load(std::memory_order_relaxed);
        if (offset < kRegionBytes) return onArraySlotBoundary(offset);
    }
    return false;
}

}  // namespace vhost::ry::slots
