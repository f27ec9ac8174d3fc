// The engine's HostEngine: runs requests of C++ modules in the host language.
//
// A synchronous feval runs on the engine's signal thread, right away: the arguments become host
// arrays, the language calls the function with the request's output and error streams in place
// of the command window, and the outputs come back as data arrays. A host error leaves as the
// distributor's RuntimeException; anything else leaves unchanged.
#include <future>
#include <stdexcept>
#include <string_view>
#include <type_traits>

#include "host/dataarray.hpp"
#include "host/engine.hpp"
#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "vhost/boot/boot.hpp"
#include "vhost/engine/host_engine.hpp"
#include "vhost/lang/interpreter.hpp"
#include "vhost/ut/output.hpp"

namespace vhost::boot {
namespace {

// Host arrays made for one request, destroyed when it ends however it ends.
struct HostArrays {
    std::vector<ryArray*> arrays;
    HostArrays() = default;
    HostArrays(const HostArrays&) = delete;
    HostArrays& operator=(const HostArrays&) = delete;
    ~HostArrays() {
        for (ryArray* array : arrays) host::destroyArray(array);
    }
};

// Printed text reaches a request's stream as UTF-16, in one write per piece of output.
OutputSink streamSink(const std::shared_ptr<host::u16streambuf>& buffer) {
    if (!buffer) return {};
    return [buffer](std::string_view text) {
        const std::u16string wide = host::i18n::to_ustring(text);
        buffer->sputn(wide.data(), static_cast<std::streamsize>(wide.size()));
    };
}

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
// exactly once: by the signal thread that runs it, or by the thread that cancels it first.
class QueuedRequest final : public host::TaskReference {
public:
    enum class State { Queued, Running, Done, Cancelled };

    explicit QueuedRequest(Engine& engine) : m_engine(engine) {}

    // Set once before the request is posted: what runs it and what delivers "cancelled".
    std::function<void()> run;
    std::function<void()> deliverCancelled;

    // Signal thread: claims the request for running; false when it was cancelled first.
    bool claim() {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Queued) return false;
        m_state = State::Running;
        return true;
    }
    void finished() {
        std::lock_guard lock(m_mutex);
        m_state = State::Done;
    }

    host::CancelStatus cancel_callback(bool allowInterrupt) override {
        {
            std::lock_guard lock(m_mutex);
            m_allowInterrupt = allowInterrupt;
            if (m_state == State::Cancelled) return host::CancelStatus::Cancelled;
            if (m_state != State::Queued) return host::CancelStatus::TooLate;
            m_state = State::Cancelled;
        }
        // Outside the lock: the completion runs module code.
        deliverCancelled();
        m_engine.notifyWaiters();
        return host::CancelStatus::Cancelled;
    }
    bool cancellationRequested() const override {
        std::lock_guard lock(m_mutex);
        return m_cancelRequested;
    }
    void requestCancellation(bool allowInterrupt) override {
        {
            std::lock_guard lock(m_mutex);
            m_cancelRequested = true;
        }
        cancel_callback(allowInterrupt);
    }
    host::CancelStatus cancelStatus() const override {
        std::lock_guard lock(m_mutex);
        switch (m_state) {
            case State::Cancelled: return host::CancelStatus::Cancelled;
            case State::Queued: return m_cancelRequested ? host::CancelStatus::CancelRequested : host::CancelStatus::Cancelled;
            default: return host::CancelStatus::TooLate;
        }
    }

private:
    Engine& m_engine;
    mutable std::mutex m_mutex;
    State m_state = State::Queued;
    bool m_cancelRequested = false;
    bool m_allowInterrupt = false;
};

class LanguageEngine final : public host::HostEngine, public std::enable_shared_from_this<LanguageEngine> {
public:
    explicit LanguageEngine(Engine& engine) : m_engine(engine) {}

    host::Future<host::Outputs> feval(const std::string& name, const host::Outputs& arguments, int nlhs,
                                      const host::RunOptions& options, bool /*flag*/,
                                      host::RequestID /*id*/) override {
        if (!m_engine.isSignalThread()) {
            throw std::logic_error("a synchronous request must come from the engine's signal thread");
        }
        std::promise<host::Outputs> result;
        try {
            result.set_value(runFeval(name, arguments, nlhs, options));
        } catch (...) {
            result.set_exception(std::current_exception());
        }
        return host::Future<host::Outputs>(result.get_future().share(), nullptr);
    }

    host::Future<void> fevalWithCompletion(const std::string& name, const host::Outputs& arguments, int nlhs,
                                           host::FevalCompletion completion, const host::RunOptions& options,
                                           host::RequestID /*id*/) override {
        return enqueue<host::Outputs>(
            [this, name, arguments, nlhs, options] { return runFeval(name, arguments, nlhs, options); },
            std::move(completion));
    }

    host::Future<void> evalWithCompletion(const std::u16string& text, host::EvalCompletion completion,
                                          const host::RunOptions& options, host::RequestID /*id*/) override {
        return enqueue<void>([this, text, options] { runEval(text, options); }, std::move(completion));
    }

    // Requests still queued when the engine goes are reported cancelled, while the modules whose
    // callbacks they name are still loaded.
    void cancelQueued() {
        std::vector<std::weak_ptr<QueuedRequest>> pending;
        {
            std::lock_guard lock(m_queuedMutex);
            pending.swap(m_queued);
        }
        for (auto& weak : pending) {
            if (auto request = weak.lock()) request->cancel_callback(false);
        }
    }

private:
    template <class Result, class Work, class Completion>
    host::Future<void> enqueue(Work work, Completion completion) {
        auto request = std::make_shared<QueuedRequest>(m_engine);
        // The task future is ready once the completion has returned. (The request's own
        // functions hold the promise, not the request, so nothing keeps itself alive.)
        auto taskPromise = std::make_shared<std::promise<void>>();
        host::Future<void> task(taskPromise->get_future().share(), request);
        auto settle = [taskPromise, completion = std::move(completion)](host::Future<Result> outcome) {
            try {
                completion(outcome);
                taskPromise->set_value();
            } catch (...) {
                taskPromise->set_exception(std::current_exception());
            }
        };
        request->deliverCancelled = [settle] {
            std::promise<Result> cancelled;
            cancelled.set_exception(std::make_exception_ptr(host::AlreadyCancelledException()));
            settle(host::Future<Result>(cancelled.get_future().share(), nullptr));
        };
        std::weak_ptr<QueuedRequest> weak = request;
        request->run = [weak, work = std::move(work), settle] {
            auto self = weak.lock();
            if (!self || !self->claim()) return;
            std::promise<Result> outcome;
            try {
                if constexpr (std::is_void_v<Result>) {
                    work();
                    outcome.set_value();
                } else {
                    outcome.set_value(work());
                }
            } catch (...) {
                outcome.set_exception(std::current_exception());
            }
            settle(host::Future<Result>(outcome.get_future().share(), nullptr));
            self->finished();
        };
        {
            std::lock_guard lock(m_queuedMutex);
            // Known weakly, for cancellation at shutdown; settled requests expire and are pruned
            // whenever the list has doubled since the last pruning.
            if (m_queued.size() >= m_pruneAt) {
                std::erase_if(m_queued, [](const auto& weak) { return weak.expired(); });
                m_pruneAt = std::max<std::size_t>(64, 2 * m_queued.size());
            }
            m_queued.push_back(request);
        }
        m_engine.post([request] { request->run(); });
        return task;
    }

    host::Outputs runFeval(const std::string& name, const host::Outputs& arguments, int nlhs,
                           const host::RunOptions& options) {
        EngineScope scope(m_engine);
        HostArrays inputs;
        inputs.arrays.reserve(arguments.size());
        for (const auto& argument : arguments) inputs.arrays.push_back(host::data::createRyArray(argument));
        HostArrays outputs;
        {
            ThreadOutputRedirect redirect(streamSink(options.outStream()), streamSink(options.errStream()));
            outputs.arrays = reportingRuntimeErrors(name, [&] { return vhost::lang::call(name, nlhs, inputs.arrays); });
        }
        host::Outputs result;
        const std::size_t wanted = nlhs < 0 ? 0 : static_cast<std::size_t>(nlhs);
        for (std::size_t i = 0; i < wanted && i < outputs.arrays.size(); ++i) {
            result.push_back(host::data::createArrayFromRyArray(outputs.arrays[i]));
        }
        return result;
    }

    void runEval(const std::u16string& text, const host::RunOptions& options) {
        EngineScope scope(m_engine);
        ThreadOutputRedirect redirect(streamSink(options.outStream()), streamSink(options.errStream()));
        reportingRuntimeErrors("eval", [&] {
            vhost::lang::evaluate(host::i18n::to_string(text));
            return 0;
        });
    }

    Engine& m_engine;
    std::mutex m_queuedMutex;
    std::vector<std::weak_ptr<QueuedRequest>> m_queued;
    std::size_t m_pruneAt = 64;
};

}  // namespace

void installHostEngine() {
    setHostEngineFactory([](Engine& engine) {
        auto made = std::make_shared<LanguageEngine>(engine);
        std::weak_ptr<LanguageEngine> weak = made;
        engine.setShutdownHook([weak] {
            if (auto live = weak.lock()) live->cancelQueued();
        });
        return made;
    });
}

}  // namespace vhost::boot
