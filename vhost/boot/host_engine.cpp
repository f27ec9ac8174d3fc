// The engine's HostEngine: runs requests of C++ modules in the host language.
//
// A synchronous feval runs on the engine's signal thread, right away: the arguments become host
// arrays, the language calls the function with the request's output and error streams in place
// of the command window, and the outputs come back as data arrays. A host error leaves as the
// distributor's RuntimeException; anything else leaves unchanged.
#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>
#include <type_traits>

#include <boost/container/small_vector.hpp>

#include "host/dataarray.hpp"
#include "host/engine.hpp"
#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "vhost/boot/boot.hpp"
#include "vhost/engine/host_engine.hpp"
#include "vhost/lang/functions.hpp"
#include "vhost/lang/interpreter.hpp"
#include "vhost/ut/output.hpp"

namespace vhost::boot {
namespace {

// Host arrays made for one request, destroyed when it ends however it ends. They are ours, and
// held as the language's argument list so that they are handed to the call as they are.
struct HostArrays {
    vhost::lang::Arguments arrays;
    HostArrays() = default;
    HostArrays(const HostArrays&) = delete;
    HostArrays& operator=(const HostArrays&) = delete;
    ~HostArrays() {
        for (const ryArray* array : arrays) host::destroyArray(const_cast<ryArray*>(array));
    }
};

// Where a request's printed text goes: the two streams of its options. A queued request keeps
// these rather than a copy of the options, which would copy the queue name for nothing.
struct Streams {
    std::shared_ptr<host::u16streambuf> out, err;
    explicit Streams(const host::RunOptions& options) : out(options.outStream()), err(options.errStream()) {}
};

// Printed text reaches a request's stream as UTF-16, in one write per piece of output. The sink
// lives only while the request runs, and the request's Streams hold the buffer meanwhile.
OutputSink streamSink(host::u16streambuf* buffer) {
    if (!buffer) return {};
    return [buffer](std::string_view text) {
        const std::u16string wide = host::i18n::to_ustring(text);
        buffer->sputn(wide.data(), static_cast<std::streamsize>(wide.size()));
    };
}

// A feval's arguments as its queued request keeps them.
using InlineArguments = boost::container::small_vector<host::data::Array, 4>;

// Host errors as the distributor reports them.
template <class Body>
auto reportingRuntimeErrors(const std::string& name, Body&& body) {
    try {
        return body();
    } catch (const host::RuntimeException&) {
        throw;
    } catch (const host::UserException& error) {
        host::RuntimeException runtime(error);
        if (runtime.functionName().empty()) runtime.setFunctionName(name);
        throw runtime;
    }
}

// One queued request and the reference through which it is cancelled. A request is settled
// exactly once: by the signal thread that runs it, or by the thread that cancels or refuses it
// first.
class QueuedRequest : public host::TaskReference, public PostedWork, public std::enable_shared_from_this<QueuedRequest> {
public:
    enum class State { Queued, Running, Done, Cancelled };

    explicit QueuedRequest(Engine& engine) : m_engine(engine) {}

    // As posted work, run() (in Request) runs the request on the signal thread unless it was
    // cancelled first; abandon(), when the engine goes with the request still queued, reports it
    // cancelled while the module whose callbacks it names is still loaded.
    void abandon() override { cancel_callback(false); }

    // Signal thread: claims the request for running; false when it was cancelled first.
    bool claim() { return leaveQueue(State::Running); }
    void finished() { m_state.store(State::Done, std::memory_order_release); }

    host::CancelStatus cancel_callback(bool allowInterrupt) override {
        m_allowInterrupt.store(allowInterrupt, std::memory_order_relaxed);
        if (!leaveQueue(State::Cancelled)) {
            return state() == State::Cancelled ? host::CancelStatus::Cancelled : host::CancelStatus::TooLate;
        }
        // The completion runs module code.
        deliverFailure(std::make_exception_ptr(host::AlreadyCancelledException()));
        m_engine.notifyWaiters();
        return host::CancelStatus::Cancelled;
    }
    std::string heldBy() const override {
        if (state() != State::Queued) return {};
        return m_engine.heldBy();
    }
    bool refuse(std::exception_ptr reason) override {
        if (!leaveQueue(State::Cancelled)) return false;
        deliverFailure(std::move(reason));
        m_engine.notifyWaiters();
        return true;
    }
    bool cancellationRequested() const override { return m_cancelRequested.load(std::memory_order_acquire); }
    void requestCancellation(bool allowInterrupt) override {
        m_cancelRequested.store(true, std::memory_order_release);
        cancel_callback(allowInterrupt);
    }
    host::CancelStatus cancelStatus() const override {
        switch (state()) {
            case State::Cancelled: return host::CancelStatus::Cancelled;
            case State::Queued:
                return cancellationRequested() ? host::CancelStatus::CancelRequested : host::CancelStatus::Cancelled;
            default: return host::CancelStatus::TooLate;
        }
    }

protected:
    // Hands `reason` to the request's completion instead of running it.
    virtual void deliverFailure(std::exception_ptr reason) = 0;

private:
    State state() const noexcept { return m_state.load(std::memory_order_acquire); }
    // Takes the request out of the queue into `next`; false when another thread took it first.
    // One atomic exchange rather than a lock: the signal thread claims every request it runs.
    bool leaveQueue(State next) noexcept {
        State queued = State::Queued;
        return m_state.compare_exchange_strong(queued, next, std::memory_order_acq_rel);
    }

    Engine& m_engine;
    std::atomic<State> m_state{State::Queued};
    std::atomic<bool> m_cancelRequested{false};
    std::atomic<bool> m_allowInterrupt{false};
};

// A request with its work and its completion. The task's outcome is settled once the completion
// has returned (with what the completion threw, if it threw); the work and the completion are
// let go of then, so the arguments and the module's callbacks are not kept alive by a task
// handle the module still holds. The task's outcome and the outcome handed to the completion
// live in the request itself: one allocation for all three.
template <class Result, class Work, class Completion>
class Request final : public QueuedRequest {
public:
    Request(Engine& engine, Work work, Completion completion)
        : QueuedRequest(engine), m_work(std::move(work)), m_completion(std::move(completion)) {}

    const host::FutureState<void>& task() const { return m_task; }

    void run() override {
        if (!claim()) return;
        try {
            if constexpr (std::is_void_v<Result>) {
                (*m_work)();
                m_outcome.setValue();
            } else {
                m_outcome.setValue((*m_work)());
            }
        } catch (...) {
            m_outcome.setException(std::current_exception());
        }
        m_work.reset();
        settle();
        finished();
    }

private:
    void deliverFailure(std::exception_ptr reason) override {
        m_work.reset();
        m_outcome.setException(std::move(reason));
        settle();
    }
    // Hands the settled outcome to the completion; the outcome keeps the request alive for as
    // long as the completion keeps it.
    void settle() {
        Completion completion = std::move(m_completion);
        try {
            completion(host::Future<Result>(
                std::shared_ptr<const host::FutureState<Result>>(shared_from_this(), &m_outcome), nullptr));
            m_task.setValue();
        } catch (...) {
            m_task.setException(std::current_exception());
        }
    }

    std::optional<Work> m_work;
    Completion m_completion;
    host::FutureState<Result> m_outcome;
    host::FutureState<void> m_task;
};

class LanguageEngine final : public host::HostEngine {
public:
    explicit LanguageEngine(Engine& engine) : m_engine(engine) {}

    host::Future<host::Outputs> feval(const std::string& name, const host::Outputs& arguments, int nlhs,
                                      const host::RunOptions& options, bool /*flag*/,
                                      host::RequestID /*id*/) override {
        if (!m_engine.isSignalThread()) {
            throw std::logic_error("a synchronous request must come from the engine's signal thread");
        }
        try {
            return host::Future<host::Outputs>::ready(runFeval(name, arguments, nlhs, Streams(options)));
        } catch (...) {
            return host::Future<host::Outputs>::failed(std::current_exception());
        }
    }

    host::Future<void> fevalWithCompletion(const std::string& name, const host::Outputs& arguments, int nlhs,
                                           host::FevalCompletion completion, const host::RunOptions& options,
                                           host::RequestID /*id*/) override {
        // Copies made here, not captured from the references: a captured reference to const would
        // make a const member, copied again (not moved) each time the work moves.
        // The arguments are kept inline (up to a few), not in a vector of their own: the request
        // is made on the module's thread and freed on the signal thread, and each allocation
        // that crosses threads that way costs both threads the allocator's shared lock.
        return enqueue<host::Outputs>([this, name = std::string(name), arguments = InlineArguments(arguments.begin(), arguments.end()),
                                       nlhs, streams = Streams(options)] {
                                           return runFeval(name, {arguments.data(), arguments.size()}, nlhs, streams);
                                       },
                                      std::move(completion));
    }

    host::Future<void> evalWithCompletion(const std::u16string& text, host::EvalCompletion completion,
                                          const host::RunOptions& options, host::RequestID /*id*/) override {
        return enqueue<void>([this, text = std::u16string(text), streams = Streams(options)] { runEval(text, streams); },
                             std::move(completion));
    }

private:
    template <class Result, class Work, class Completion>
    host::Future<void> enqueue(Work work, Completion completion) {
        using Queued = Request<Result, Work, Completion>;
        auto request = std::make_shared<Queued>(m_engine, std::move(work), std::move(completion));
        host::Future<void> task(std::shared_ptr<const host::FutureState<void>>(request, &request->task()), request);
        m_engine.post(std::shared_ptr<PostedWork>(std::move(request)));
        return task;
    }

    host::Outputs runFeval(const std::string& name, std::span<const host::data::Array> arguments, int nlhs,
                           const Streams& streams) {
        EngineScope scope(m_engine);
        HostArrays inputs;
        inputs.arrays.reserve(arguments.size());
        for (const auto& argument : arguments) inputs.arrays.push_back(host::data::createRyArray(argument));
        std::vector<vhost::lang::Value> outputs;
        {
            ThreadOutputRedirect redirect(streamSink(streams.out.get()), streamSink(streams.err.get()));
            outputs = reportingRuntimeErrors(name, [&] { return vhost::lang::callFunction(name, nlhs, inputs.arrays); });
        }
        host::Outputs result;
        const std::size_t wanted = std::min(outputs.size(), nlhs < 0 ? std::size_t{0} : static_cast<std::size_t>(nlhs));
        result.reserve(wanted);
        // The outputs are the call's own: taken over rather than copied.
        for (std::size_t i = 0; i < wanted; ++i) result.push_back(host::data::adoptRyArray(outputs[i].release()));
        return result;
    }

    void runEval(const std::u16string& text, const Streams& streams) {
        EngineScope scope(m_engine);
        ThreadOutputRedirect redirect(streamSink(streams.out.get()), streamSink(streams.err.get()));
        reportingRuntimeErrors("eval", [&] {
            vhost::lang::evaluate(host::i18n::to_string(text));
            return 0;
        });
    }

    Engine& m_engine;
};

}  // namespace

void installHostEngine() {
    setHostEngineFactory([](Engine& engine) { return std::make_shared<LanguageEngine>(engine); });
}

}  // namespace vhost::boot
