#include "vhost/ry/slots.hpp"

#include <mutex>
#include <new>
#include <vector>

#include "vhost/platform/address_space.hpp"
#include "vhost/ry/thread_block.hpp"

namespace vhost::ry {

__thread ThreadBlock* t_threadBlock __attribute__((tls_model("initial-exec"))) = nullptr;

void endThreadBlock(ThreadBlock* block) noexcept;

namespace slots {

ArrayRegions g_arrayRegions{{kNoRegion}, 0};

namespace {

// Address ranges are reserved 384 MiB at a time for one kind of slot (pages are only backed
// once touched) and handed to threads in chunks of 192 KiB.
constexpr std::size_t kChunkBytes = std::size_t{3} << 16;
static_assert(kChunkBytes % kArraySlot == 0 && kChunkBytes % kDataSlot == 0 && kRegionBytes % kChunkBytes == 0);

constexpr std::size_t indexOf(Kind kind) noexcept { return static_cast<std::size_t>(kind); }

struct Batch {
    void* head;
    std::size_t count;
};

struct Shared {
    std::mutex mutex;
    // Per kind: the bytes of the newest region handed out, the regions of data slots (those of
    // array slots are in g_arrayRegions), and the batches of free slots threads handed back.
    struct PerKind {
        std::size_t carved = kRegionBytes;
        char* region = nullptr;
        unsigned regions = 0;
        std::vector<Batch> pool;
    } kinds[kKinds];

    // All threads' blocks, and the counts of threads that have ended.
    ThreadBlock* blocks = nullptr;
    std::uint64_t endedCounts = 0;
    std::uint64_t endedDataArrays = 0;
    platform::ThreadExitHook exitHook{[](void* block) { endThreadBlock(static_cast<ThreadBlock*>(block)); }};
};

// Never destroyed: arrays may still be released by other static destructors at exit.
Shared& shared() {
    static Shared* instance = new Shared;
    return *instance;
}

// A chunk for `kind`, under the lock.
char* carveChunk(Shared& s, Kind kind) {
    Shared::PerKind& k = s.kinds[indexOf(kind)];
    if (k.carved == kRegionBytes) {
        if (k.regions == kMaxRegions) throw std::bad_alloc();
        void* region = platform::reserveAddressRange(kRegionBytes);
        if (!region) throw std::bad_alloc();
        k.region = static_cast<char*>(region);
        if (kind == Kind::Array) {
            // Released: the first region's base is read without the count.
            g_arrayRegions.bases[k.regions].store(reinterpret_cast<std::uintptr_t>(k.region), std::memory_order_release);
            g_arrayRegions.count.store(k.regions + 1, std::memory_order_release);
        }
        ++k.regions;
        k.carved = 0;
    }
    char* chunk = k.region + k.carved;
    k.carved += kChunkBytes;
    return chunk;
}

}  // namespace

void* refill(ThreadBlock& thread, Kind kind) {
    ThreadBlock::FreeSlots& free = thread.free[indexOf(kind)];
    if (free.fresh != free.freshEnd) {
        char* slot = free.fresh;
        free.fresh += sizeOf(kind);
        return slot;
    }
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    auto& pool = s.kinds[indexOf(kind)].pool;
    if (!pool.empty()) {
        free.head = pool.back().head;
        free.count = pool.back().count;
        pool.pop_back();
        void* slot = free.head;
        ORB_UNPOISON(slot, sizeOf(kind));
        free.head = linkOf(slot);
        --free.count;
        return slot;
    }
    char* chunk = carveChunk(s, kind);
    free.fresh = chunk + sizeOf(kind);
    free.freshEnd = chunk + kChunkBytes;
    return chunk;
}

void spill(ThreadBlock& thread, Kind kind) noexcept {
    ThreadBlock::FreeSlots& free = thread.free[indexOf(kind)];
    void* head = free.head;
    void* last = head;
    for (std::size_t i = 1; i < kBatch; ++i) last = linkOf(last);
    free.head = linkOf(last);
    free.count -= kBatch;
    linkOf(last) = nullptr;
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    try {
        s.kinds[indexOf(kind)].pool.push_back(Batch{head, kBatch});
    } catch (...) {
        // No room to record the batch: the thread keeps it.
        linkOf(last) = free.head;
        free.head = head;
        free.count += kBatch;
    }
}

}  // namespace slots

// --- thread blocks ----------------------------------------------------------------------------

ThreadBlock& newThreadBlock() {
    slots::Shared& s = slots::shared();
    auto* block = new ThreadBlock;
    {
        std::lock_guard lock(s.mutex);
        block->next = s.blocks;
        if (s.blocks) s.blocks->prev = block;
        s.blocks = block;
    }
    s.exitHook.arm(block);
    t_threadBlock = block;
    return *block;
}

// At the thread's end: its free slots and the rest of its fresh range go to the pool, its
// counts to the ended threads' sums.
void endThreadBlock(ThreadBlock* block) noexcept {
    using namespace slots;
    Shared& s = shared();
    for (std::size_t k = 0; k < kKinds; ++k) {
        ThreadBlock::FreeSlots& free = block->free[k];
        const Kind kind = static_cast<Kind>(k);
        while (free.fresh != free.freshEnd) {
            void* slot = free.fresh;
            free.fresh += sizeOf(kind);
            if (kind == Kind::Array) formFreeArraySlot(slot);
            linkOf(slot) = free.head;
            free.head = slot;
            ++free.count;
            ORB_POISON(static_cast<char*>(slot) + kKeptBytes, sizeOf(kind) - kKeptBytes);
        }
    }
    std::lock_guard lock(s.mutex);
    for (std::size_t k = 0; k < kKinds; ++k) {
        ThreadBlock::FreeSlots& free = block->free[k];
        if (!free.head) continue;
        try {
            s.kinds[k].pool.push_back(Batch{free.head, free.count});
        } catch (...) {
            // Lost to reuse, still mapped: a live-array check on them stays safe.
        }
    }
    s.endedCounts += block->counts.load(std::memory_order_relaxed);
    s.endedDataArrays += block->dataArrays.load(std::memory_order_relaxed);
    if (block->prev) block->prev->next = block->next;
    else s.blocks = block->next;
    if (block->next) block->next->prev = block->prev;
    if (t_threadBlock == block) t_threadBlock = nullptr;
    delete block;
}

void forgetContexts(const EngineContexts* contexts) noexcept {
    slots::Shared& s = slots::shared();
    std::lock_guard lock(s.mutex);
    for (ThreadBlock* b = s.blocks; b; b = b->next)
        if (b->contexts.load(std::memory_order_relaxed) == contexts) b->engine.store(nullptr, std::memory_order_relaxed);
}

ThreadCounts sumOfThreadCounts() noexcept {
    slots::Shared& s = slots::shared();
    std::lock_guard lock(s.mutex);
    std::uint64_t sum = s.endedCounts;
    std::uint64_t dataArrays = s.endedDataArrays;
    for (const ThreadBlock* b = s.blocks; b; b = b->next) {
        sum += b->counts.load(std::memory_order_relaxed);
        dataArrays += b->dataArrays.load(std::memory_order_relaxed);
    }
    // Rounded to the nearest array: the bytes of a sum read while threads count may be a little
    // below zero.
    const auto total = static_cast<std::int64_t>(sum);
    const std::int64_t arrays = (total + kArrayUnit / 2) >> kArrayShift;
    return ThreadCounts{arrays, total - arrays * kArrayUnit, static_cast<std::int64_t>(dataArrays)};
}

}  // namespace vhost::ry
