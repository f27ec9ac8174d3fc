#include <cstdlib>

#include "host/ut.hpp"

namespace host {

// calloc checks count*size for overflow and answers null, which is the contract.
void* utCalloc(std::size_t count, std::size_t size) { return std::calloc(count, size); }
void utFree(void* pointer) { std::free(pointer); }

}  // namespace host
