#include "vhost/ry/registry.hpp"

#include <atomic>
#include <bit>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace vhost::ry::registry {
namespace {

// Heap addresses share their low bits (alignment) and often their high ones; a multiplicative
// mix makes the top bits depend on all of them. The stripe takes the top four bits, the slot in
// the stripe's table the bits below those.
std::uint64_t mix(const void* address) noexcept {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(address)) * 0x9E3779B97F4A7C15ull;
}
constexpr unsigned kStripeBits = 4;

// Addresses kept without a node each: open addressing with linear probing, grown at half full;
// a removal shifts the rest of its run back instead of leaving a marker, so look-ups never
// walk over removed entries. Null marks an empty slot (null is never registered).
class AddressSet {
public:
    // Throws std::bad_alloc when the table cannot grow; the set is unchanged then.
    void insert(const void* address) {
        if (2 * (m_size + 1) > m_slots.size()) grow();
        std::size_t i = home(address);
        while (m_slots[i] && m_slots[i] != address) i = next(i);
        if (!m_slots[i]) {
            m_slots[i] = address;
            ++m_size;
        }
    }

    bool erase(const void* address) noexcept {
        if (m_slots.empty()) return false;
        std::size_t hole = home(address);
        while (m_slots[hole] != address) {
            if (!m_slots[hole]) return false;
            hole = next(hole);
        }
        // Entries after the hole whose home is not between the hole and themselves would be cut
        // off from it by an empty slot; each moves into the hole, which moves on.
        for (std::size_t j = next(hole); m_slots[j]; j = next(j)) {
            const std::size_t k = home(m_slots[j]);
            const bool staysPut = hole < j ? (hole < k && k <= j) : (hole < k || k <= j);
            if (staysPut) continue;
            m_slots[hole] = m_slots[j];
            hole = j;
        }
        m_slots[hole] = nullptr;
        --m_size;
        return true;
    }

    bool contains(const void* address) const noexcept {
        if (m_slots.empty()) return false;
        for (std::size_t i = home(address); m_slots[i]; i = next(i))
            if (m_slots[i] == address) return true;
        return false;
    }

    std::size_t size() const noexcept { return m_size; }

private:
    static constexpr std::size_t kInitialSlots = 64;

    std::size_t home(const void* address) const noexcept {
        return static_cast<std::size_t>((mix(address) << kStripeBits) >> m_shift);
    }
    std::size_t next(std::size_t i) const noexcept { return (i + 1) & (m_slots.size() - 1); }

    void grow() {
        const std::size_t slots = m_slots.empty() ? kInitialSlots : 2 * m_slots.size();
        std::vector<const void*> old(slots, nullptr);
        old.swap(m_slots);
        m_shift = 64 - static_cast<unsigned>(std::countr_zero(slots));
        for (const void* address : old) {
            if (!address) continue;
            std::size_t i = home(address);
            while (m_slots[i]) i = next(i);
            m_slots[i] = address;
        }
    }

    std::vector<const void*> m_slots;
    std::size_t m_size = 0;
    unsigned m_shift = 64;  // 64 - log2 of the slot count
};

// Held for a few dozen instructions at a time. A mutex costs two atomic exchanges and two library
// calls per use, this lock one exchange; every array made and released takes it twice. A waiter
// that keeps finding it held gives up its core, since the holder may have been preempted.
class StripeLock {
public:
    void lock() noexcept {
        for (unsigned spins = 0; m_held.exchange(true, std::memory_order_acquire);) {
            while (m_held.load(std::memory_order_relaxed)) {
                if (++spins < kSpinsBeforeYield) {
                    pause();
                } else {
                    std::this_thread::yield();
                }
            }
        }
    }
    void unlock() noexcept { m_held.store(false, std::memory_order_release); }

private:
    static constexpr unsigned kSpinsBeforeYield = 64;
    static void pause() noexcept {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    std::atomic<bool> m_held{false};
};

// Arrays and blocks are made and released on every thread that runs module calls; one lock for
// the process would make them all queue. Each stripe holds the addresses that hash to it, with
// a lock of its own, on a cache line of its own.
constexpr std::size_t kStripes = std::size_t{1} << kStripeBits;

struct alignas(64) Stripe {
    StripeLock lock;
    AddressSet arrays;
    AddressSet blocks;
};

struct Live {
    Stripe stripes[kStripes];
};

// Never destroyed: arrays may still be released by other static destructors at exit.
Live& live() {
    static Live* instance = new Live;
    return *instance;
}

Stripe& stripeOf(const void* address) { return live().stripes[mix(address) >> (64 - kStripeBits)]; }

template <class Count>
std::size_t total(Count count) noexcept {
    std::size_t sum = 0;
    for (Stripe& stripe : live().stripes) {
        std::lock_guard held(stripe.lock);
        sum += count(stripe);
    }
    return sum;
}

}  // namespace

void addArray(const ryArray* array) {
    Stripe& stripe = stripeOf(array);
    std::lock_guard held(stripe.lock);
    stripe.arrays.insert(array);
}

bool removeArray(const ryArray* array) noexcept {
    Stripe& stripe = stripeOf(array);
    std::lock_guard held(stripe.lock);
    return stripe.arrays.erase(array);
}

bool hasArray(const ryArray* array) noexcept {
    Stripe& stripe = stripeOf(array);
    std::lock_guard held(stripe.lock);
    return stripe.arrays.contains(array);
}

void addBlock(const void* data) {
    Stripe& stripe = stripeOf(data);
    std::lock_guard held(stripe.lock);
    stripe.blocks.insert(data);
}

bool removeBlock(const void* data) noexcept {
    Stripe& stripe = stripeOf(data);
    std::lock_guard held(stripe.lock);
    return stripe.blocks.erase(data);
}

bool hasBlock(const void* data) noexcept {
    Stripe& stripe = stripeOf(data);
    std::lock_guard held(stripe.lock);
    return stripe.blocks.contains(data);
}

std::size_t arrayCount() noexcept {
    return total([](const Stripe& stripe) { return stripe.arrays.size(); });
}

std::size_t blockCount() noexcept {
    return total([](const Stripe& stripe) { return stripe.blocks.size(); });
}

}  // namespace vhost::ry::registry
