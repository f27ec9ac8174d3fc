// An engine: one host instance with its own signal thread and per-engine storage.
//
// The thread that creates an engine is its signal thread: the one that runs its module calls.
// A thread works on an engine while an EngineScope binds it there; a thread with none bound
// works on the process's default engine, created on first use by the thread that becomes its
// signal thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/host_api.hpp"
#include "host/queue_link.hpp"
#include "vhost/engine/scoped_storage.hpp"

namespace host {
class HostEngine;
}

namespace vhost {

class EngineActivity;

// Work posted as an object of its own (see Engine::post): the engine holds a reference to it
// until it has run, without wrapping it in a function object.
class HOST_API PostedWork {
public:
    virtual ~PostedWork() = default;
    virtual void run() = 0;
    // Called instead of run() for work still posted when the engine is destroyed (first thing,
    // with the engine bound and its records still there).
    virtual void abandon() {}
};

class HOST_API Engine {
public:
    // Creates an engine whose signal thread is the calling thread.
    explicit Engine(std::string name = {});
    // Destroys the engine's records, newest first. No thread may still be bound to it.
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    static std::shared_ptr<Engine> create(std::string name = {}) { return std::make_shared<Engine>(std::move(name)); }

    std::uint64_t id() const noexcept { return m_id; }
    const std::string& name() const noexcept { return m_name; }
    std::thread::id signalThread() const noexcept { return m_signalThread; }
    bool isSignalThread() const noexcept { return std::this_thread::get_id() == m_signalThread; }

    // The face the runtime's C++ interface talks to (see host_engine.hpp); made once, on demand.
    std::shared_ptr<host::HostEngine> hostEngine(const std::function<std::shared_ptr<host::HostEngine>(Engine&)>& make);

    // Work for the signal thread, posted from any thread: it runs when the signal thread runs
    // posted work (runPosted), which the host does when it is idle and whenever the signal thread
    // waits for a future (host::pumpWhileWaiting). Tasks run in the order they were posted.
    void post(std::function<void()> task);
    void post(std::shared_ptr<PostedWork> work);
    // An object of the poster's, with room for its queue entry inside it (`link`: the object,
    // holding itself while queued, and what to do with it: run when its turn comes, abandon
    // instead when the engine goes first). No wrapper is made around it. Refused (false) when
    // `closed` is given and reads nonzero once the entry is linked: a thread that raises it and
    // then lists the pending objects finds every object not refused. A refused entry may stay
    // queued; the caller settles the object so that its run does nothing.
    using ObjectAction = host::QueueLink::Action;
    bool post(host::QueueLink& link, const std::atomic<int>* closed = nullptr);
    // Signal thread: the objects posted with `run` that have not been taken to run yet, in the
    // order they were posted.
    std::vector<std::shared_ptr<void>> pendingObjects(ObjectAction run);
    // Signal thread: runs the work posted so far (and what that work posts); false when there
    // was none. Work is taken from the queue one piece at a time, in the order of posting, also
    // by a nested call (a task that waits and pumps).
    bool runPosted();
    // Called on the signal thread each time runPosted returns (so before the signal thread goes
    // idle or waits), and as the engine ends: for work that gathers something over the posted
    // work it runs and settles it at once (null: nothing). Any thread; one at a time.
    void setRunEnd(ObjectAction atEnd, void* context);
    // Signal thread: runs posted work as it arrives until `done` answers true. `done` is asked
    // after each piece of work and whenever notifyWaiters is called.
    void pumpUntil(const std::function<bool()>& done);
    // Wakes pumpUntil to ask its question again (for completions that happen on other threads).
    void notifyWaiters();

    // Any thread: the name of the module function whose call holds the signal thread now
    // without serving the queue; empty when the signal thread serves its queue (it runs posted
    // work, idle or waiting for a future inside a call) or is in no module call. A thread whose
    // request waits in the queue learns from it why the request does not run.
    std::string heldBy() const;
    // The most of a name heldBy tells, its terminating zero included.
    static constexpr std::size_t kHolderRoom = 64;

    ScopedStorage& storage() noexcept { return m_storage; }
    const ScopedStorage& storage() const noexcept { return m_storage; }

private:
    friend class EngineActivity;
    // Signal thread: makes `name` what heldBy() answers (empty: not held).
    void publishHolder(std::string_view name) noexcept;

    std::uint64_t m_id;
    std::string m_name;
    std::thread::id m_signalThread;
    std::mutex m_hostEngineMutex;
    std::shared_ptr<host::HostEngine> m_hostEngine;
    // One piece of posted work: an object and what to do with it. Functions and work objects
    // are held as objects too, so that the queue's entries stay four words: a burst of posts
    // is copied as the queue grows and read back cold.
    struct Posted {
        std::shared_ptr<void> object;
        ObjectAction runObject = nullptr;
        ObjectAction abandonObject = nullptr;
        void run() { runObject(object.get()); }
        void abandon() {
            if (abandonObject) abandonObject(object.get());
        }
    };
    // Links `entry` in as the newest, waking a signal thread that may sleep.
    void link(host::QueueLink& entry) noexcept;
    // Signal thread: the oldest entry taken out of the queue; null when there is none (or the
    // one posted next is not linked yet).
    host::QueueLink* unlinkOldest() noexcept;
    bool queueEmpty() const noexcept { return m_newest.load(std::memory_order_acquire) == m_oldest; }
    // Signal thread: the next piece of work, taken from the queue; false when there is none.
    bool takeNext(Posted& next);
    // Signal thread: the posted work has run and the queue is empty (setRunEnd).
    void postedRun();

    // The entries posted and not taken yet, oldest first, each linked to the one posted after
    // it. A posting thread exchanges itself in as the newest, then links the entry before it to
    // its own; the signal thread takes from the oldest end alone. An entry of the queue's own
    // (m_empty) stands at the oldest end whenever the queue has been emptied, so that the newest
    // entry is never one taken already: the queue is empty when both ends are it. The two ends
    // on cache lines of their own: one is written by every post, the other for every piece of
    // work run.
    alignas(64) std::atomic<host::QueueLink*> m_newest{&m_empty};
    alignas(64) host::QueueLink* m_oldest = &m_empty;
    host::QueueLink m_empty;
    // For a signal thread that sleeps: it waits on the condition under the mutex only after it
    // found the queue empty, and a post that found it empty takes the mutex before it notifies.
    alignas(64) std::mutex m_postedMutex;
    std::condition_variable m_postedChanged;
    // Raised by notifyWaiters under the mutex; read without it by the signal thread.
    std::atomic<std::uint64_t> m_wakeups{0};
    // setRunEnd's: the context is stored before the action, the action read before it.
    std::atomic<ObjectAction> m_runEnd{nullptr};
    std::atomic<void*> m_runEndContext{nullptr};
    // The signal thread's innermost activity (EngineActivity), its own.
    const EngineActivity* m_activity = nullptr;
    // heldBy()'s answer, written by the signal thread only and read by any thread: the sequence
    // number is odd while the name is being written, so a reader that saw it change reads again.
    // Atomic characters rather than a string under a lock: every module call publishes, and this
    // costs it a few plain stores.
    std::atomic<std::uint32_t> m_holderSequence{0};
    std::array<std::atomic<char>, kHolderRoom> m_holder{};
    // Declared last so that records are destroyed while the rest of the engine is still whole.
    ScopedStorage m_storage;
};

// What the signal thread is doing, while the scope lives (scopes nest on the signal thread and
// end in reverse order): the call of a module function (a name), or serving the queue (no name).
// The innermost decides what Engine::heldBy answers. Does nothing on other threads.
class EngineActivity {
public:
    EngineActivity(Engine& engine, std::string_view functionName);
    ~EngineActivity();
    EngineActivity(const EngineActivity&) = delete;
    EngineActivity& operator=(const EngineActivity&) = delete;

private:
    std::string_view name() const noexcept { return {m_name.data(), m_length}; }

    Engine* m_engine;  // null off the signal thread
    const EngineActivity* m_outer = nullptr;
    // A copy (as much as heldBy tells), not a string: a module call must not allocate for it.
    std::array<char, Engine::kHolderRoom - 1> m_name;
    std::size_t m_length = 0;
};

// Binds `engine` to the calling thread for the scope's lifetime; the previous binding (or none)
// comes back when the scope ends. Scopes nest and must end in reverse order on their thread.
class HOST_API EngineScope {
public:
    explicit EngineScope(Engine& engine) noexcept;
    ~EngineScope();
    EngineScope(const EngineScope&) = delete;
    EngineScope& operator=(const EngineScope&) = delete;

private:
    Engine* m_previous;
};

// Registers `initializer` to run at the end of every Engine construction from now on (not on
// engines that exist already), in registration order, with the new engine bound to the
// constructing thread. An initializer that throws fails the construction. Any thread.
HOST_API void addEngineInitializer(std::function<void(Engine&)> initializer);

// The engine bound to the calling thread, or null when none is.
HOST_API Engine* boundEngine() noexcept;
// The process's default engine, created on first use.
HOST_API Engine& defaultEngine();
// The default engine if it exists (never creates it).
HOST_API Engine* existingDefaultEngine() noexcept;
namespace detail {
// What currentEngine reads, in the header so that every look-up inlines it: the thread's bound
// engine (initial-exec: one load from the thread register; this library is loaded with the
// program) and the default engine once published.
extern HOST_API __thread Engine* t_boundEngine __attribute__((tls_model("initial-exec")));
extern HOST_API std::atomic<Engine*> g_defaultEngine;
}  // namespace detail

// The engine the calling thread works on: the bound one, else the default engine.
inline Engine& currentEngine() {
    if (Engine* bound = detail::t_boundEngine) return *bound;
    // Every array made off a bound thread asks: once published, no guard of a static to pass.
    if (Engine* made = detail::g_defaultEngine.load(std::memory_order_acquire)) [[likely]]
        return *made;
    return defaultEngine();
}

}  // namespace vhost
