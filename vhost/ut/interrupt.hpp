// The process's user-interrupt request (host::utInterruptState), for the array library, which
// hands its address to the call frame as a module call begins: every module call reads it twice.
#pragma once

#include <atomic>

namespace vhost::ut {

extern std::atomic<bool> g_interruptRequest;

}  // namespace vhost::ut
