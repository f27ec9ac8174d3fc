// Text conversion for C++ modules, and the release of blocks this library hands them.
//
// A C++ module talks to the services in UTF-16 but usually holds UTF-8 itself. The converters
// return a new NUL-terminated block from the C heap, which the module gives back through either
// destroy function or orbReleaseMemory (all three release with free and accept each other's
// blocks). The error value is written only on failure, so callers set it to 0 first:
//   1  the input was not valid text for its encoding; the output is still a new, empty block
//   2  the result block could not be allocated; the output is not written
// A null input counts as invalid text (1, an empty block); a null output is refused with 1 and
// nothing is allocated; a null error pointer is never written.
// No exception leaves these functions. They do not touch any engine and may run on any thread.
#pragma once

#include <cstdint>

#include "platform/export.hpp"

extern "C" {
ORB_API void orb_engine_utf16_to_utf8(const char16_t* input, char** output, std::uint64_t* error);
ORB_API void orb_engine_utf8_to_utf16(const char* input, char16_t** output, std::uint64_t* error);
ORB_API void orb_engine_destroy_utf16(void* block);
ORB_API void orb_engine_destroy_utf8(void* block);
// Releases both blocks, first then second; either may be null.
ORB_API void orbReleaseMemory(void* first, void* second);
}
