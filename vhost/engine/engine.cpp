#include "vhost/engine/engine.hpp"

#include "host/engine.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace vhost {

namespace detail {
__thread Engine* t_boundEngine __attribute__((tls_model("initial-exec"))) = nullptr;
std::atomic<Engine*> g_defaultEngine{nullptr};
}  // namespace detail

namespace {

std::atomic<std::uint64_t> g_nextEngineId{1};
using detail::g_defaultEngine;
using detail::t_boundEngine;

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

Engine::~Engine() {
    EngineScope scope(*this);
    // Work that will never run hears so now, in posting order; what that posts is abandoned too.
    Posted next;
    while (takeNext(next)) {
        next.abandon();
        next = Posted{};
    }
}

bool Engine::takeNext(Posted& next) {
    if (m_next == m_taken.size() && !takeBatch()) return false;
    next = std::move(m_taken[m_next++]);
    return true;
}

bool Engine::takeBatch() {
    // A batch larger than this gives its room back once it has run.
    constexpr std::size_t kKeptRoom = 1024;
    m_taken.clear();
    if (m_taken.capacity() > kKeptRoom) std::vector<Posted>().swap(m_taken);
    m_next = 0;
    ObjectAction atEnd;
    void* context;
    {
        std::lock_guard lock(m_postedMutex);
        atEnd = m_batchEnd;
        context = m_batchEndContext;
        if (!m_posted.empty()) m_taken.swap(m_posted);
    }
    if (atEnd) atEnd(context);
    return !m_taken.empty();
}

void Engine::setBatchEnd(ObjectAction atEnd, void* context) {
    std::lock_guard lock(m_postedMutex);
    m_batchEnd = atEnd;
    m_batchEndContext = context;
}

bool Engine::push(Posted posted, const std::atomic<int>* closed) {
    bool first;
    {
        std::lock_guard lock(m_postedMutex);
        // Ordered by the lock: raised before a lister's lock, it is seen here; else the lister
        // finds this entry.
        if (closed && closed->load(std::memory_order_relaxed) != 0) return false;
        first = m_posted.empty();
        m_posted.push_back(std::move(posted));
    }
    // A waiter sleeps only on an empty queue: the post that made it non-empty woke it, and the
    // posts after that find it awake or about to take the batch.
    if (first) m_postedChanged.notify_all();
    return true;
}

void Engine::post(std::function<void()> task) {
    using Task = std::function<void()>;
    push(Posted{std::make_shared<Task>(std::move(task)), [](void* task) { (*static_cast<Task*>(task))(); }, nullptr});
}

void Engine::post(std::shared_ptr<PostedWork> work) {
    push(Posted{std::move(work), [](void* work) { static_cast<PostedWork*>(work)->run(); },
                [](void* work) { static_cast<PostedWork*>(work)->abandon(); }});
}

bool Engine::post(std::shared_ptr<void> object, ObjectAction run, ObjectAction abandon,
                  const std::atomic<int>* closed) {
    return push(Posted{std::move(object), run, abandon}, closed);
}

std::vector<std::shared_ptr<void>> Engine::pendingObjects(ObjectAction run) {
    std::vector<std::shared_ptr<void>> found;
    for (std::size_t i = m_next; i < m_taken.size(); ++i)
        if (m_taken[i].runObject == run) found.push_back(m_taken[i].object);
    std::lock_guard lock(m_postedMutex);
    for (const Posted& posted : m_posted)
        if (posted.runObject == run) found.push_back(posted.object);
    return found;
}

bool Engine::runPosted() {
    EngineActivity serving(*this, {});
    EngineScope scope(*this);
    bool ran = false;
    while (m_next < m_taken.size() || takeBatch()) {
        // Moved out of the batch: a nested call (a task that waits and pumps) may finish the
        // batch and clear it while this one runs.
        Posted next = std::move(m_taken[m_next++]);
        next.run();
        ran = true;
    }
    return ran;
}

void Engine::notifyWaiters() {
    {
        std::lock_guard lock(m_postedMutex);
        ++m_wakeups;
    }
    m_postedChanged.notify_all();
}

void Engine::pumpUntil(const std::function<bool()>& done) {
    EngineActivity serving(*this, {});
    for (;;) {
        std::uint64_t seen;
        {
            std::lock_guard lock(m_postedMutex);
            seen = m_wakeups;
        }
        if (done()) return;
        if (runPosted()) continue;
        std::unique_lock lock(m_postedMutex);
        m_postedChanged.wait(lock, [&] { return m_wakeups != seen || !m_posted.empty(); });
    }
}

void Engine::publishHolder(std::string_view name) noexcept {
    // A sequence lock: odd while written; the release fence orders the odd number before the
    // characters, the final release store the characters before the even number.
    const std::uint32_t sequence = m_holderSequence.load(std::memory_order_relaxed);
    m_holderSequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    const std::size_t length = std::min(name.size(), kHolderRoom - 1);
    for (std::size_t i = 0; i < length; ++i) m_holder[i].store(name[i], std::memory_order_relaxed);
    m_holder[length].store('\0', std::memory_order_relaxed);
    m_holderSequence.store(sequence + 2, std::memory_order_release);
}

std::string Engine::heldBy() const {
    for (;;) {
        const std::uint32_t before = m_holderSequence.load(std::memory_order_acquire);
        if (before & 1u) {
            std::this_thread::yield();
            continue;
        }
        std::array<char, kHolderRoom> name{};
        std::size_t length = 0;
        while (length < kHolderRoom && (name[length] = m_holder[length].load(std::memory_order_relaxed)) != '\0') ++length;
        std::atomic_thread_fence(std::memory_order_acquire);
        if (m_holderSequence.load(std::memory_order_relaxed) == before) return std::string(name.data(), length);
    }
}

EngineActivity::EngineActivity(Engine& engine, std::string_view functionName)
    : m_engine(engine.isSignalThread() ? &engine : nullptr) {
    if (!m_engine) return;
    m_length = std::min(functionName.size(), m_name.size());
    std::copy_n(functionName.data(), m_length, m_name.data());
    m_outer = std::exchange(m_engine->m_activity, this);
    m_engine->publishHolder(name());
}

EngineActivity::~EngineActivity() {
    if (!m_engine) return;
    m_engine->m_activity = m_outer;
    m_engine->publishHolder(m_outer ? m_outer->name() : std::string_view());
}

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
    // Destroyed at process exit like any static; its records go with it. Published once, by the
    // thread that made it: this runs for every storage look-up of a thread without an engine.
    static Engine& engine = []() -> Engine& {
        static Engine made("default");
        g_defaultEngine.store(&made, std::memory_order_release);
        return made;
    }();
    return engine;
}

Engine* existingDefaultEngine() noexcept { return g_defaultEngine.load(std::memory_order_acquire); }

}  // namespace vhost

// Here rather than with the rest of the storage: most services ask, and the bound engine is one
// load away.
void* host::storage::pinned() {
    vhost::Engine* engine = vhost::detail::t_boundEngine;
    if (!engine) engine = vhost::detail::g_defaultEngine.load(std::memory_order_acquire);
    if (!engine) [[unlikely]]
        engine = &vhost::defaultEngine();
    return engine->storage().pinned();
}
void host::storage::pin(void* record) { vhost::currentEngine().storage().pin(record); }
