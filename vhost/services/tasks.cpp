// Tasks mode and the record of functions that background tasks may not call.
#include <atomic>
#include <mutex>

#include "host/services.hpp"
#include "vhost/services/features.hpp"

namespace vhost {
namespace {

std::atomic<bool> g_tasksMode{false};
std::mutex g_disallowedMutex;
std::vector<DisallowedTaskBuiltin> g_disallowed;

}  // namespace

void setTasksMode(bool on) { g_tasksMode.store(on); }

std::vector<DisallowedTaskBuiltin> disallowedTaskBuiltins() {
    std::lock_guard lock(g_disallowedMutex);
    return g_disallowed;
}

void clearDisallowedTaskBuiltins() {
    std::lock_guard lock(g_disallowedMutex);
    g_disallowed.clear();
}

}  // namespace vhost

namespace host {

bool svIsTasksMode() { return vhost::g_tasksMode.load(); }

void logDisallowedTaskBuiltin(const std::string& name, const std::string& kind) {
    std::lock_guard lock(vhost::g_disallowedMutex);
    vhost::g_disallowed.push_back({name, kind});
}

// Threads of this host never take on another user's identity, so there is nothing to revert
// around a module call; the guard exists so that the call path is the same on every host.
RevertImpersonationGuard::RevertImpersonationGuard() = default;
RevertImpersonationGuard::~RevertImpersonationGuard() = default;

}  // namespace host
