// Host execution engine and command distributor: running host functions and host-language text
// for the C++ interface, synchronously or through the named command queue.
//
// Threads: an engine runs requests on its own (signal) thread. feval from the signal thread runs
// the request directly; fevalWithCompletion and evalWithCompletion queue the request and return
// at once, and the completion runs on the thread that finishes the request.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "host/dataarray.hpp"
#include "host/exceptions.hpp"
#include "host/host_api.hpp"

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

// The outcome of a request, settled once: a value (nothing for void) or the exception it ended
// with. Settling wakes only threads that are waiting; a request whose outcome nobody waits for
// makes no system call to publish it.
template <class T>
class FutureState {
public:
    template <class... Value>
    void setValue(Value&&... value) {
        std::lock_guard lock(m_mutex);
        claim();
        if constexpr (!std::is_void_v<T>) m_value.emplace(std::forward<Value>(value)...);
        publish();
    }
    void setException(std::exception_ptr error) {
        std::lock_guard lock(m_mutex);
        claim();
        m_error = std::move(error);
        publish();
    }
    bool isReady() const noexcept { return m_ready.load(std::memory_order_acquire); }
    void wait() const {
        if (isReady()) return;
        std::unique_lock lock(m_mutex);
        ++m_waiters;
        m_settled.wait(lock, [this] { return isReady(); });
        --m_waiters;
    }
    // Waits at most `limit`; whether it is settled.
    bool waitFor(std::chrono::nanoseconds limit) const {
        if (isReady()) return true;
        std::unique_lock lock(m_mutex);
        ++m_waiters;
        const bool ready = m_settled.wait_for(lock, limit, [this] { return isReady(); });
        --m_waiters;
        return ready;
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
    void claim() const {
        if (isReady()) throw std::logic_error("the outcome of a request was settled twice");
    }
    // Under the lock; a waiter either sees the flag before it sleeps or is counted and woken.
    void publish() {
        m_ready.store(true, std::memory_order_release);
        if (m_waiters > 0) m_settled.notify_all();
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_settled;
    mutable int m_waiters = 0;
    std::atomic<bool> m_ready{false};
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
using FevalCompletion = std::function<void(Future<Outputs>)>;
using EvalCompletion = std::function<void(Future<void>)>;

class HostEngine {
public:
    virtual ~HostEngine() = default;
    // Runs `name` with `arguments` and nlhs outputs. From the signal thread the request runs now;
    // from other threads it is queued. The future yields exactly nlhs outputs or throws.
    virtual Future<Outputs> feval(const std::string& name, const Outputs& arguments, int nlhs,
                                  const RunOptions& options, bool flag, RequestID id) = 0;
    // Queues the request; `completion` runs after it finished (on the finishing thread); the
    // returned future is ready once the completion returned.
    virtual Future<void> fevalWithCompletion(const std::string& name, const Outputs& arguments, int nlhs,
                                             FevalCompletion completion, const RunOptions& options, RequestID id) = 0;
    virtual Future<void> evalWithCompletion(const std::u16string& text, EvalCompletion completion,
                                            const RunOptions& options, RequestID id) = 0;
};

// The engine serving the calling thread, or null.
HOST_API std::shared_ptr<HostEngine> getCurrentLocalVM();

// Class system: whether an object's class overloads indexing for reading / assignment.
HOST_API bool omDoesClassImplementSubsref(const ryArray* object, bool flag);
HOST_API bool omDoesClassImplementSubsasgn(const ryArray* object, bool flag, bool flag2);

}  // namespace host
