// Address space and thread ends on POSIX: anonymous private mappings and a thread-specific key.
#include "vhost/platform/address_space.hpp"

#include <sys/mman.h>

#include <pthread.h>

#include <type_traits>

namespace vhost::platform {

static_assert(std::is_same_v<pthread_key_t, unsigned>, "the hook keeps its key as an unsigned");

void* reserveAddressRange(std::size_t bytes) noexcept {
    void* range = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return range == MAP_FAILED ? nullptr : range;
}

ThreadExitHook::ThreadExitHook(void (*hook)(void* value)) noexcept {
    pthread_key_t key{};
    ::pthread_key_create(&key, hook);
    m_key = key;
}

void ThreadExitHook::arm(void* value) noexcept { ::pthread_setspecific(m_key, value); }

}  // namespace vhost::platform
