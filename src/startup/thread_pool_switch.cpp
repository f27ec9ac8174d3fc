#include "startup/thread_pool_switch.hpp"

#include <atomic>

namespace orb::startup {

namespace {
// Constant-initialised, so it is false before any static initialiser of the process runs.
constinit std::atomic<bool> g_threadPoolCppOrb{false};
}  // namespace

bool isThreadPoolCppOrbEnabled() noexcept { return g_threadPoolCppOrb.load(); }

void setThreadPoolCppOrb(int value) noexcept { g_threadPoolCppOrb.store(value != 0); }

}  // namespace orb::startup
