// Allocation-list and array-list contexts of one engine.
//
// Each engine has two stacks of contexts, one for memory blocks and one for arrays, each with a
// base context at the bottom that is never left (what is created with no call in progress stays
// until it is released or the engine goes). Entering pushes a new context and returns a token
// for the one that was current; leaving with that token pops back to it, freeing what the popped
// contexts track. A token deeper in the stack pops every context above it in one go, so an error
// that skipped the exit of an inner call cannot leave its context behind.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include <ry_types.h>

#include "host/host_api.hpp"
#include "vhost/engine/engine.hpp"
#include "vhost/ry/array.hpp"
#include "vhost/ry/blocks.hpp"
#include "vhost/ry/leaks.hpp"
#include "vhost/ry/thread_block.hpp"

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
    void link(ryArray* array) noexcept {
        array->m_context = this;
        array->m_trackPrev = nullptr;
        array->m_trackNext = m_head;
        if (m_head) m_head->m_trackPrev = array;
        m_head = array;
        ++m_size;
    }
    // Unlinks a tracked array from whatever context tracks it; no-op when untracked.
    static void unlink(ryArray* array) noexcept {
        ArrayContext* context = array->m_context;
        if (!context) return;
        if (array->m_trackPrev) array->m_trackPrev->m_trackNext = array->m_trackNext;
        else context->m_head = array->m_trackNext;
        if (array->m_trackNext) array->m_trackNext->m_trackPrev = array->m_trackPrev;
        array->m_context = nullptr;
        array->m_trackPrev = array->m_trackNext = nullptr;
        --context->m_size;
    }
    // Unlinks `array`, which `context` tracks and which is going away: its own links are left
    // as they are.
    static void forget(ryArray* array, ArrayContext* context) noexcept {
        ryArray* prev = array->m_trackPrev;
        ryArray* next = array->m_trackNext;
        (prev ? prev->m_trackNext : context->m_head) = next;
        if (next) next->m_trackPrev = prev;
        --context->m_size;
    }
    // Moves the only array this context tracks to `to`.
    void handOver(ryArray* only, ArrayContext& to) noexcept {
        m_head = nullptr;
        m_size = 0;
        only->m_context = nullptr;
        to.link(only);
    }
    // Moves every array of `other` here.
    void takeAll(ArrayContext& other) noexcept {
        while (ryArray* array = other.m_head) {
            unlink(array);
            link(array);
        }
    }

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

    // Entering takes a spare context when there is one: every module call enters and leaves two.
    void* enterArrayList() {
        ArrayContext* previous = m_arrays;
        if (enterSpare(m_arrays, m_spareArrays)) [[likely]]
            return previous;
        return enterNewArrayList();
    }
    void* enterAllocList() {
        AllocContext* previous = m_blocks;
        if (enterSpare(m_blocks, m_spareBlocks)) [[likely]]
            return previous;
        return enterNewAllocList();
    }
    void exitArrayList(void* token, ryArray** outputs, int count, bool keep) {
        ArrayContext* leaving = m_arrays;
        if (leaving->previous() == token && keep) [[likely]] {
            // The usual end of a call: the context tracks the one output handed back and nothing
            // else. An array the context tracks is live and nobody's element, so nothing about it
            // needs checking.
            if (count == 1 && leaving->size() == 1 && leaving->first() == outputs[0]) [[likely]] {
                ArrayContext* enclosing = leaving->previous();
                leaving->handOver(outputs[0], *enclosing);
                popArrays(leaving, enclosing);
                return;
            }
            if ((outputs || count == 0) && leaveKeepingAll(outputs, count)) return;
        }
        leaveArrayLists(token, outputs, count, keep);
    }
    void restoreAllocList(void* token) {
        // Most calls allocate no memory blocks.
        AllocContext* leaving = m_blocks;
        if (leaving->previous() == token && leaving->size() == 0) [[likely]] {
            m_blocks = static_cast<AllocContext*>(token);
            leaving->reenter(m_spareBlocks);
            m_spareBlocks = leaving;
            m_lastBlocksNone = true;
            return;
        }
        leaveAllocLists(token);
    }

    // The two contexts of a module call (host::ryEnterModuleCall, ryLeaveModuleCall) in the usual
    // case, with nothing to allocate or free: entered from spares, both; left when the array
    // context tracks nothing but the one output handed back (or nothing, with none kept) and the
    // allocation context nothing at all. False, with nothing done, otherwise.
    // Every field read once, before anything is written: the tokens go to the caller's record,
    // which the compiler cannot tell from these fields.
    bool enterCallFromSpares(void*& blocks, void*& arrays) noexcept {
        AllocContext* spareBlocks = m_spareBlocks;
        ArrayContext* spareArrays = m_spareArrays;
        if (!spareBlocks || !spareArrays) [[unlikely]]
            return false;
        AllocContext* currentBlocks = m_blocks;
        ArrayContext* currentArrays = m_arrays;
        m_spareBlocks = spareBlocks->previous();
        m_spareArrays = spareArrays->previous();
        spareBlocks->reenter(currentBlocks);
        spareArrays->reenter(currentArrays);
        m_blocks = spareBlocks;
        m_arrays = spareArrays;
        blocks = currentBlocks;
        arrays = currentArrays;
        return true;
    }
    bool leaveCallQuickly(void* blocks, void* arrays, ryArray** outputs, int count) noexcept {
        ArrayContext* leavingArrays = m_arrays;
        AllocContext* leavingBlocks = m_blocks;
        if (leavingArrays->previous() != arrays || leavingBlocks->previous() != blocks || leavingBlocks->size() != 0)
            [[unlikely]]
            return false;
        const std::size_t tracked = leavingArrays->size();
        // A tracked array is live and nobody's element, so the output needs no check of its own.
        const bool onlyTheOutput = count == 1 && tracked == 1 && leavingArrays->first() == outputs[0];
        if (!onlyTheOutput && (tracked != 0 || count != 0)) [[unlikely]]
            return false;
        ArrayContext* enclosing = leavingArrays->previous();
        if (tracked) leavingArrays->handOver(outputs[0], *enclosing);
        popArrays(leavingArrays, enclosing);
        m_blocks = static_cast<AllocContext*>(blocks);
        leavingBlocks->reenter(m_spareBlocks);
        m_spareBlocks = leavingBlocks;
        m_lastBlocksNone = true;
        return true;
    }

    ContextReport lastArrays() const noexcept { return m_lastArraysNone ? ContextReport{} : m_lastArrays; }
    ContextReport lastBlocks() const noexcept { return m_lastBlocksNone ? ContextReport{} : m_lastBlocks; }
    ContextReport total() const noexcept { return m_total; }
    void resetReports() noexcept {
        m_lastArrays = m_lastBlocks = m_total = {};
        m_lastArraysNone = m_lastBlocksNone = true;
    }
    std::size_t arrayDepth() const noexcept;
    std::size_t allocDepth() const noexcept;

private:
    // Makes the first spare context current, entered from the current one; false when there is
    // none.
    template <class Context>
    static bool enterSpare(Context*& current, Context*& spares) noexcept {
        if (!spares) return false;
        takeSpare(current, spares);
        return true;
    }
    // The same when there is a spare.
    template <class Context>
    static void takeSpare(Context*& current, Context*& spares) noexcept {
        Context* spare = spares;
        spares = spare->previous();
        spare->reenter(current);
        current = spare;
    }
    void* enterNewArrayList();
    void* enterNewAllocList();
    // Leaves the innermost context when all it tracks is the one output, if any (the usual end
    // of a call: it made nothing else, or released it); false, with nothing done, otherwise.
    bool leaveKeepingAll(ryArray** outputs, int count) noexcept {
        if (count > 1) return false;
        ArrayContext* leaving = m_arrays;
        std::size_t kept = 0;
        if (count == 1 && isLiveArray(outputs[0])) {
            // An element handed back is copied: that is the general path's work.
            if (outputs[0]->m_parent) return false;
            kept = outputs[0]->m_context == leaving;
        }
        if (leaving->size() != kept) return false;
        ArrayContext* enclosing = leaving->previous();
        if (kept) leaving->handOver(outputs[0], *enclosing);
        popArrays(leaving, enclosing);
        return true;
    }
    // `leaving`, empty now, was the innermost context: `enclosing` is again, and nothing was freed.
    void popArrays(ArrayContext* leaving, ArrayContext* enclosing) noexcept {
        m_arrays = enclosing;
        leaving->reenter(m_spareArrays);
        m_spareArrays = leaving;
        m_lastArraysNone = true;
    }
    void leaveArrayLists(void* token, ryArray** outputs, int count, bool keep);
    void leaveAllocLists(void* token);

    ArrayContext m_baseArrays{nullptr};
    AllocContext m_baseBlocks{nullptr};
    ArrayContext* m_arrays = &m_baseArrays;
    AllocContext* m_blocks = &m_baseBlocks;
    // Contexts that were left, empty, chained through previous(): every module call enters and
    // leaves two contexts, and taking them from here costs no allocation. The chains never hold
    // more than the deepest nesting seen.
    ArrayContext* m_spareArrays = nullptr;
    AllocContext* m_spareBlocks = nullptr;
    void setLastArrays(const ContextReport& report) noexcept {
        m_lastArrays = report;
        m_lastArraysNone = false;
    }
    void setLastBlocks(const ContextReport& report) noexcept {
        m_lastBlocks = report;
        m_lastBlocksNone = false;
    }
    ContextReport m_lastArrays, m_lastBlocks, m_total;
    // Set by an exit that freed nothing, in place of writing the report empty: every module call
    // leaves two contexts, nearly always freeing nothing.
    bool m_lastArraysNone = true;
    bool m_lastBlocksNone = true;
};

// The contexts of the calling thread's engine (created on first use, destroyed with the engine).
// Every array made and every context entered or left asks for these; the thread remembers the
// engine it asked for last and that engine's contexts, good while that engine is still the
// current one: contexts that go make every thread forget them (an engine made later at the same
// address has contexts of its own).
EngineContexts& findEngineContexts(ThreadBlock& thread, const void* engine);
inline EngineContexts& engineContexts(ThreadBlock& thread) {
    const void* engine = &vhost::currentEngine();
    if (thread.engine.load(std::memory_order_relaxed) == engine) [[likely]]
        return *thread.contexts.load(std::memory_order_relaxed);
    return findEngineContexts(thread, engine);
}
inline EngineContexts& engineContexts() { return engineContexts(threadBlock()); }

}  // namespace vhost::ry
