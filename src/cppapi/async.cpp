#include "cppapi/async.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "capi/message_ids.hpp"
#include "cppapi/engine_handle.hpp"
#include "cppapi/error_conversion.hpp"
#include "cppapi/feval.hpp"
#include "cppapi/variables.hpp"
#include "capi/arguments.hpp"
#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "capi/impl_info.hpp"
#include "platform/fault_guard.hpp"
#include "platform/module_boundary.hpp"

namespace orb::cppapi {
namespace {

using namespace std::chrono_literals;

constexpr const char16_t* kQueueName = u"CppORBQueue";

// --- module code outside a module call -------------------------------------------------------

using platform::ModuleOutcome;

bool faulted(const ModuleOutcome& outcome) noexcept {
    return outcome.kind() == ModuleOutcome::Kind::MachineFault || outcome.kind() == ModuleOutcome::Kind::Abort;
}

// Runs a module's callback through the runtime's one boundary. Completions and stream callbacks
// may run while no call of the module is in progress (the host idle), where no call frame would
// contain a fault; a fault is the callback's module's, charged here (reportFault) and claimed so
// that no module frame around this one takes it for its own.
template <class Fn>
ModuleOutcome callModuleCode(Fn&& fn) {
    ModuleOutcome outcome = platform::callModuleCode(std::forward<Fn>(fn));
    if (faulted(outcome)) platform::claimCaughtFault();
    return outcome;
}

// --- the requests each module has outstanding -------------------------------------------------

// One request a module started, from its start until its completion has returned. While it is
// outstanding it is linked into the registry, so that clearing the module can settle it.
class Tracked : public std::enable_shared_from_this<Tracked> {
public:
    enum Phase : int { Pending, Delivering, Done, Abandoned };

    explicit Tracked(void* module) : module(module) {}
    ~Tracked();

    bool abandoned() const noexcept { return phase.load(std::memory_order_acquire) == Abandoned; }

    void* const module;  // the engine handle the request was started with
    std::atomic<int> phase{Pending};
    std::atomic<std::thread::id> deliverer{};
    // Under the registry's lock.
    std::shared_ptr<host::TaskReference> task;
    // What the request's task handle shares: kept here so that the handle costs one allocation.
    host::Future<void> future;
    Tracked* previous = nullptr;
    Tracked* next = nullptr;
    std::atomic<bool> linked{false};
};

struct Registry {
    std::mutex mutex;
    std::condition_variable settled;
    // In the order the requests were started.
    Tracked* first = nullptr;
    Tracked* last = nullptr;
    // Modules being cleared: requests they start meanwhile are cancelled at once.
    std::vector<void*> closing;
    // Modules whose callbacks faulted since they were loaded, with the fault's identifier.
    std::vector<std::pair<void*, std::string>> faults;
    std::atomic<bool> anyFault{false};

    void link(Tracked& tracked) {
        tracked.previous = last;
        (last ? last->next : first) = &tracked;
        last = &tracked;
        tracked.linked.store(true, std::memory_order_release);
    }
    void unlink(Tracked& tracked) {
        if (!tracked.linked.load(std::memory_order_relaxed)) return;
        (tracked.previous ? tracked.previous->next : first) = tracked.next;
        (tracked.next ? tracked.next->previous : last) = tracked.previous;
        tracked.previous = tracked.next = nullptr;
        tracked.linked.store(false, std::memory_order_release);
    }
    bool isClosing(void* module) const { return std::find(closing.begin(), closing.end(), module) != closing.end(); }
};

Registry& registry() {
    // Never destroyed: a completion may still run while the process exits.
    static Registry* const instance = new Registry;
    return *instance;
}

Tracked::~Tracked() {
    // A request dropped without its completion (it was never queued) leaves the registry here.
    if (!linked.load(std::memory_order_acquire)) return;
    Registry& all = registry();
    {
        std::lock_guard lock(all.mutex);
        all.unlink(*this);
    }
    all.settled.notify_all();
}

// A completion's claim to call the module: none once the module's requests were abandoned.
class Delivery {
public:
    explicit Delivery(Tracked& tracked) : m_tracked(tracked) {
        tracked.deliverer.store(std::this_thread::get_id(), std::memory_order_relaxed);
        int pending = Tracked::Pending;
        m_claimed = tracked.phase.compare_exchange_strong(pending, Tracked::Delivering, std::memory_order_acq_rel);
    }
    ~Delivery() {
        if (!m_claimed) return;
        Registry& all = registry();
        {
            std::lock_guard lock(all.mutex);
            m_tracked.phase.store(Tracked::Done, std::memory_order_release);
            all.unlink(m_tracked);
        }
        all.settled.notify_all();
    }
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;
    explicit operator bool() const noexcept { return m_claimed; }

private:
    Tracked& m_tracked;
    bool m_claimed;
};

std::string moduleName(void* module) {
    return host::i18n::to_string(static_cast<const OrbFunctionImpl*>(module)->functionName);
}

// A callback of `module` faulted: the module is refused from now on, and the user hears why.
void reportFault(void* module, const ModuleOutcome& fault) {
    try {
        const std::string identifier = host::FatalException(fault.signal()).identifier();
        Registry& all = registry();
        {
            std::lock_guard lock(all.mutex);
            const bool known = std::any_of(all.faults.begin(), all.faults.end(),
                                           [&](const auto& entry) { return entry.first == module; });
            if (!known) all.faults.emplace_back(module, identifier);
            all.anyFault.store(true, std::memory_order_release);
        }
        host::ryWarningMsgId(host::MsgIdException<VELTRA::orbapi::CallbackFaulted>(moduleName(module), identifier));
    } catch (...) {
        // The report is best effort; the fault itself is contained either way.
    }
}

// What a callback's outcome leaves for the request's task: a fault is reported and, like any
// failure, reaches whoever waits for the request.
void passOn(const Tracked& tracked, const ModuleOutcome& outcome) {
    if (faulted(outcome)) reportFault(tracked.module, outcome);
    outcome.raise();
}

// The failure callbacks' code and data for the exception in flight, and how the callback ended.
// A runtime error structure handed out here carries the module's reference.
template <class Deliver>
ModuleOutcome deliverFailure(Deliver&& deliver) {
    try {
        throw;
    } catch (const host::AlreadyCancelledException&) {
        return deliver(kOrbErrorCancelled, nullptr);
    } catch (const host::RuntimeException& error) {
        return deliver(kOrbErrorHost, buildRuntimeErrorArray(error).newReference());
    } catch (const platform::ForeignModuleException& error) {
        // What a success callback threw, as the boundary took it: only a standard one has a text.
        const bool standard = error.kind() == ModuleOutcome::ForeignKind::Standard;
        return deliver(kOrbErrorOther, standard ? const_cast<char*>(error.what()) : nullptr);
    } catch (const std::exception& error) {
        return deliver(kOrbErrorOther, const_cast<char*>(error.what()));
    } catch (...) {
        return deliver(kOrbErrorOther, nullptr);
    }
}

// A module's stream for one request. Writes and the final release go through the boundary; they
// stop once the module's requests were abandoned (its code is gone: the stream object is left as
// it is) or a write faulted.
class ModuleStream final : public host::u16streambuf {
public:
    ModuleStream(void* stream, ModuleWriteFcn write, ModuleDeleterFcn deleter, std::shared_ptr<Tracked> tracked)
        : m_stream(stream), m_write(write), m_deleter(deleter), m_tracked(std::move(tracked)) {}
    ~ModuleStream() override {
        if (m_tracked->abandoned()) return;
        const ModuleOutcome outcome = callModuleCode([this] { m_deleter(m_stream); });
        if (faulted(outcome)) reportFault(m_tracked->module, outcome);
    }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char16_t unit = traits_type::to_char_type(c);
        write(&unit, 1);
        return c;
    }
    std::streamsize xsputn(const char16_t* text, std::streamsize count) override {
        write(text, static_cast<std::size_t>(count));
        return count;
    }

private:
    void write(const char16_t* text, std::size_t count) {
        if (m_broken || m_tracked->abandoned()) return;
        const ModuleOutcome outcome = callModuleCode([&] { m_write(m_stream, text, count); });
        if (!faulted(outcome)) {
            outcome.raise();
            return;
        }
        m_broken = true;
        reportFault(m_tracked->module, outcome);
    }

    void* m_stream;
    ModuleWriteFcn m_write;
    ModuleDeleterFcn m_deleter;
    std::shared_ptr<Tracked> m_tracked;
    bool m_broken = false;
};

std::shared_ptr<host::u16streambuf> moduleStream(void* stream, ModuleWriteFcn write, ModuleDeleterFcn deleter,
                                                 const std::shared_ptr<Tracked>& tracked) {
    if (!stream) return nullptr;
    return std::make_shared<ModuleStream>(stream, write, deleter, tracked);
}

host::RunOptions makeAsyncOptions(std::shared_ptr<host::u16streambuf> out, std::shared_ptr<host::u16streambuf> err) {
    host::RunOptions options;
    // Unlike a synchronous call, an output stream is always set (empty when none was given).
    options.setOutStream(std::move(out), host::getDefaultSinkTraits());
    options.setErrStream(err ? std::move(err) : sharedNullStreambuf(), host::getDefaultSinkTraits());
    options.setDequeueMode(host::WhenToDequeue::WhenIdle);
    options.setQueueName(kQueueName);
    return options;
}

// The options of a request. Those of a request without streams of the module's are the same for
// every request, made once per thread: the queue name would otherwise be allocated each time.
class AsyncOptions {
public:
    AsyncOptions(void* outputStream, void* errorStream, ModuleWriteFcn writeFcn, ModuleDeleterFcn deleterFcn,
                 const std::shared_ptr<Tracked>& tracked) {
        if (!outputStream && !errorStream) return;
        m_own.emplace(makeAsyncOptions(moduleStream(outputStream, writeFcn, deleterFcn, tracked),
                                       moduleStream(errorStream, writeFcn, deleterFcn, tracked)));
    }
    const host::RunOptions& get() const {
        if (m_own) return *m_own;
        thread_local const host::RunOptions streamless = makeAsyncOptions(nullptr, nullptr);
        return streamless;
    }

private:
    std::optional<host::RunOptions> m_own;
};

std::shared_ptr<Tracked> track(void* module) { return std::make_shared<Tracked>(module); }

// What runs when an asynchronous feval has finished: hands the outputs, or the failure, to the
// module's callbacks.
struct FevalDone {
    int nlhs;
    bool passThroughFlag;
    SetOutputsFcn setOutputsFcn;
    SetExceptionFcn setExceptionFcn;
    void* promise;
    std::shared_ptr<Tracked> tracked;

    void operator()(host::Future<host::Outputs> result) const {
        const Delivery delivery(*tracked);
        if (!delivery) return;
        ModuleOutcome outcome;
        try {
            const host::Outputs& outputs = result.value();
            // Up to 20 outputs are handed from the stack.
            std::array<void*, 20> few{};
            std::vector<void*> many(outputs.size() > few.size() ? outputs.size() : 0);
            void** handed = many.empty() ? few.data() : many.data();
            for (std::size_t i = 0; i < outputs.size(); ++i) handed[i] = outputs[i].newReference();
            outcome = callModuleCode([&] { setOutputsFcn(promise, nlhs, passThroughFlag, handed); });
            // A success callback that threw hears its own failure through the failure callback.
            if (!faulted(outcome)) outcome.raise();
        } catch (...) {
            outcome = deliverFailure([&](int code, void* data) {
                return callModuleCode([&] { setExceptionFcn(promise, nlhs, passThroughFlag, code, data); });
            });
        }
        passOn(*tracked, outcome);
    }
};

struct EvalDone {
    OnSuccessFcn onSuccessFcn;
    OnErrorFcn onErrorFcn;
    void* promise;
    std::shared_ptr<Tracked> tracked;

    void operator()(host::Future<void> result) const {
        const Delivery delivery(*tracked);
        if (!delivery) return;
        ModuleOutcome outcome;
        try {
            result.get();
            outcome = callModuleCode([&] { onSuccessFcn(promise); });
            if (!faulted(outcome)) outcome.raise();
        } catch (...) {
            outcome = deliverFailure(
                [&](int code, void* data) { return callModuleCode([&] { onErrorFcn(promise, code, data); }); });
        }
        passOn(*tracked, outcome);
    }
};

std::uint64_t handleFor(const std::shared_ptr<Tracked>& tracked, host::Future<void> task) {
    auto* handle = new (std::nothrow) OrbTaskHandle;
    if (!handle) return 0;
    tracked->future = std::move(task);
    handle->future = std::shared_ptr<host::Future<void>>(tracked, &tracked->future);
    return reinterpret_cast<std::uint64_t>(handle);
}

// Queues a request through `post` and tracks it, unless its module is being cleared: then the
// completion hears "cancelled" at once, on this thread.
template <class Post, class Cancel>
std::uint64_t startTracked(const std::shared_ptr<Tracked>& tracked, Post&& post, Cancel&& cancelNow) {
    Registry& all = registry();
    std::unique_lock lock(all.mutex);
    if (all.isClosing(tracked->module)) {
        lock.unlock();
        // As the host's completion would: what the callback ended with becomes the task's.
        try {
            cancelNow(std::make_exception_ptr(host::AlreadyCancelledException()));
        } catch (...) {
            return handleFor(tracked, host::Future<void>::failed(std::current_exception()));
        }
        return handleFor(tracked, host::Future<void>::ready());
    }
    // Linked and queued under one hold of the lock, so that a clear sees the request with its
    // task reference or not at all.
    all.link(*tracked);
    host::Future<void> task = post();
    tracked->task = task.taskReference();
    lock.unlock();
    return handleFor(tracked, std::move(task));
}

// How long a waiter on another thread lets a module call hold the engine before the request is
// refused: ORB_ENGINE_HOLD_LIMIT seconds (a decimal number), 5 by default.
std::chrono::nanoseconds holdLimit() {
    constexpr std::chrono::nanoseconds kDefault = 5s;
    const char* text = std::getenv("ORB_ENGINE_HOLD_LIMIT");
    if (!text) return kDefault;
    double seconds = 0;
    const auto [end, error] = std::from_chars(text, text + std::strlen(text), seconds);
    if (error != std::errc() || *end != '\0' || !(seconds > 0) || seconds > 86400) return kDefault;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds));
}

std::exception_ptr engineHeldError(const std::string& holder, std::chrono::steady_clock::duration waited) {
    using Tag = VELTRA::orbapi::EngineHeld;
    const auto tenths = std::chrono::duration_cast<std::chrono::milliseconds>(waited).count() / 100;
    const std::string seconds = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
    const std::string identifier = capi::messageIdentifier<Tag>();
    return std::make_exception_ptr(host::RuntimeException(
        identifier, host::i18n::GetFormattedMessage(identifier, {host::MessageArg(holder), host::MessageArg(seconds)})));
}

// Waits for a request. The signal thread runs the queue meanwhile. Another thread cannot: when
// a module call holds the engine without serving the queue for the whole limit, nothing would
// ever run the request, so it is refused and the waiter hears which call holds the engine.
void waitForRequest(const host::Future<void>& task) {
    host::pumpWhileWaiting([&] { return task.isReady(); });
    const std::shared_ptr<host::TaskReference>& request = task.taskReference();
    if (!request || task.isReady()) return;
    const std::chrono::nanoseconds limit = holdLimit();
    const std::chrono::nanoseconds slice = std::clamp<std::chrono::nanoseconds>(limit / 4, 1ms, 250ms);
    const auto start = std::chrono::steady_clock::now();
    auto lastServed = start;
    while (!task.waitFor(slice)) {
        const std::string holder = request->heldBy();
        const auto now = std::chrono::steady_clock::now();
        if (holder.empty()) {
            lastServed = now;
        } else if (now - lastServed >= limit) {
            // Refused now; or it has just left the queue, and then the engine is running it.
            request->refuse(engineHeldError(holder, now - start));
        }
    }
}

}  // namespace

std::uint64_t fevalAsyncImpl(void* engine, const std::string& name, const host::Outputs& arguments, int nlhs,
                             bool passThroughFlag, SetOutputsFcn setOutputsFcn, SetExceptionFcn setExceptionFcn,
                             void* promise, void* outputStream, void* errorStream, ModuleWriteFcn writeFcn,
                             ModuleDeleterFcn deleterFcn) {
    host::HostEngine& host = engineOf(engine);
    const std::shared_ptr<Tracked> tracked = track(engine);
    const AsyncOptions options(outputStream, errorStream, writeFcn, deleterFcn, tracked);
    const host::RequestID id = host::createRequestID();
    const FevalDone done{nlhs, passThroughFlag, setOutputsFcn, setExceptionFcn, promise, tracked};
    return startTracked(
        tracked,
        [&] { return host.fevalWithCompletion(name, arguments, nlhs, host::FevalCompletion(done), options.get(), id); },
        [&](std::exception_ptr cancelled) { done(host::Future<host::Outputs>::failed(std::move(cancelled))); });
}

SettledRequests::SettledRequests(const impl_info_tag* module, bool faulted) noexcept
    : m_module(module ? module->engineHandle : nullptr) {
    if (!m_module) return;
    try {
        settle(faulted);
    } catch (...) {
        // Memory ran out: what could not be settled is left as it is; the clear goes on.
    }
}

void SettledRequests::settle(bool faulted) {
    Registry& all = registry();
    std::vector<std::shared_ptr<Tracked>> outstanding;
    {
        std::lock_guard lock(all.mutex);
        all.closing.push_back(m_module);
        const auto fault = std::find_if(all.faults.begin(), all.faults.end(),
                                        [&](const auto& entry) { return entry.first == m_module; });
        if (fault != all.faults.end()) {
            faulted = true;
            all.faults.erase(fault);
        }
        for (Tracked* tracked = all.first; tracked; tracked = tracked->next) {
            // One whose last reference is going is leaving the registry by itself.
            if (tracked->module != m_module) continue;
            if (auto held = tracked->weak_from_this().lock()) outstanding.push_back(std::move(held));
        }
    }
    for (const auto& tracked : outstanding) {
        // A module that faulted runs no more code: its completions will call nothing.
        int pending = Tracked::Pending;
        if (faulted) tracked->phase.compare_exchange_strong(pending, Tracked::Abandoned, std::memory_order_acq_rel);
        // Queued requests are cancelled now, in the order they were started, while the module's
        // code is still there: each completion hears "cancelled" on this thread.
        tracked->task->cancel_callback(false);
    }
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock lock(all.mutex);
    for (const auto& tracked : outstanding) {
        // A completion under way on another thread (which cancelled or refused the request
        // first) is waited for: the module's code must outlive it.
        all.settled.wait(lock, [&] {
            if (!tracked->linked.load(std::memory_order_relaxed)) return true;
            switch (tracked->phase.load(std::memory_order_acquire)) {
                case Tracked::Delivering:
                    return tracked->deliverer.load(std::memory_order_relaxed) == self;
                case Tracked::Pending:
                    return tracked->task->cancelStatus() == host::CancelStatus::TooLate;
                default:
                    return true;
            }
        });
        if (!tracked->linked.load(std::memory_order_relaxed)) continue;
        // What is left runs on this thread: the request whose own work clears the module. Its
        // completion would run after the code is gone, so it is abandoned.
        int pending = Tracked::Pending;
        tracked->phase.compare_exchange_strong(pending, Tracked::Abandoned, std::memory_order_acq_rel);
        all.unlink(*tracked);
    }
}

SettledRequests::~SettledRequests() {
    if (!m_module) return;
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    // Handles are reused: a module loaded later may get this one.
    all.closing.erase(std::find(all.closing.begin(), all.closing.end(), m_module));
}

void chargeCallbackFault(void* module, int signal) noexcept {
    platform::claimCaughtFault();
    if (module) reportFault(module, ModuleOutcome::fault(signal));
}

bool anyCallbackFault() noexcept { return registry().anyFault.load(std::memory_order_acquire); }

std::string callbackFaultOf(const impl_info_tag* module) {
    Registry& all = registry();
    if (!module || !module->engineHandle || !all.anyFault.load(std::memory_order_acquire)) return {};
    std::lock_guard lock(all.mutex);
    for (const auto& [faulted, identifier] : all.faults) {
        if (faulted == module->engineHandle) return identifier;
    }
    return {};
}

}  // namespace orb::cppapi

using namespace orb::cppapi;

std::uint64_t orbApiFevalAsync(void* engine, int nlhs, int nrhs, void** prhs, const char* functionName,
                               bool passThroughFlag, SetOutputsFcn setOutputsFcn, SetExceptionFcn setExceptionFcn,
                               void* promise, void* outputStream, void* errorStream, ModuleWriteFcn writeFcn,
                               ModuleDeleterFcn deleterFcn) {
    std::string problem = orb::capi::textProblem("the function name", functionName);
    if (problem.empty()) problem = orb::capi::arrayListProblem("inputs", nrhs, prhs);
    if (!problem.empty()) return refusedRequest(engine, "orbApiFevalAsync", problem, setExceptionFcn, promise, nlhs);
    // The request copies its arguments: the list handed over is a vector kept per thread, not one
    // allocated per request. A request started while the thread's list is in use (from a callback
    // that runs during a start) has a list of its own.
    thread_local host::Outputs kept;
    thread_local bool inUse = false;
    if (inUse) {
        return fevalAsyncImpl(engine, functionName, wrapInputs(nrhs, prhs), nlhs, passThroughFlag, setOutputsFcn,
                              setExceptionFcn, promise, outputStream, errorStream, writeFcn, deleterFcn);
    }
    struct Use {
        Use() { inUse = true; }
        ~Use() {
            kept.clear();
            inUse = false;
        }
    } use;
    for (int i = 0; i < nrhs; ++i) kept.push_back(host::data::Array::share(static_cast<host::data::ArrayImpl*>(prhs[i])));
    return fevalAsyncImpl(engine, functionName, kept, nlhs, passThroughFlag, setOutputsFcn, setExceptionFcn, promise,
                          outputStream, errorStream, writeFcn, deleterFcn);
}

std::uint64_t orbApiEvalAsync(void* engine, const char16_t* statement, OnSuccessFcn onSuccessFcn,
                              OnErrorFcn onErrorFcn, void* promise, void* outputStream, void* errorStream,
                              ModuleWriteFcn writeFcn, ModuleDeleterFcn deleterFcn) {
    if (!statement) {
        // Refused like a request with a bad argument: at once, through the failure callback, which
        // hears only code and data (the request travels as the promise the refusal hands back).
        struct Refused {
            OnErrorFcn onErrorFcn;
            void* promise;
        } refused{onErrorFcn, promise};
        const SetExceptionFcn toOnError = [](void* request, int, bool, int code, void* data) {
            const auto* r = static_cast<Refused*>(request);
            r->onErrorFcn(r->promise, code, data);
        };
        return refusedRequest(engine, "orbApiEvalAsync", "the statement is null", onErrorFcn ? toOnError : nullptr,
                              &refused, 0);
    }
    host::HostEngine& host = engineOf(engine);
    const std::shared_ptr<Tracked> tracked = track(engine);
    const AsyncOptions options(outputStream, errorStream, writeFcn, deleterFcn, tracked);
    const host::RequestID id = host::createRequestID();
    const EvalDone done{onSuccessFcn, onErrorFcn, promise, tracked};
    return startTracked(
        tracked, [&] { return host.evalWithCompletion(statement, host::EvalCompletion(done), options.get(), id); },
        [&](std::exception_ptr cancelled) { done(host::Future<void>::failed(std::move(cancelled))); });
}

bool orbApiCancelFevalWithCompletion(void* taskHandle, bool allowInterrupt) {
    auto* handle = static_cast<OrbTaskHandle*>(taskHandle);
    std::shared_ptr<host::TaskReference> task = handle->future ? handle->future->taskReference() : nullptr;
    if (!task) return false;
    if (task->cancellationRequested()) return task->cancel_callback(allowInterrupt) != host::CancelStatus::TooLate;
    task->requestCancellation(allowInterrupt);
    return task->cancelStatus() != host::CancelStatus::TooLate;
}

void orbApiDestroyTaskHandle(void* taskHandle) { delete static_cast<OrbTaskHandle*>(taskHandle); }

void orbApiToWaitForPendingfevalEvalToComplete(void* taskHandle) {
    auto* handle = static_cast<OrbTaskHandle*>(taskHandle);
    if (!handle || !handle->future) return;
    waitForRequest(*handle->future);
    handle->future->get();
}
