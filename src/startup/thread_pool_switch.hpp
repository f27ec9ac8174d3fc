// The process-wide switch that lets C++ modules run on the host's thread pool.
// Off until the host user sets the feature "ThreadPoolCppOrb"; read by thread-pool admission.
#pragma once

#include "platform/export.hpp"

namespace orb::startup {

inline constexpr const char* kThreadPoolFeatureName = "ThreadPoolCppOrb";

// Any thread; the switch is exchanged atomically.
ORB_API bool isThreadPoolCppOrbEnabled() noexcept;
// The feature's setter: stores value != 0.
ORB_API void setThreadPoolCppOrb(int value) noexcept;

}  // namespace orb::startup
