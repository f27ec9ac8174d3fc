// Memory a free list keeps for reuse, marked unreadable while it waits under the address
// sanitizer: a use after release is reported as it would be had the memory been freed. Without
// the sanitizer both marks are nothing.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define ORB_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define ORB_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define ORB_POISON(address, size) ((void)(address), (void)(size))
#define ORB_UNPOISON(address, size) ((void)(address), (void)(size))
#endif
