// Allocation-list and array-list contexts of one engine.
//
// Each engine has two stacks of contexts, one for memory blocks and one for arrays, each with a
// base context at the bottom that is never left (what is created with no call in progress stays
// until it is released or the engine goes). Entering pushes a new context and returns a token
// for the one that was current; leaving with that token pops back to it, freeing what the popped
// contexts track. A token deeper in the stack pops every context above it in one go, so an error
// that skipped the exit of an inner call cannot leave its context behind.
#pragma once

#include <cstddef>

#include <ry_types.h>

#include "vhost/ry/blocks.hpp"
#include "vhost/ry/leaks.hpp"

namespace vhost::ry {

class ArrayContext {
public:
    explicit ArrayContext(ArrayContext* previous) noexcept : m_previous(previous) {}
    ArrayContext(const ArrayContext&) = delete;
    ArrayContext& operator=(const ArrayContext&) = delete;

    ArrayContext* previous() const noexcept { return m_previous; }
    // An empty context, left earlier, entered again above `previous`.
    void reenter(ArrayContext* previous) noexcept { m_previous = previous; }
    ryArray* first() const noexcept { return m_head; }
    std::size_t size() const noexcept { return m_size; }
    // Links an untracked array.
    void link(ryArray* array) noexcept;
    // Unlinks a tracked array from whatever context tracks it; no-op when untracked.
    static void unlink(ryArray* array) noexcept;
    // Moves every array of `other` here.
    void takeAll(ArrayContext& other) noexcept;

private:
    ArrayContext* m_previous;
    ryArray* m_head = nullptr;
    std::size_t m_size = 0;
};

class AllocContext {
public:
    explicit AllocContext(AllocContext* previous) noexcept : m_previous(previous) {}
    AllocContext(const AllocContext&) = delete;
    AllocContext& operator=(const AllocContext&) = delete;

    AllocContext* previous() const noexcept { return m_previous; }
    void reenter(AllocContext* previous) noexcept { m_previous = previous; }
    std::size_t size() const noexcept { return m_size; }
    void link(BlockHeader* block) noexcept;
    static void unlink(BlockHeader* block) noexcept;
    void takeAll(AllocContext& other) noexcept;
    // Frees every block (and forgets it as a live block).
    ContextReport freeAll() noexcept;

private:
    AllocContext* m_previous;
    BlockHeader* m_head = nullptr;
    std::size_t m_size = 0;
};

class EngineContexts {
public:
    EngineContexts() = default;
    // Frees everything still tracked, base contexts included.
    ~EngineContexts();
    EngineContexts(const EngineContexts&) = delete;
    EngineContexts& operator=(const EngineContexts&) = delete;

    ArrayContext& arrays() noexcept { return *m_arrays; }
    AllocContext& blocks() noexcept { return *m_blocks; }

    void* enterArrayList();
    void* enterAllocList();
    void exitArrayList(void* token, ryArray** outputs, int count, bool keep);
    void restoreAllocList(void* token);

    ContextReport lastArrays() const noexcept { return m_lastArrays; }
    ContextReport lastBlocks() const noexcept { return m_lastBlocks; }
    ContextReport total() const noexcept { return m_total; }
    void resetReports() noexcept { m_lastArrays = m_lastBlocks = m_total = {}; }
    std::size_t arrayDepth() const noexcept;
    std::size_t allocDepth() const noexcept;

private:
    ArrayContext m_baseArrays{nullptr};
    AllocContext m_baseBlocks{nullptr};
    ArrayContext* m_arrays = &m_baseArrays;
    AllocContext* m_blocks = &m_baseBlocks;
    // Contexts that were left, empty, chained through previous(): every module call enters and
    // leaves two contexts, and taking them from here costs no allocation. The chains never hold
    // more than the deepest nesting seen.
    ArrayContext* m_spareArrays = nullptr;
    AllocContext* m_spareBlocks = nullptr;
    ContextReport m_lastArrays, m_lastBlocks, m_total;
};

// The contexts of the calling thread's engine (created on first use, destroyed with the engine).
EngineContexts& engineContexts();

}  // namespace vhost::ry
