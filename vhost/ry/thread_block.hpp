// The array library's state of one thread, in one block reached through one thread-local
// pointer.
//
// Making or releasing an array, entering or leaving a context, counting what is alive: each
// needs something of the calling thread. A library's thread-local variables are each found
// through a call into the dynamic loader (the general model every shared library gets by
// default); one pointer in the initial-exec model is a single load from the thread register,
// and the static thread-local room the loader keeps for libraries opened late fits one
// pointer. So everything the array library keeps per thread sits in this block.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "host/host_api.hpp"
#include "vhost/ry/slots.hpp"

namespace vhost::ry {

class EngineContexts;

struct ThreadBlock {
    // Free slots of each kind, chained through their second word, and the untouched remainder
    // of the range this thread carved last.
    struct FreeSlots {
        void* head = nullptr;
        std::size_t count = 0;
        char* fresh = nullptr;
        char* freshEnd = nullptr;
    };
    FreeSlots free[slots::kKinds];

    // The contexts of the engine this thread used last: good while that engine is the current
    // one (see engineContexts()). Contexts that go make every thread forget them
    // (forgetContexts), so the engine is reset from another thread: atomic, read relaxed.
    std::atomic<const void*> engine{nullptr};
    std::atomic<EngineContexts*> contexts{nullptr};

    // What this thread made minus what it released (negative when it releases what others
    // made), arrays and bytes in one word: kArrayUnit per array plus the bytes, so that making
    // or releasing an array with its data is one update. The process's live counts are the sum
    // over all threads (sumOfThreadCounts). Written by this thread only, read by any; a word
    // wraps, the sum is still right.
    std::atomic<std::uint64_t> counts{0};
    // The same for the data arrays' implementation objects (their library counts them here, as
    // one shared count cost every array made and freed a locked update of a contended line).
    std::atomic<std::uint64_t> dataArrays{0};

    ThreadBlock* prev = nullptr;
    ThreadBlock* next = nullptr;
};

extern HOST_API __thread ThreadBlock* t_threadBlock __attribute__((tls_model("initial-exec")));

HOST_API ThreadBlock& newThreadBlock();
// Every thread that keeps `contexts` as its engine's forgets them; for the contexts' destructor.
void forgetContexts(const EngineContexts* contexts) noexcept;

inline ThreadBlock& threadBlock() {
    if (ThreadBlock* block = t_threadBlock) [[likely]]
        return *block;
    return newThreadBlock();
}

// One array in ThreadBlock::counts. Live bytes stay below half of it (512 GiB).
inline constexpr int kArrayShift = 40;
inline constexpr std::int64_t kArrayUnit = std::int64_t{1} << kArrayShift;

// Adds to the counts of the calling thread's block (kArrayUnit per array, and bytes); a plain
// load and store, as only this thread writes it.
inline void addTo(std::atomic<std::uint64_t>& count, std::int64_t delta) noexcept {
    count.store(count.load(std::memory_order_relaxed) + static_cast<std::uint64_t>(delta), std::memory_order_relaxed);
}

namespace slots {

// With the calling thread's block at hand already.
inline void* take(ThreadBlock& thread, Kind kind) {
    ThreadBlock::FreeSlots& free = thread.free[static_cast<std::size_t>(kind)];
    if (void* slot = free.head) [[likely]] {
        ORB_UNPOISON(slot, sizeOf(kind));
        free.head = linkOf(slot);
        --free.count;
        return slot;
    }
    return refill(thread, kind);
}

// A free slot the thread has, or null (then take() would refill): no call either way.
inline void* takeIfFree(ThreadBlock& thread, Kind kind) noexcept {
    ThreadBlock::FreeSlots& free = thread.free[static_cast<std::size_t>(kind)];
    void* slot = free.head;
    if (!slot) [[unlikely]]
        return nullptr;
    ORB_UNPOISON(slot, sizeOf(kind));
    free.head = linkOf(slot);
    --free.count;
    return slot;
}

inline void give(ThreadBlock& thread, Kind kind, void* slot) noexcept {
    ThreadBlock::FreeSlots& free = thread.free[static_cast<std::size_t>(kind)];
    linkOf(slot) = free.head;
    free.head = slot;
    ORB_POISON(static_cast<char*>(slot) + kKeptBytes, sizeOf(kind) - kKeptBytes);
    if (++free.count >= 2 * kBatch) [[unlikely]]
        spill(thread, kind);
}

inline void* take(Kind kind) { return take(threadBlock(), kind); }
inline void give(Kind kind, void* slot) noexcept { give(threadBlock(), kind, slot); }

}  // namespace slots

// Sums of all threads' counts, those of threads that have ended included.
struct ThreadCounts {
    std::int64_t arrays = 0;
    std::int64_t bytes = 0;
    std::int64_t dataArrays = 0;
};
HOST_API ThreadCounts sumOfThreadCounts() noexcept;

}  // namespace vhost::ry
