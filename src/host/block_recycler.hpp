// Blocks of one size recycled between threads, for objects made on one thread and destroyed on
// another (a queued request and its completion: made on the module's thread, destroyed on the
// engine's signal thread).
//
// The process's allocator serves a block freed by a thread other than the one that allocated it
// only through its shared lock, for both threads; under a stream of requests that lock was the
// larger part of the cost. A block freed here goes onto a shared list instead, and the next
// allocation of the same size on any thread takes the whole list at once into a cache of its
// own. The list is bounded: past kMaxShared blocks, freed blocks go back to the allocator.
//
// Under the address sanitizer every block goes straight back to the allocator, so that a use of
// a destroyed object is still caught.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>

namespace host::util {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kRecycleBlocks = false;
#else
inline constexpr bool kRecycleBlocks = true;
#endif

template <std::size_t Size, std::size_t Align>
class BlockRecycler {
public:
    static constexpr std::size_t kMaxShared = kRecycleBlocks ? 4096 : 0;

    static void* allocate() {
        Cache& cache = threadCache();
        if (!cache.head) cache.refill();
        if (Node* node = cache.head) {
            cache.head = node->next;
            node->~Node();
            return node;
        }
        return ::operator new(kBlock, std::align_val_t(kAlign));
    }

    static void deallocate(void* block) noexcept {
        if (s_shared.load(std::memory_order_relaxed) >= kMaxShared) {
            ::operator delete(block, kBlock, std::align_val_t(kAlign));
            return;
        }
        s_shared.fetch_add(1, std::memory_order_relaxed);
        Node* node = new (block) Node{s_free.load(std::memory_order_relaxed)};
        while (!s_free.compare_exchange_weak(node->next, node, std::memory_order_release, std::memory_order_relaxed)) {
        }
    }

    // Blocks waiting on the shared list.
    static std::size_t shared() noexcept { return s_shared.load(std::memory_order_relaxed); }

private:
    struct Node {
        Node* next;
    };
    static constexpr std::size_t kBlock = Size < sizeof(Node) ? sizeof(Node) : Size;
    static constexpr std::size_t kAlign = Align < alignof(Node) ? alignof(Node) : Align;

    // A thread's own blocks; given back to the allocator when the thread ends.
    struct Cache {
        Node* head = nullptr;
        // Takes every shared block at once: a whole-list exchange cannot see a block twice.
        void refill() {
            head = s_free.exchange(nullptr, std::memory_order_acquire);
            std::size_t taken = 0;
            for (Node* n = head; n; n = n->next) ++taken;
            if (taken) s_shared.fetch_sub(taken, std::memory_order_relaxed);
        }
        ~Cache() {
            while (Node* node = head) {
                head = node->next;
                node->~Node();
                ::operator delete(node, kBlock, std::align_val_t(kAlign));
            }
        }
    };
    static Cache& threadCache() {
        thread_local Cache cache;
        return cache;
    }

    static inline std::atomic<Node*> s_free{nullptr};
    static inline std::atomic<std::size_t> s_shared{0};
};

// A standard allocator over BlockRecycler, for std::allocate_shared of one object: single
// objects are recycled, anything else goes to the allocator as usual.
template <class T>
class RecyclingAllocator {
public:
    using value_type = T;
    RecyclingAllocator() = default;
    template <class U>
    RecyclingAllocator(const RecyclingAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n == 1) return static_cast<T*>(BlockRecycler<sizeof(T), alignof(T)>::allocate());
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n == 1) {
            BlockRecycler<sizeof(T), alignof(T)>::deallocate(p);
        } else {
            std::allocator<T>().deallocate(p, n);
        }
    }
    template <class U>
    bool operator==(const RecyclingAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace host::util
