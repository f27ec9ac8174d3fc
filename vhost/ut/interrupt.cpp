// A user interrupt is a process-wide request: Ctrl-C reaches the process, not one engine. The
// first safe point that sees it raises it and consumes it.
#include <atomic>

#include "host/exceptions.hpp"
#include "host/ut.hpp"

namespace host {
namespace {
std::atomic<bool> g_interruptPending{false};
}

void utInterruptState::SetInterruptPending(bool pending) { g_interruptPending.store(pending); }
bool utInterruptState::IsInterruptPending() { return g_interruptPending.load(); }

void utInterruptState::ThrowIfInterruptPending() {
    if (g_interruptPending.exchange(false)) throw MessageIdException("VELTRA", "interrupt", {});
}

}  // namespace host
