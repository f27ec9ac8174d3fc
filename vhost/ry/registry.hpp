// The process's record of live blocks handed to callers (ryCalloc and friends, converted
// strings); data buffers inside arrays are not here, and arrays are told live by their tag
// (array.hpp).
//
// Modules hold raw pointers. Freeing memory goes through here first, so that a pointer that is no
// longer live (freed twice, or never ours) is ignored instead of corrupting the heap. Any thread.
#pragma once

#include <cstddef>

namespace vhost::ry::registry {

// Throws std::bad_alloc when the record cannot grow.
void addBlock(const void* data);
// False when the block was not live.
bool removeBlock(const void* data) noexcept;
bool hasBlock(const void* data) noexcept;

std::size_t blockCount() noexcept;

}  // namespace vhost::ry::registry
