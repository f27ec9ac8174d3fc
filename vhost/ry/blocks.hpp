// Memory blocks of the array library.
//
// Every piece of memory the library hands to a module (ryCalloc, ryMalloc, converted strings)
// and every data buffer inside an array is a block: one malloc'd region with a small header in
// front of the caller's bytes. The header links the block into the allocation-list context that
// tracks it, so leaving a context frees all its blocks in one walk and freeing one block is O(1).
// Because arrays use the same blocks, a buffer a module allocated can be handed to an array
// (rySetPr and friends) and later freed by the array.
#pragma once

#include <cstddef>

namespace vhost::ry {

class AllocContext;

struct BlockHeader {
    BlockHeader* prev;
    BlockHeader* next;
    AllocContext* context;  // the tracking context; null when untracked
    std::size_t size;       // bytes the caller asked for
};
static_assert(sizeof(BlockHeader) % alignof(std::max_align_t) == 0,
              "the caller's bytes must keep malloc's alignment");

// A new untracked block of `size` bytes (zeroed when asked); null when memory runs out or the
// size overflows with the header.
void* allocateBlock(std::size_t size, bool zeroed) noexcept;
// Resizes an untracked block (content kept up to the smaller size, the new tail zeroed when
// asked); null and `data` unchanged on failure.
void* reallocateBlock(void* data, std::size_t size, bool zeroTail) noexcept;
// Frees an untracked block; null is a no-op.
void freeBlock(void* data) noexcept;

inline BlockHeader* headerOf(void* data) noexcept { return static_cast<BlockHeader*>(data) - 1; }
inline const BlockHeader* headerOf(const void* data) noexcept { return static_cast<const BlockHeader*>(data) - 1; }
inline void* dataOf(BlockHeader* header) noexcept { return header + 1; }

// Bytes held in blocks by the whole process right now (module memory and array data, the data
// records' own small buffers included).
std::size_t liveBlockBytes() noexcept;

}  // namespace vhost::ry
