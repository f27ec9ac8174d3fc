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

// A moment's wait in a loop that looks at memory another thread writes.
inline void pauseBriefly() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}
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
    postedRun();
}

bool Engine::takeNext(Posted& next) {
    host::QueueLink* entry = unlinkOldest();
    if (!entry) return false;
    next = Posted{std::move(entry->object), entry->run, entry->abandon};
    if (entry->madeByQueue) delete entry;
    return true;
}

host::QueueLink* Engine::unlinkOldest() noexcept {
    host::QueueLink* oldest = m_oldest;
    host::QueueLink* after = oldest->next.load(std::memory_order_acquire);
    if (oldest == &m_empty) {
        if (!after) return nullptr;
        m_oldest = oldest = after;
        after = after->next.load(std::memory_order_acquire);
    }
    if (after) {
        m_oldest = after;
        return oldest;
    }
    // `oldest` is the last entry linked, unless a post has exchanged itself in and not linked
    // it yet: then it waits for that.
    if (m_newest.load(std::memory_order_acquire) != oldest) return nullptr;
    // The queue's own entry goes in behind it, so that the newest entry is never one taken.
    m_empty.next.store(nullptr, std::memory_order_relaxed);
    host::QueueLink* before = m_newest.exchange(&m_empty, std::memory_order_acq_rel);
    before->next.store(&m_empty, std::memory_order_release);
    after = oldest->next.load(std::memory_order_acquire);
    if (!after) return nullptr;  // a post came between: it links `oldest` to its entry soon
    m_oldest = after;
    return oldest;
}

void Engine::postedRun() {
    if (const ObjectAction atEnd = m_runEnd.load(std::memory_order_acquire))
        atEnd(m_runEndContext.load(std::memory_order_relaxed));
}

void Engine::setRunEnd(ObjectAction atEnd, void* context) {
    m_runEndContext.store(context, std::memory_order_relaxed);
    m_runEnd.store(atEnd, std::memory_order_release);
}

void Engine::link(host::QueueLink& entry) noexcept {
    entry.next.store(nullptr, std::memory_order_relaxed);
    host::QueueLink* before = m_newest.exchange(&entry, std::memory_order_seq_cst);
    before->next.store(&entry, std::memory_order_release);
    // A signal thread sleeps only after it saw the queue empty (both ends at the queue's own
    // entry) under the mutex: taking the mutex here means it is either not asleep yet (and will
    // see this entry) or asleep and notified. Behind an entry of work, it is awake.
    if (before != &m_empty) return;
    { std::lock_guard lock(m_postedMutex); }
    m_postedChanged.notify_all();
}

void Engine::post(std::function<void()> task) {
    using Task = std::function<void()>;
    auto* entry = new host::QueueLink{std::make_shared<Task>(std::move(task)),
                                      [](void* task) { (*static_cast<Task*>(task))(); }, nullptr, nullptr, true};
    link(*entry);
}

void Engine::post(std::shared_ptr<PostedWork> work) {
    auto* entry = new host::QueueLink{std::move(work), [](void* work) { static_cast<PostedWork*>(work)->run(); },
                                      [](void* work) { static_cast<PostedWork*>(work)->abandon(); }, nullptr, true};
    link(*entry);
}

bool Engine::post(host::QueueLink& entry, const std::atomic<int>* closed) {
    link(entry);
    // Linked, then the flag read, both in the one order of all such operations; a clear raises
    // the flag, then lists the queue: either this sees the flag, or the clear finds the entry.
    return !closed || closed->load(std::memory_order_seq_cst) == 0;
}

std::vector<std::shared_ptr<void>> Engine::pendingObjects(ObjectAction run) {
    std::vector<std::shared_ptr<void>> found;
    // Everything linked in up to the newest entry now; an entry exchanged in and not linked yet
    // is waited for, a moment.
    const host::QueueLink* const newest = m_newest.load(std::memory_order_seq_cst);
    for (const host::QueueLink* entry = m_oldest;;) {
        if (entry != &m_empty && entry->run == run) found.push_back(entry->object);
        if (entry == newest) break;
        const host::QueueLink* after;
        while (!(after = entry->next.load(std::memory_order_acquire))) pauseBriefly();
        entry = after;
    }
    return found;
}

bool Engine::runPosted() {
    EngineActivity serving(*this, {});
    EngineScope scope(*this);
    bool ran = false;
    // Until the queue is empty: an entry exchanged in and not linked yet is waited for.
    do {
        Posted next;
        while (takeNext(next)) {
            next.run();
            next = Posted{};
            ran = true;
        }
    } while (!queueEmpty());
    postedRun();
    return ran;
}

void Engine::notifyWaiters() {
    {
        std::lock_guard lock(m_postedMutex);
        m_wakeups.fetch_add(1, std::memory_order_relaxed);
    }
    m_postedChanged.notify_all();
}

void Engine::pumpUntil(const std::function<bool()>& done) {
    EngineActivity serving(*this, {});
    for (;;) {
        const std::uint64_t seen = m_wakeups.load(std::memory_order_acquire);
        if (done()) return;
        if (runPosted()) continue;
        std::unique_lock lock(m_postedMutex);
        m_postedChanged.wait(lock, [&] { return m_wakeups.load(std::memory_order_relaxed) != seen || !queueEmpty(); });
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
