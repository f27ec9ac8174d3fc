// The process's record of live arrays and of live blocks handed to callers.
//
// Modules hold raw handles. Destroying or freeing anything goes through here first, so that a
// handle that is no longer live (destroyed twice, freed twice, or never ours) is ignored instead
// of corrupting the heap. Any thread.
#pragma once

#include <cstddef>

#include <ry_types.h>

namespace vhost::ry::registry {

void addArray(const ryArray* array);
// False when the array was not live.
bool removeArray(const ryArray* array) noexcept;
bool hasArray(const ryArray* array) noexcept;

// Blocks handed to callers (ryCalloc and friends); data buffers inside arrays are not here.
void addBlock(const void* data);
bool removeBlock(const void* data) noexcept;
bool hasBlock(const void* data) noexcept;

std::size_t arrayCount() noexcept;
std::size_t blockCount() noexcept;

}  // namespace vhost::ry::registry
