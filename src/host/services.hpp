// Host services: named features, tasks mode, task constraints and impersonation.
#pragma once

#include <string>

#include "host/host_api.hpp"

namespace host {

// A feature is a named switch the host user can set (and, where a query handler is given, read).
using FeatureSetter = void (*)(int value);
using FeatureQuery = int (*)();

// Registers `name`; registering a name twice replaces its handlers. Any thread.
HOST_API void svRegisterFeature(const std::string& name, int flags, FeatureSetter setter, FeatureQuery query);
// Sets a registered feature by calling its setter on the calling thread; false when unknown.
HOST_API bool svSetFeature(const std::string& name, int value);
// Whether `name` is registered, and how many times it has been registered.
HOST_API int svFeatureRegistrationCount(const std::string& name);

// Whether the host runs module calls as background tasks (tasks mode).
HOST_API bool svIsTasksMode();

// Records that `name`, which background tasks may not call, was called; `kind` says what it is
// ("orb" for a module function).
HOST_API void logDisallowedTaskBuiltin(const std::string& name, const std::string& kind);

// Constructed around every call of a module entry point: the module runs with the process's
// own identity, not an impersonated one. Nothing to revert on POSIX hosts.
class HOST_API RevertImpersonationGuard {
public:
    RevertImpersonationGuard();
    ~RevertImpersonationGuard();
    RevertImpersonationGuard(const RevertImpersonationGuard&) = delete;
    RevertImpersonationGuard& operator=(const RevertImpersonationGuard&) = delete;
};

}  // namespace host
