// Host execution engine and command distributor: running host functions and host-language text
// for the C++ interface, synchronously or through the named command queue.
//
// Threads: an engine runs requests on its own (signal) thread. feval from the signal thread runs
// the request directly; fevalWithCompletion and evalWithCompletion queue the request and return
// at once, and the completion runs on the thread that finishes the request.
#pragma once

#include <array>
#include <atomic>
#include <iterator>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "host/dataarray.hpp"
#include "host/exceptions.hpp"
#include "host/host_api.hpp"
#include "host/queue_link.hpp"

namespace host {

using u16streambuf = std::basic_streambuf<char16_t>;

// How output written to a stream is passed on; the host's defaults serve every use here.
struct SinkTraits {
    bool flushEachWrite = true;
};
HOST_API SinkTraits getDefaultSinkTraits();

// When a queued request leaves the queue (the host's numbering; 1 = as soon as the engine is idle).
enum class WhenToDequeue : int { Immediately = 0, WhenIdle = 1 };

class HOST_API RunOptions {
public:
    void setQueueName(std::u16string name) { m_queueName = std::move(name); }
    void setDequeueMode(WhenToDequeue mode) { m_dequeueMode = mode; }
    void setOutStream(std::shared_ptr<u16streambuf> buffer, SinkTraits traits);
    void setErrStream(std::shared_ptr<u16streambuf> buffer, SinkTraits traits);
    const std::u16string& queueName() const noexcept { return m_queueName; }
    WhenToDequeue dequeueMode() const noexcept { return m_dequeueMode; }
    // Null when not set: output then goes to the host's command window.
    const std::shared_ptr<u16streambuf>& outStream() const noexcept { return m_out; }
    const std::shared_ptr<u16streambuf>& errStream() const noexcept { return m_err; }
    bool hasOutStream() const noexcept { return m_outSet; }

private:
    std::u16string m_queueName;
    WhenToDequeue m_dequeueMode = WhenToDequeue::Immediately;
    std::shared_ptr<u16streambuf> m_out, m_err;
    SinkTraits m_outTraits, m_errTraits;
    bool m_outSet = false, m_errSet = false;
};

using RequestID = std::uint64_t;
HOST_API RequestID createRequestID();

// A host error as the command distributor reports it.
class HOST_API RuntimeException : public UserException {
public:
    RuntimeException(std::string identifier, std::u16string message, int executionStatus = 2);
    // The same error as the distributor reports it: identifier, text, function name, stack and
    // causes carried over.
    explicit RuntimeException(const UserException& error, int executionStatus = 2);
    const std::string& GetID() const noexcept { return identifier(); }
    std::u16string GetUnicodeMessageTxt() const;
    std::vector<StackFrame> getStackFrames() const { return stack(); }
    std::vector<std::shared_ptr<const RuntimeException>> getCauses() const;
    const std::string& getFunctionName() const noexcept { return functionName(); }
    int getExecutionStatus() const noexcept { return m_executionStatus; }
    std::unique_ptr<UserException> clone() const override;
    [[noreturn]] void rethrow() const override;

private:
    int m_executionStatus;
};

// Thrown to the completion of a request cancelled before it ran.
class AlreadyCancelledException : public std::exception {
public:
    const char* what() const noexcept override { return "the request was cancelled before it ran"; }
};

// The cancel outcome (3 means it could not be cancelled: it already ran or is running).
enum class CancelStatus : int { Cancelled = 1, CancelRequested = 2, TooLate = 3 };

class TaskReference {
public:
    virtual ~TaskReference() = default;
    virtual CancelStatus cancel_callback(bool allowInterrupt) = 0;
    virtual bool cancellationRequested() const = 0;
    // Records the interrupt permission and requests cancellation; registered actions run on the
    // calling thread.
    virtual void requestCancellation(bool allowInterrupt) = 0;
    virtual CancelStatus cancelStatus() const = 0;
    // Any thread. While the request waits in its queue: the name of the module function whose
    // call holds the request's engine without serving the queue (it neither returned to idle nor
    // waits on a future); empty when the engine serves its queue, is idle, or the request left
    // the queue.
    virtual std::string heldBy() const { return {}; }
    // Any thread. Settles a request still in its queue with `reason` instead of running it (its
    // completion receives `reason`, on the calling thread); false when it already started or
    // was settled.
    virtual bool refuse(std::exception_ptr /*reason*/) { return false; }
};

// Called before a future blocks: on an engine's signal thread the engine keeps running the work
// queued for it until `isReady` answers true (a request that only that thread can run would
// otherwise never complete); on any other thread it returns at once.
HOST_API void pumpWhileWaiting(const std::function<bool()>& isReady);

// Where threads that wait for an outcome sleep: one place for every outcome, since waiting is
// rare and settling must not pay for a lock and a condition variable of its own.
struct FutureParking {
    std::mutex mutex;
    std::condition_variable settled;
};
HOST_API FutureParking& futureParking() noexcept;

// The outcome of a request, settled once: a value (nothing for void) or the exception it ended
// with. Settling is a few atomic operations; only a settling that finds a thread waiting takes
// the parking lock to wake it.
template <class T>
class FutureState {
public:
    template <class... Value>
    void setValue(Value&&... value) {
        if constexpr (std::is_void_v<T>) {
            // Nothing is stored between the claim and the publication: one exchange does both
            // (every queued request settles its task so).
            if (claim(kReady) & kWaited) wakeWaiters();
        } else {
            claim();
            m_value.emplace(std::forward<Value>(value)...);
            publish();
        }
    }
    // Settles a state no other thread can reach any more (nothing is left that could wait for
    // it): plain stores, no locked operation.
    void setValueUnwatched()
        requires std::is_void_v<T>
    {
        if (m_flags.load(std::memory_order_relaxed) & kClaimed) throw std::logic_error("the outcome of a request was settled twice");
        m_flags.store(kClaimed | kReady, std::memory_order_release);
    }
    void setException(std::exception_ptr error) {
        claim();
        m_error = std::move(error);
        publish();
    }
    bool isReady() const noexcept { return (m_flags.load(std::memory_order_acquire) & kReady) != 0; }
    void wait() const {
        if (isReady()) return;
        FutureParking& parking = futureParking();
        std::unique_lock lock(parking.mutex);
        m_flags.fetch_or(kWaited, std::memory_order_acq_rel);
        parking.settled.wait(lock, [this] { return isReady(); });
    }
    // Waits at most `limit`; whether it is settled.
    bool waitFor(std::chrono::nanoseconds limit) const {
        if (isReady()) return true;
        FutureParking& parking = futureParking();
        std::unique_lock lock(parking.mutex);
        m_flags.fetch_or(kWaited, std::memory_order_acq_rel);
        return parking.settled.wait_for(lock, limit, [this] { return isReady(); });
    }
    // Waits; a copy of the value, or the exception rethrown.
    T get() const {
        wait();
        if (m_error) std::rethrow_exception(m_error);
        if constexpr (!std::is_void_v<T>) return *m_value;
    }
    // Waits; the value itself (no copy), or the exception rethrown.
    template <class U = T>
        requires(!std::is_void_v<U>)
    const U& value() const {
        wait();
        if (m_error) std::rethrow_exception(m_error);
        return *m_value;
    }

private:
    struct Empty {};
    enum : unsigned { kClaimed = 1, kReady = 2, kWaited = 4 };
    // Claims the outcome, setting `also` with the claim; answers the flags before.
    unsigned claim(unsigned also = 0) {
        const unsigned before = m_flags.fetch_or(kClaimed | also, std::memory_order_acq_rel);
        if (before & kClaimed) throw std::logic_error("the outcome of a request was settled twice");
        return before;
    }
    // A waiter marks the state under the parking lock before it sleeps: either it sees the
    // outcome ready, or the settling sees the mark and wakes it under the same lock.
    void publish() {
        if (m_flags.fetch_or(kReady, std::memory_order_acq_rel) & kWaited) wakeWaiters();
    }
    static void wakeWaiters() {
        FutureParking& parking = futureParking();
        { std::lock_guard lock(parking.mutex); }
        parking.settled.notify_all();
    }

    mutable std::atomic<unsigned> m_flags{0};
    std::conditional_t<std::is_void_v<T>, Empty, std::optional<T>> m_value;
    std::exception_ptr m_error;
};

// A future of a request: its value (or the exception it ended with) and its task reference (null
// for a request that ran at once and cannot be cancelled). Copies share the state.
template <class T>
class Future {
public:
    Future() = default;
    Future(std::shared_ptr<const FutureState<T>> state, std::shared_ptr<TaskReference> task)
        : m_state(std::move(state)), m_task(std::move(task)) {}
    // An outcome already known: the value (none for void) or the exception in flight.
    template <class... Value>
    static Future ready(Value&&... value) {
        auto state = std::make_shared<FutureState<T>>();
        state->setValue(std::forward<Value>(value)...);
        return Future(std::move(state), nullptr);
    }
    static Future failed(std::exception_ptr error) {
        auto state = std::make_shared<FutureState<T>>();
        state->setException(std::move(error));
        return Future(std::move(state), nullptr);
    }
    bool valid() const noexcept { return m_state != nullptr; }
    bool isReady() const noexcept { return m_state && m_state->isReady(); }
    // Blocks until ready; rethrows the exception the request ended with.
    T get() const {
        wait();
        return m_state->get();
    }
    // Blocks until ready; the value itself, valid while a copy of this future lives, or the
    // exception rethrown.
    template <class U = T>
        requires(!std::is_void_v<U>)
    const U& value() const {
        wait();
        return m_state->value();
    }
    void wait() const {
        if (!m_state) throw std::future_error(std::future_errc::no_state);
        if (!isReady()) pumpWhileWaiting([this] { return isReady(); });
        m_state->wait();
    }
    // Waits at most `limit` without running queued work (for threads other than the signal
    // thread); whether it is ready.
    bool waitFor(std::chrono::nanoseconds limit) const {
        if (!m_state) throw std::future_error(std::future_errc::no_state);
        return m_state->waitFor(limit);
    }
    const std::shared_ptr<TaskReference>& taskReference() const noexcept { return m_task; }

private:
    std::shared_ptr<const FutureState<T>> m_state;
    std::shared_ptr<TaskReference> m_task;
};

using Outputs = std::vector<data::Array>;

class HostEngine;

// The input arrays of a queued request: a few inline, more in a vector. The request is made on
// the caller's thread and freed on the engine's, and each allocation that crosses threads that
// way costs both threads the allocator's shared lock.
class RequestArguments {
public:
    void push_back(data::Array array) {
        if (m_count < m_few.size()) {
            m_few[m_count] = std::move(array);
        } else {
            if (m_many.empty()) m_many.assign(std::make_move_iterator(m_few.begin()), std::make_move_iterator(m_few.end()));
            m_many.push_back(std::move(array));
        }
        ++m_count;
    }
    const data::Array* data() const noexcept { return m_many.empty() ? m_few.data() : m_many.data(); }
    // Hands each array's reference to `take` (an ArrayImpl* it then owns), leaving the list empty.
    template <class Take>
    void handOver(Take&& take) noexcept {
        data::Array* arrays = m_many.empty() ? m_few.data() : m_many.data();
        for (std::size_t i = 0; i < m_count; ++i) take(arrays[i].handOver());
        m_many.clear();
        m_count = 0;
    }
    std::size_t size() const noexcept { return m_count; }
    void clear() noexcept {
        for (std::size_t i = 0; i < m_count && i < m_few.size(); ++i) m_few[i] = data::Array();
        m_many.clear();
        m_count = 0;
    }

private:
    std::array<data::Array, 4> m_few;
    std::vector<data::Array> m_many;
    std::size_t m_count = 0;
};

// A request queued on an engine: what to run, its outcome, its task, and (in the class the
// caller derives) what to do with the outcome, all in one object made by the caller. The engine
// settles it exactly once: by running it on its signal thread, or by taking it out of the queue
// unrun when it is cancelled, refused or abandoned (on the thread that does so). Either way it
// then calls complete() once and settles the task with how complete() ended.
class AsyncRequest : public TaskReference {
public:
    AsyncRequest() = default;
    // A function call's request, named as it is made: a name assigned over an empty one takes
    // the string's general replace.
    explicit AsyncRequest(std::string_view functionName) : name(functionName) {}
    ~AsyncRequest() override = default;
    AsyncRequest(const AsyncRequest&) = delete;
    AsyncRequest& operator=(const AsyncRequest&) = delete;

    // What to run, set before the request is submitted: a function call (`name`, `arguments`,
    // `nlhs` outputs) or, when `isEval`, the statement `text`. Printed output goes to `out`,
    // error text to `err` (null: the host's command window).
    bool isEval = false;
    std::string name;
    std::u16string text;
    RequestArguments arguments;
    int nlhs = 0;
    std::shared_ptr<u16streambuf> out, err;
    RequestID id = 0;
    // Whose request it is (HostEngine::requestsOf); the engine gives it no meaning.
    const void* owner = nullptr;
    // The engine's, while the request is queued: its entry in the engine's queue.
    QueueLink queueEntry;

    // The request's outcome while complete() runs: the outputs (none for an eval), which
    // complete() may take over (they are the engine's room and gone once it returns), or the
    // exception it ended with (AlreadyCancelledException when it never ran), which outputs()
    // throws.
    std::span<data::Array> outputs() const {
        if (m_error) std::rethrow_exception(m_error);
        return m_outputs;
    }
    // Ready once complete() has returned, with what complete() threw.
    const FutureState<void>& task() const noexcept { return m_task; }

    inline CancelStatus cancel_callback(bool allowInterrupt) override;
    bool cancellationRequested() const override { return m_cancelRequested.load(std::memory_order_acquire); }
    inline void requestCancellation(bool allowInterrupt) override;
    inline CancelStatus cancelStatus() const override;
    inline std::string heldBy() const override;
    inline bool refuse(std::exception_ptr reason) override;

    // Whether it is running now (on the engine's signal thread).
    bool running() const noexcept { return state() == State::Running; }

    // The caller's, once it keeps no way to reach the request: it can no longer cancel, refuse
    // or wait for it. Any thread, after its last use of the request.
    void detach() noexcept { m_detached.store(true, std::memory_order_release); }

    // The engine's side (HostEngine implementations): binds the request to `engine` when it is
    // submitted; claims it for running (false when it left the queue first); settles it with the
    // work's outcome once the work has run.
    void bind(HostEngine& engine) noexcept { m_engine = &engine; }
    HostEngine* engine() const noexcept { return m_engine; }
    bool claim() noexcept {
        if (detached()) {
            if (m_state.load(std::memory_order_relaxed) != State::Queued) return false;
            m_state.store(State::Running, std::memory_order_relaxed);
            return true;
        }
        return leaveQueue(State::Running);
    }
    inline void ran(std::span<data::Array> outputs);
    inline void ranWith(std::exception_ptr error);

protected:
    // The caller's: hands the outcome on. Runs once, on the thread that settles the request;
    // what it throws becomes the task's outcome.
    virtual void complete() = 0;

private:
    enum class State : int { Queued, Running, Done, Cancelled };
    State state() const noexcept { return m_state.load(std::memory_order_acquire); }
    // One atomic exchange rather than a lock: the signal thread claims every request it runs.
    bool leaveQueue(State next) noexcept {
        State queued = State::Queued;
        return m_state.compare_exchange_strong(queued, next, std::memory_order_acq_rel);
    }
    // Whether the signal thread alone reaches the request now, so that claiming and settling it
    // need no locked operation. Other threads reach a request only through what its caller
    // holds (the task handle of a module): cancelling it, refusing it while waiting for it,
    // waiting, and asking its state or who holds the engine. A caller that detached has given
    // all of that up, and the acquire here sees whatever it did to the request before (a cancel,
    // a refusal). What is left is the signal thread's own: running it, listing an owner's
    // requests for a clear (requestsOf, whose cancels and abandons run there too), and
    // abandoning the queue when the engine ends. So once detached, the request's state and task
    // are read and written by one thread, and plain loads and stores do what the locked
    // exchanges did against the others.
    bool detached() const noexcept { return m_detached.load(std::memory_order_acquire); }
    inline void finish(bool unwatched = false);

    HostEngine* m_engine = nullptr;
    std::atomic<State> m_state{State::Queued};
    std::atomic<bool> m_detached{false};
    std::atomic<bool> m_cancelRequested{false};
    std::atomic<bool> m_allowInterrupt{false};
    std::span<data::Array> m_outputs;
    std::exception_ptr m_error;
    FutureState<void> m_task;
};

class HostEngine {
public:
    virtual ~HostEngine() = default;
    // Runs `name` with `arguments` and nlhs outputs. From the signal thread the request runs now;
    // from other threads it is queued. The future yields exactly nlhs outputs or throws.
    virtual Future<Outputs> feval(const std::string& name, const Outputs& arguments, int nlhs,
                                  const RunOptions& options, bool flag, RequestID id) = 0;
    // Queues `request` on the queue its options name; any thread, returns at once. Unless
    // `closed` (may be null) reads nonzero once the queue took the request: a thread that raises
    // it and then lists the requests (requestsOf) finds every request not refused. False when
    // refused: the request may still be queued, and the caller cancels it (cancel_callback), so
    // that the queue skips it and its completion hears "cancelled" once, wherever it runs.
    virtual bool submit(std::shared_ptr<AsyncRequest> request, const RunOptions& options,
                        const std::atomic<int>* closed) = 0;
    // Signal thread: the requests of `owner` not settled yet, in the order they were submitted:
    // those still queued and those running on the signal thread (outer calls of this one).
    virtual std::vector<std::shared_ptr<AsyncRequest>> requestsOf(const void* owner) = 0;
    // Any thread: wakes a signal thread that waits, to look at its futures again.
    virtual void notifyWaiters() = 0;
    // Any thread: the module function whose call holds the signal thread without serving the
    // queue (TaskReference::heldBy).
    virtual std::string heldBy() const = 0;
};

// AsyncRequest is defined here whole: it holds data arrays, which belong to a library of their
// own, so each side that uses it compiles it.
inline void AsyncRequest::finish(bool unwatched) {
    // The work's inputs and streams go before the completion runs: a module's stream is
    // released while its code is certainly there, and a task handle the module keeps does not
    // keep the inputs alive. (The engine may have taken the inputs' references already.)
    arguments.clear();
    out.reset();
    err.reset();
    try {
        complete();
        if (unwatched) {
            m_task.setValueUnwatched();
        } else {
            m_task.setValue();
        }
    } catch (...) {
        m_task.setException(std::current_exception());
    }
}

inline void AsyncRequest::ran(std::span<data::Array> outputs) {
    m_outputs = outputs;
    finish(detached());
    m_outputs = {};
    m_state.store(State::Done, std::memory_order_release);
}

inline void AsyncRequest::ranWith(std::exception_ptr error) {
    m_error = std::move(error);
    finish(detached());
    m_state.store(State::Done, std::memory_order_release);
}

inline CancelStatus AsyncRequest::cancel_callback(bool allowInterrupt) {
    m_allowInterrupt.store(allowInterrupt, std::memory_order_relaxed);
    if (!leaveQueue(State::Cancelled)) return state() == State::Cancelled ? CancelStatus::Cancelled : CancelStatus::TooLate;
    m_error = std::make_exception_ptr(AlreadyCancelledException());
    finish();
    if (m_engine) m_engine->notifyWaiters();
    return CancelStatus::Cancelled;
}

inline void AsyncRequest::requestCancellation(bool allowInterrupt) {
    m_cancelRequested.store(true, std::memory_order_release);
    cancel_callback(allowInterrupt);
}

inline CancelStatus AsyncRequest::cancelStatus() const {
    switch (state()) {
        case State::Cancelled: return CancelStatus::Cancelled;
        case State::Queued: return cancellationRequested() ? CancelStatus::CancelRequested : CancelStatus::Cancelled;
        default: return CancelStatus::TooLate;
    }
}

inline std::string AsyncRequest::heldBy() const {
    if (state() != State::Queued || !m_engine) return {};
    return m_engine->heldBy();
}

inline bool AsyncRequest::refuse(std::exception_ptr reason) {
    if (!leaveQueue(State::Cancelled)) return false;
    m_error = std::move(reason);
    finish();
    if (m_engine) m_engine->notifyWaiters();
    return true;
}

// The engine serving the calling thread, or null.
HOST_API std::shared_ptr<HostEngine> getCurrentLocalVM();

// Class system: whether an object's class overloads indexing for reading / assignment.
HOST_API bool omDoesClassImplementSubsref(const ryArray* object, bool flag);
HOST_API bool omDoesClassImplementSubsasgn(const ryArray* object, bool flag, bool flag2);

}  // namespace host
