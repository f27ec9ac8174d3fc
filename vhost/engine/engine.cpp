#include "vhost/engine/engine.hpp"

#include "host/engine.hpp"

#include <atomic>
#include <mutex>
#include <vector>

namespace vhost {
namespace {

std::atomic<std::uint64_t> g_nextEngineId{1};
thread_local Engine* t_boundEngine = nullptr;

struct Initializers {
    std::mutex mutex;
    std::vector<std::function<void(Engine&)>> list;
};

Initializers& initializers() {
    static Initializers all;
    return all;
}

}  // namespace

Engine::Engine(std::string name)
    : m_id(g_nextEngineId.fetch_add(1)),
      m_name(name.empty() ? "engine " + std::to_string(m_id) : std::move(name)),
      m_signalThread(std::this_thread::get_id()) {
    std::vector<std::function<void(Engine&)>> run;
    {
        std::lock_guard lock(initializers().mutex);
        run = initializers().list;
    }
    if (run.empty()) return;
    EngineScope scope(*this);
    for (const auto& initializer : run) initializer(*this);
}

void addEngineInitializer(std::function<void(Engine&)> initializer) {
    std::lock_guard lock(initializers().mutex);
    initializers().list.push_back(std::move(initializer));
}

Engine::~Engine() = default;

std::shared_ptr<host::HostEngine> Engine::hostEngine(
    const std::function<std::shared_ptr<host::HostEngine>(Engine&)>& make) {
    std::lock_guard lock(m_hostEngineMutex);
    if (!m_hostEngine && make) m_hostEngine = make(*this);
    return m_hostEngine;
}

EngineScope::EngineScope(Engine& engine) noexcept : m_previous(t_boundEngine) { t_boundEngine = &engine; }
EngineScope::~EngineScope() { t_boundEngine = m_previous; }

Engine* boundEngine() noexcept { return t_boundEngine; }

Engine& defaultEngine() {
    // Destroyed at process exit like any static; its records go with it.
    static Engine engine("default");
    return engine;
}

Engine& currentEngine() {
    if (Engine* bound = t_boundEngine) return *bound;
    return defaultEngine();
}

}  // namespace vhost
