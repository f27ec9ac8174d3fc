// ry.h: memory owned by the running call.
#include <limits>

#include "vhost/ry/capi.hpp"
#include "vhost/ry/memory.hpp"

using namespace vhost::ry;

extern "C" {

void* ryCalloc(size_t count, size_t size) {
    if (size != 0 && count > std::numeric_limits<size_t>::max() / size) return nullptr;
    return callerAllocate(count * size, true);
}

void* ryMalloc(size_t size) { return callerAllocate(size, false); }
void* ryRealloc(void* pointer, size_t size) { return callerReallocate(pointer, size); }
void ryFree(void* pointer) { callerFree(pointer); }

}  // extern "C"
