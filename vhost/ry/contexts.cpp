#include "vhost/ry/contexts.hpp"

#include "host/storage.hpp"
#include "vhost/engine/engine.hpp"
#include "vhost/ry/array.hpp"
#include "vhost/ry/lifetime.hpp"
#include "vhost/ry/registry.hpp"
#include "vhost/ry/thread_block.hpp"

namespace vhost::ry {

// --- array-list contexts --------------------------------------------------------------------

// --- allocation-list contexts ---------------------------------------------------------------

void AllocContext::link(BlockHeader* block) noexcept {
    block->context = this;
    block->prev = nullptr;
    block->next = m_head;
    if (m_head) m_head->prev = block;
    m_head = block;
    ++m_size;
}

void AllocContext::unlink(BlockHeader* block) noexcept {
    AllocContext* context = block->context;
    if (!context) return;
    if (block->prev) block->prev->next = block->next;
    else context->m_head = block->next;
    if (block->next) block->next->prev = block->prev;
    block->context = nullptr;
    block->prev = block->next = nullptr;
    --context->m_size;
}

void AllocContext::takeAll(AllocContext& other) noexcept {
    while (BlockHeader* block = other.m_head) {
        unlink(block);
        link(block);
    }
}

ContextReport AllocContext::freeAll() noexcept {
    ContextReport report;
    while (BlockHeader* block = m_head) {
        unlink(block);
        void* data = dataOf(block);
        registry::removeBlock(data);
        report.blocks += 1;
        report.bytes += block->size;
        freeBlock(data);
    }
    return report;
}

// --- the engine's stacks --------------------------------------------------------------------

namespace {

// Destroys every array the context tracks. An array that will not destroy (it cannot happen for
// a tracked array, which is always live) is dropped from the context so the loop ends.
void destroyTracked(ArrayContext& context, ContextReport& report) noexcept {
    while (ryArray* array = context.first())
        if (!destroyArray(array, &report)) ArrayContext::unlink(array);
}

template <class Context>
Context* contextAbove(Context* current, void* token) noexcept {
    for (Context* c = current; c; c = c->previous())
        if (c->previous() == token) return c;
    return nullptr;
}

// A spare context if there is one, else a new one, entered above `current`.
template <class Context>
Context* enterAbove(Context*& current, Context*& spares) {
    Context* previous = current;
    Context* context = spares;
    if (context) {
        spares = context->previous();
        context->reenter(previous);
    } else {
        context = new Context(previous);
    }
    current = context;
    return previous;
}

// `context` has been emptied and popped; it waits for the next entry.
template <class Context>
void keepSpare(Context* context, Context*& spares) noexcept {
    context->reenter(spares);
    spares = context;
}

template <class Context>
void deleteSpares(Context* spares) noexcept {
    while (Context* context = spares) {
        spares = context->previous();
        delete context;
    }
}

}  // namespace

EngineContexts::~EngineContexts() {
    // No thread uses contexts it remembers from before (see engineContexts()).
    forgetContexts(this);
    while (m_arrays != &m_baseArrays) {
        ArrayContext* inner = m_arrays;
        m_arrays = inner->previous();
        m_arrays->takeAll(*inner);
        delete inner;
    }
    while (m_blocks != &m_baseBlocks) {
        AllocContext* inner = m_blocks;
        m_blocks = inner->previous();
        m_blocks->takeAll(*inner);
        delete inner;
    }
    deleteSpares(m_spareArrays);
    deleteSpares(m_spareBlocks);
    ContextReport ignored;
    destroyTracked(m_baseArrays, ignored);
    m_baseBlocks.freeAll();
}

void* EngineContexts::enterNewArrayList() { return enterAbove(m_arrays, m_spareArrays); }

void* EngineContexts::enterNewAllocList() { return enterAbove(m_blocks, m_spareBlocks); }

void EngineContexts::leaveArrayLists(void* token, ryArray** outputs, int count, bool keep) {
    ArrayContext* leaving = contextAbove(m_arrays, token);
    if (!leaving) return;  // a token of no context on this stack: nothing was entered with it
    while (m_arrays != leaving) {
        ArrayContext* inner = m_arrays;
        m_arrays = inner->previous();
        m_arrays->takeAll(*inner);
        keepSpare(inner, m_spareArrays);
    }
    ArrayContext* enclosing = leaving->previous();
    if (keep && outputs) {
        for (int i = 0; i < count; ++i) {
            ryArray* output = outputs[i];
            if (!isLiveArray(output)) continue;
            if (output->m_parent) {
                // An element of another array is not the caller's to own: it gets its own copy.
                ryArray* copy = sharedCopy(output);
                enclosing->link(copy);
                outputs[i] = copy;
            } else if (output->m_context == leaving) {
                ArrayContext::unlink(output);
                enclosing->link(output);
            }
        }
    }
    ContextReport report;
    destroyTracked(*leaving, report);
    m_arrays = enclosing;
    keepSpare(leaving, m_spareArrays);
    setLastArrays(report);
    m_total += report;
}

void EngineContexts::leaveAllocLists(void* token) {
    AllocContext* leaving = contextAbove(m_blocks, token);
    if (!leaving) return;
    while (m_blocks != leaving) {
        AllocContext* inner = m_blocks;
        m_blocks = inner->previous();
        m_blocks->takeAll(*inner);
        keepSpare(inner, m_spareBlocks);
    }
    ContextReport report = leaving->freeAll();
    m_blocks = leaving->previous();
    keepSpare(leaving, m_spareBlocks);
    setLastBlocks(report);
    m_total += report;
}

std::size_t EngineContexts::arrayDepth() const noexcept {
    std::size_t depth = 0;
    for (const ArrayContext* c = m_arrays; c != &m_baseArrays; c = c->previous()) ++depth;
    return depth;
}

std::size_t EngineContexts::allocDepth() const noexcept {
    std::size_t depth = 0;
    for (const AllocContext* c = m_blocks; c != &m_baseBlocks; c = c->previous()) ++depth;
    return depth;
}

EngineContexts& findEngineContexts(ThreadBlock& thread, const void* engine) {
    static const host::storage::Key key = host::storage::getNextID(typeid(EngineContexts));
    EngineContexts& contexts = host::storage::getOrCreate<EngineContexts>(key);
    thread.contexts.store(&contexts, std::memory_order_relaxed);
    thread.engine.store(engine, std::memory_order_relaxed);
    return contexts;
}

// --- reports --------------------------------------------------------------------------------

ContextReport lastArrayListReport() { return engineContexts().lastArrays(); }
ContextReport lastAllocListReport() { return engineContexts().lastBlocks(); }
ContextReport lastContextReport() {
    EngineContexts& contexts = engineContexts();
    ContextReport report = contexts.lastArrays();
    report += contexts.lastBlocks();
    return report;
}
ContextReport totalContextReport() { return engineContexts().total(); }
void resetContextReports() { engineContexts().resetReports(); }
std::size_t arrayListDepth() { return engineContexts().arrayDepth(); }
std::size_t allocListDepth() { return engineContexts().allocDepth(); }

LiveCounts liveCounts() {
    const ThreadCounts sum = sumOfThreadCounts();
    return {static_cast<std::size_t>(sum.arrays), registry::blockCount(), static_cast<std::size_t>(sum.bytes)};
}

}  // namespace vhost::ry
