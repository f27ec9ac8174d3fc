// Memory the array library hands to callers: blocks that are live (known to the registry) and,
// unless made persistent, tracked by the current allocation-list context.
#pragma once

#include <cstddef>

namespace vhost::ry {

// Null when the size overflows or memory runs out.
void* callerAllocate(std::size_t size, bool zeroed);
// As callerAllocate, but untracked: the caller frees it explicitly.
void* callerAllocateUntracked(std::size_t size, bool zeroed);
// realloc for caller blocks: null `data` allocates; size 0 frees and answers null; a pointer
// that is not a live caller block answers null and is left alone. Tracking is kept.
void* callerReallocate(void* data, std::size_t size);
// Frees a live caller block; anything else (null, freed already, not ours) is ignored.
void callerFree(void* data) noexcept;
// Stops tracking a live caller block: it is never freed automatically.
void makePersistent(void* data) noexcept;
// Takes a caller block over as array data: it stops being a caller block. Raises
// "VELTRA:ry:notHostMemory" when `data` is not a live caller block and "VELTRA:ry:bufferTooSmall"
// when it holds fewer than `needed` bytes.
void* adoptCallerBlock(void* data, std::size_t needed);

}  // namespace vhost::ry
