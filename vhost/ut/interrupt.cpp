// A user interrupt is a process-wide request: Ctrl-C reaches the process, not one engine. The
// first safe point that sees it raises it and consumes it.
#include "vhost/ut/interrupt.hpp"

#include "host/exceptions.hpp"
#include "host/ut.hpp"

namespace vhost::ut {
std::atomic<bool> g_interruptRequest{false};
}

namespace host {

using vhost::ut::g_interruptRequest;

void utInterruptState::SetInterruptPending(bool pending) { g_interruptRequest.store(pending); }
bool utInterruptState::IsInterruptPending() { return g_interruptRequest.load(); }

void utInterruptState::ThrowIfInterruptPending() {
    if (g_interruptRequest.exchange(false)) throw MessageIdException("VELTRA", "interrupt", {});
}

}  // namespace host
