// The engine's face toward the runtime's C++ interface (host::HostEngine): how requests from C++
// modules reach the host language.
//
// Each engine gets one HostEngine, made on first use by the factory installed here. The factory
// lives outside this library because running a request converts data arrays, which belong to the
// separate data-array library (vhost/boot installs it).
#pragma once

#include <functional>
#include <memory>

#include "host/engine.hpp"
#include "host/host_api.hpp"
#include "vhost/engine/engine.hpp"

namespace vhost {

using HostEngineFactory = std::function<std::shared_ptr<host::HostEngine>(Engine&)>;

// Installs the factory for engines that have no HostEngine yet. Any thread.
HOST_API void setHostEngineFactory(HostEngineFactory factory);

// The HostEngine of `engine`, made on first use; null when no factory is installed.
HOST_API std::shared_ptr<host::HostEngine> hostEngineOf(Engine& engine);

}  // namespace vhost
