#include "vhost/ry/blocks.hpp"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace vhost::ry {
namespace {

std::atomic<std::size_t> g_liveBytes{0};

bool fits(std::size_t size) noexcept { return size <= std::numeric_limits<std::size_t>::max() - sizeof(BlockHeader); }

}  // namespace

void* allocateBlock(std::size_t size, bool zeroed) noexcept {
    if (!fits(size)) return nullptr;
    void* raw = zeroed ? std::calloc(1, sizeof(BlockHeader) + size) : std::malloc(sizeof(BlockHeader) + size);
    if (!raw) return nullptr;
    auto* header = static_cast<BlockHeader*>(raw);
    *header = BlockHeader{nullptr, nullptr, nullptr, size};
    g_liveBytes.fetch_add(size, std::memory_order_relaxed);
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
    g_liveBytes.fetch_add(size, std::memory_order_relaxed);
    g_liveBytes.fetch_sub(old, std::memory_order_relaxed);
    return dataOf(moved);
}

void freeBlock(void* data) noexcept {
    if (!data) return;
    BlockHeader* header = headerOf(data);
    g_liveBytes.fetch_sub(header->size, std::memory_order_relaxed);
    std::free(header);
}

std::size_t liveBlockBytes() noexcept { return g_liveBytes.load(std::memory_order_relaxed); }

}  // namespace vhost::ry
