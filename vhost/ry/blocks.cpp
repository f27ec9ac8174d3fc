#include "vhost/ry/blocks.hpp"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "vhost/ry/thread_block.hpp"

namespace vhost::ry {
namespace {

bool fits(std::size_t size) noexcept { return size <= std::numeric_limits<std::size_t>::max() - sizeof(BlockHeader); }

}  // namespace

void* allocateBlock(std::size_t size, bool zeroed) noexcept {
    if (!fits(size)) return nullptr;
    void* raw = zeroed ? std::calloc(1, sizeof(BlockHeader) + size) : std::malloc(sizeof(BlockHeader) + size);
    if (!raw) return nullptr;
    auto* header = static_cast<BlockHeader*>(raw);
    *header = BlockHeader{nullptr, nullptr, nullptr, size};
    addTo(threadBlock().counts, static_cast<std::int64_t>(size));
    return dataOf(header);
}

void* reallocateBlock(void* data, std::size_t size, bool zeroTail) noexcept {
    if (!data) return allocateBlock(size, zeroTail);
    if (!fits(size)) return nullptr;
    BlockHeader* header = headerOf(data);
    const std::size_t old = header->size;
    auto* moved = static_cast<BlockHeader*>(std::realloc(header, sizeof(BlockHeader) + size));
    if (!moved) return nullptr;
    moved->size = size;
    if (zeroTail && size > old) std::memset(reinterpret_cast<char*>(dataOf(moved)) + old, 0, size - old);
    addTo(threadBlock().counts, static_cast<std::int64_t>(size) - static_cast<std::int64_t>(old));
    return dataOf(moved);
}

void freeBlock(void* data) noexcept {
    if (!data) return;
    BlockHeader* header = headerOf(data);
    addTo(threadBlock().counts, -static_cast<std::int64_t>(header->size));
    std::free(header);
}

std::size_t liveBlockBytes() noexcept { return static_cast<std::size_t>(sumOfThreadCounts().bytes); }

}  // namespace vhost::ry
