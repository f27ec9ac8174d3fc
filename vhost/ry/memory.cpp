#include "vhost/ry/memory.hpp"

#include "vhost/ry/blocks.hpp"
#include "vhost/ry/contexts.hpp"
#include "vhost/ry/raise.hpp"
#include "vhost/ry/registry.hpp"

namespace vhost::ry {

void* callerAllocateUntracked(std::size_t size, bool zeroed) {
    void* data = allocateBlock(size, zeroed);
    if (!data) return nullptr;
    try {
        registry::addBlock(data);
    } catch (...) {
        freeBlock(data);
        return nullptr;
    }
    return data;
}

void* callerAllocate(std::size_t size, bool zeroed) {
    AllocContext& context = engineContexts().blocks();
    void* data = callerAllocateUntracked(size, zeroed);
    if (data) context.link(headerOf(data));
    return data;
}

void* callerReallocate(void* data, std::size_t size) {
    if (!data) return callerAllocate(size, false);
    if (!registry::hasBlock(data)) return nullptr;
    if (size == 0) {
        callerFree(data);
        return nullptr;
    }
    BlockHeader* header = headerOf(data);
    AllocContext* context = header->context;
    AllocContext::unlink(header);
    void* moved = reallocateBlock(data, size, false);
    if (!moved) {
        if (context) context->link(header);
        return nullptr;
    }
    if (moved != data) {
        registry::removeBlock(data);
        try {
            registry::addBlock(moved);
        } catch (...) {
            freeBlock(moved);
            return nullptr;
        }
    }
    if (context) context->link(headerOf(moved));
    return moved;
}

void callerFree(void* data) noexcept {
    if (!data || !registry::removeBlock(data)) return;
    AllocContext::unlink(headerOf(data));
    freeBlock(data);
}

void makePersistent(void* data) noexcept {
    if (data && registry::hasBlock(data)) AllocContext::unlink(headerOf(data));
}

void* adoptCallerBlock(void* data, std::size_t needed) {
    if (!data || !registry::hasBlock(data)) raise("notHostMemory");
    const std::size_t size = headerOf(data)->size;
    if (size < needed) raise("bufferTooSmall", {static_cast<std::uint64_t>(size), static_cast<std::uint64_t>(needed)});
    registry::removeBlock(data);
    AllocContext::unlink(headerOf(data));
    return data;
}

}  // namespace vhost::ry
