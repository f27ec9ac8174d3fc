#include "cppapi/async.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <thread>
#include <utility>
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
#include "host/poison.hpp"

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

// One request a module started, in the one object the engine queues: what to run (the host's
// part), the module's callbacks and what the module's task handle shares.
class ModuleRequest final : public host::AsyncRequest {
public:
    enum Phase : int { Pending, Delivering, Done, Abandoned };

    // `functionName`: the function a feval runs (empty for an eval).
    ModuleRequest(void* engineHandle, std::string_view functionName)
        : AsyncRequest(functionName), module(engineHandle),
          record(*static_cast<OrbFunctionImpl*>(engineHandle)->requests) {
        owner = engineHandle;
    }
    // The module's streams look at the phase when they go: they go first (a request settled let
    // them go already).
    ~ModuleRequest() override {
        if (out) out.reset();
        if (err) err.reset();
    }

    bool abandoned() const noexcept { return phase.load(std::memory_order_acquire) == Abandoned; }
    // None of the module's code runs for it from now on, unless its completion has begun.
    void abandon() noexcept {
        int pending = Pending;
        phase.compare_exchange_strong(pending, Abandoned, std::memory_order_acq_rel);
    }

    void* const module;  // the engine handle the request was started with
    // The handle's record, kept here: a request may outlive the handle.
    ModuleRequests& record;
    std::atomic<int> phase{Pending};
    // The module's callbacks: the feval pair, or the eval pair when isEval.
    bool passThroughFlag = false;
    SetOutputsFcn setOutputsFcn = nullptr;
    SetExceptionFcn setExceptionFcn = nullptr;
    OnSuccessFcn onSuccessFcn = nullptr;
    OnErrorFcn onErrorFcn = nullptr;
    void* promise = nullptr;
    // What the task handle shares, a view of this request's task (the handle owns the request).
    host::Future<void> future;
    // The module's task handle, kept here so that a request costs one allocation: it holds the
    // request until the module destroys it (orbApiDestroyTaskHandle empties it).
    OrbTaskHandle handle;

protected:
    void complete() override;

private:
    ModuleOutcome deliver();
    ModuleOutcome deliverSuccess();
    ModuleOutcome deliverOutputs(std::span<host::data::Array> ran);
};

// --- the room of requests -------------------------------------------------------------------

// A request is made on a module's thread and freed, most often, by the signal thread that ran
// it last; a burst of requests started at once is freed in the order it was made. Memory freed
// by another thread than the one that allocated it costs both threads the allocator's shared
// lock, so requests come out of slabs of kSlabBlocks blocks: the thread that starts a slab hands
// its blocks out in order, and the slab goes back (to a few spares, else to the allocator) when
// the last of them is given back. A thread counts the blocks it gives back to one slab and
// subtracts them with one operation when it gives a block of another slab (or ends), so each
// side meets the other's writes once per slab, not once per request. Nothing is kept past the
// requests alive but the slab each thread hands from or last gave to, and the spares.
namespace blocks {

constexpr int kSlabBlocks = 64;
constexpr std::size_t kSpareSlabs = 16;

struct Slab {
    // Blocks handed out and not counted back yet, plus one while a thread hands blocks from it.
    // Alone on its line: the blocks after it are written while threads count.
    alignas(64) std::atomic<int> holds;
};

// What precedes each block: its slab, or null for a block allocated alone (by a thread that has
// ended its slabs). Sixteen bytes, so that the block keeps the allocator's alignment.
struct alignas(16) Prefix {
    Slab* slab;
};

// The slabs of one block size, and each thread's state for them: plain data, so that reaching
// it costs no check of whether it was made; the closer, made the first time the thread starts
// or counts back a slab, lets both slabs go when the thread ends.
template <std::size_t Bytes>
class Slabs {
public:
    static void* take() {
        Local& local = t_local;
        if (local.remaining == 0) [[unlikely]] {
            if (!startSlab(local)) return alone();
        }
        char* block = blockAt(local.handing, kSlabBlocks - local.remaining--);
        ORB_UNPOISON(block + sizeof(Prefix), Bytes);
        return block + sizeof(Prefix);
    }

    static void give(void* memory) noexcept {
        char* block = static_cast<char*>(memory) - sizeof(Prefix);
        Slab* const slab = reinterpret_cast<const Prefix*>(block)->slab;
        if (!slab) {
            ::operator delete(block, kStride);
            return;
        }
        // A block given back is not a request: a use of the request after it was freed is
        // still reported under the address sanitizer.
        ORB_POISON(memory, Bytes);
        Local& local = t_local;
        if (slab == local.counting) {
            ++local.counted;
            return;
        }
        if (local.closed) {
            letGo(slab, 1);
            return;
        }
        if (local.counting) {
            letGo(local.counting, local.counted);
        } else if (!local.closerMade) {
            makeCloser();
        }
        local.counting = slab;
        local.counted = 1;
    }

private:
    static constexpr std::size_t kStride = (sizeof(Prefix) + Bytes + 15) / 16 * 16;
    static constexpr std::size_t kSlabBytes = sizeof(Slab) + kStride * kSlabBlocks;

    struct Local {
        Slab* handing;  // the slab this thread hands blocks from, with its hold
        int remaining;  // its blocks not handed out yet
        Slab* counting;  // the slab of the last block this thread gave back
        int counted;     // blocks of it given back and not subtracted yet
        bool closerMade;
        bool closed;  // the thread is ending: blocks are allocated alone, counted back at once
    };
    static thread_local Local t_local;

    struct Closer {
        ~Closer() {
            Local& local = t_local;
            local.closed = true;
            if (Slab* slab = std::exchange(local.counting, nullptr)) letGo(slab, local.counted);
            if (Slab* slab = std::exchange(local.handing, nullptr)) letGo(slab, local.remaining + 1);
            local.remaining = 0;
        }
    };
    static void makeCloser() {
        thread_local Closer closer;
        (void)closer;
        t_local.closerMade = true;
    }

    struct Spares {
        std::mutex mutex;
        std::vector<Slab*> slabs;
    };
    static Spares& spares() {
        // Never destroyed: a request may be freed while the process exits.
        static Spares* const instance = [] {
            auto* made = new Spares;
            made->slabs.reserve(kSpareSlabs);
            return made;
        }();
        return *instance;
    }

    static char* blockAt(Slab* slab, int index) noexcept {
        return reinterpret_cast<char*>(slab) + sizeof(Slab) + kStride * static_cast<std::size_t>(index);
    }

    static bool startSlab(Local& local) {
        if (local.closed) return false;
        if (!local.closerMade) makeCloser();
        Slab* slab = nullptr;
        {
            Spares& all = spares();
            std::lock_guard lock(all.mutex);
            if (!all.slabs.empty()) {
                slab = all.slabs.back();
                all.slabs.pop_back();
            }
        }
        if (!slab) {
            slab = new (::operator new(kSlabBytes, std::align_val_t{alignof(Slab)})) Slab;
            for (int i = 0; i < kSlabBlocks; ++i) {
                char* block = blockAt(slab, i);
                reinterpret_cast<Prefix*>(block)->slab = slab;
                ORB_POISON(block + sizeof(Prefix), Bytes);
            }
        }
        // Published to the threads that give blocks back with the requests made in them.
        slab->holds.store(kSlabBlocks + 1, std::memory_order_relaxed);
        if (local.handing) letGo(local.handing, 1);
        local.handing = slab;
        local.remaining = kSlabBlocks;
        return true;
    }

    // Subtracts `count` from the slab's holds; the last one sends it back. Acquire and release:
    // whoever sends the slab back has seen every write to its blocks.
    static void letGo(Slab* slab, int count) noexcept {
        if (slab->holds.fetch_sub(count, std::memory_order_acq_rel) != count) return;
        {
            Spares& all = spares();
            std::lock_guard lock(all.mutex);
            if (all.slabs.size() < kSpareSlabs) {
                all.slabs.push_back(slab);
                return;
            }
        }
        ORB_UNPOISON(slab, kSlabBytes);
        ::operator delete(slab, kSlabBytes, std::align_val_t{alignof(Slab)});
    }

    static void* alone() {
        char* block = static_cast<char*>(::operator new(kStride));
        reinterpret_cast<Prefix*>(block)->slab = nullptr;
        return block + sizeof(Prefix);
    }
};

template <std::size_t Bytes>
thread_local typename Slabs<Bytes>::Local Slabs<Bytes>::t_local;

// The allocator of requests (with their control blocks, in one allocation).
template <class T>
struct Recycled {
    using value_type = T;
    static_assert(alignof(T) <= alignof(Prefix), "a block keeps the alignment of what precedes it");
    Recycled() noexcept = default;
    template <class U>
    Recycled(const Recycled<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n != 1) return static_cast<T*>(::operator new(n * sizeof(T)));
        return static_cast<T*>(Slabs<sizeof(T)>::take());
    }
    void deallocate(T* memory, std::size_t n) noexcept {
        if (n != 1) return ::operator delete(memory, n * sizeof(T));
        Slabs<sizeof(T)>::give(memory);
    }
    template <class U>
    bool operator==(const Recycled<U>&) const noexcept {
        return true;
    }
};

}  // namespace blocks

// One allocation per request: the request, its control block, the module's callbacks and task
// handle.
std::shared_ptr<ModuleRequest> newRequest(void* engine, std::string_view functionName = {}) {
    return std::allocate_shared<ModuleRequest>(blocks::Recycled<ModuleRequest>(), engine, functionName);
}

ModuleRequests& recordOf(void* module) { return *static_cast<OrbFunctionImpl*>(module)->requests; }

// The faults of modules' callbacks, rare: one lock for all.
struct Faults {
    std::mutex mutex;
    // Modules whose callbacks faulted since they were loaded, with the fault's identifier.
    std::vector<std::pair<void*, std::string>> modules;
};

Faults& faults() {
    // Never destroyed: a completion may still run while the process exits.
    static Faults* const instance = new Faults;
    return *instance;
}

// A cancel or refusal made by a thread other than the queue's: its completion runs module code
// on that thread, and a clear of the module waits for it. The thread's own are listed, so that
// a clear made inside one (from its callback) does not wait for itself.
class CompletingElsewhere {
public:
    explicit CompletingElsewhere(ModuleRequests& record) : m_record(record), m_outer(t_innermost) {
        m_record.elsewhere.fetch_add(1, std::memory_order_seq_cst);
        t_innermost = this;
    }
    ~CompletingElsewhere() {
        t_innermost = m_outer;
        m_record.elsewhere.fetch_sub(1, std::memory_order_release);
    }
    CompletingElsewhere(const CompletingElsewhere&) = delete;
    CompletingElsewhere& operator=(const CompletingElsewhere&) = delete;

    // How many of `record`'s the calling thread is inside.
    static int onThisThread(const ModuleRequests& record) noexcept {
        int count = 0;
        for (const CompletingElsewhere* scope = t_innermost; scope; scope = scope->m_outer)
            if (&scope->m_record == &record) ++count;
        return count;
    }

private:
    ModuleRequests& m_record;
    const CompletingElsewhere* m_outer;
    static thread_local const CompletingElsewhere* t_innermost;
};

thread_local const CompletingElsewhere* CompletingElsewhere::t_innermost = nullptr;

std::string moduleName(void* module) {
    return host::i18n::to_string(static_cast<const OrbFunctionImpl*>(module)->functionName);
}

// A callback of `module` faulted: the module is refused from now on, and the user hears why.
void reportFault(void* module, const ModuleOutcome& fault) {
    try {
        const std::string identifier = host::FatalException(fault.signal()).identifier();
        Faults& all = faults();
        {
            std::lock_guard lock(all.mutex);
            const bool known = std::any_of(all.modules.begin(), all.modules.end(),
                                           [&](const auto& entry) { return entry.first == module; });
            if (!known) all.modules.emplace_back(module, identifier);
            g_anyCallbackFault.store(true, std::memory_order_release);
        }
        host::ryWarningMsgId(host::MsgIdException<VELTRA::orbapi::CallbackFaulted>(moduleName(module), identifier));
    } catch (...) {
        // The report is best effort; the fault itself is contained either way.
    }
}

// What a callback's outcome leaves for the request's task: a fault is reported and, like any
// failure, reaches whoever waits for the request.
void passOn(const ModuleRequest& request, const ModuleOutcome& outcome) {
    if (faulted(outcome)) reportFault(request.module, outcome);
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
    // Owned by `request`, which releases it before anything of its own goes.
    ModuleStream(void* stream, ModuleWriteFcn write, ModuleDeleterFcn deleter, const ModuleRequest& request)
        : m_stream(stream), m_write(write), m_deleter(deleter), m_tracked(&request) {}
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
    const ModuleRequest* m_tracked;
    bool m_broken = false;
};

std::shared_ptr<host::u16streambuf> moduleStream(void* stream, ModuleWriteFcn write, ModuleDeleterFcn deleter,
                                                 const ModuleRequest& request) {
    if (!stream) return nullptr;
    return std::make_shared<ModuleStream>(stream, write, deleter, request);
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
                 const ModuleRequest& request) {
        if (!outputStream && !errorStream) return;
        m_own.emplace(makeAsyncOptions(moduleStream(outputStream, writeFcn, deleterFcn, request),
                                       moduleStream(errorStream, writeFcn, deleterFcn, request)));
    }
    const host::RunOptions& get() const {
        if (m_own) return *m_own;
        thread_local const host::RunOptions streamless = makeAsyncOptions(nullptr, nullptr);
        return streamless;
    }

private:
    std::optional<host::RunOptions> m_own;
};

// Hands the outcome to the module's callbacks, unless the module's requests were abandoned.
void ModuleRequest::complete() {
    if (running()) {
        // Run by the signal thread, the only one that abandons requests: nothing races the
        // phase here, so it is read and written without a locked exchange.
        if (phase.load(std::memory_order_relaxed) != Pending) return;
        phase.store(Delivering, std::memory_order_relaxed);
    } else {
        // Cancelled or refused, maybe on another thread while the signal thread abandons it.
        int pending = Pending;
        if (!phase.compare_exchange_strong(pending, Delivering, std::memory_order_acq_rel)) return;
    }
    const ModuleOutcome ended = deliver();
    phase.store(Done, std::memory_order_release);
    passOn(*this, ended);
}

// The outcome handed to the success callback, else (the request failed, or the success callback
// threw) to the failure callback; how the callback that ran ended. Each outcome is made where it
// is returned: nothing moved or assigned on the way.
ModuleOutcome ModuleRequest::deliver() {
    try {
        return deliverSuccess();
    } catch (...) {
        return deliverFailure([&](int code, void* data) {
            return callModuleCode([&] {
                if (isEval) {
                    onErrorFcn(promise, code, data);
                } else {
                    setExceptionFcn(promise, nlhs, passThroughFlag, code, data);
                }
            });
        });
    }
}

ModuleOutcome ModuleRequest::deliverSuccess() {
    // Throws what the request failed with.
    const std::span<host::data::Array> ran = outputs();
    ModuleOutcome ended = isEval ? callModuleCode([&] { onSuccessFcn(promise); }) : deliverOutputs(ran);
    // A success callback that threw hears its own failure through the failure callback.
    if (!faulted(ended)) ended.raise();
    return ended;
}

// Up to 20 outputs are handed from the stack, each with the reference the engine made it with.
ModuleOutcome ModuleRequest::deliverOutputs(std::span<host::data::Array> ran) {
    std::array<void*, 20> few;  // written before it is read
    std::vector<void*> many(ran.size() > few.size() ? ran.size() : 0);
    void** handed = many.empty() ? few.data() : many.data();
    for (std::size_t i = 0; i < ran.size(); ++i) handed[i] = ran[i].handOver();
    return callModuleCode([&] { setOutputsFcn(promise, nlhs, passThroughFlag, handed); });
}

// The task handle: shared ownership of the request, through its task's view.
std::uint64_t handleFor(const std::shared_ptr<ModuleRequest>& request) {
    request->handle.future = std::shared_ptr<host::Future<void>>(request, &request->future);
    return reinterpret_cast<std::uint64_t>(&request->handle);
}

// Queues a request, unless its module is being cleared: then the completion hears "cancelled"
// at once, on this thread.
std::uint64_t start(std::shared_ptr<ModuleRequest> request, host::HostEngine& host, const host::RunOptions& options) {
    // The view holds no reference: the request owns it, and the handle owns the request.
    request->future = host::Future<void>(std::shared_ptr<const host::FutureState<void>>(std::shared_ptr<void>(), &request->task()),
                                         std::shared_ptr<host::TaskReference>(std::shared_ptr<void>(), request.get()));
    request->id = host::createRequestID();
    // The module's reference is taken first, so that this one can go to the queue as it is: the
    // request's count is touched once per owner.
    const std::uint64_t handle = handleFor(request);
    // The clear raises its flag, then lists the queued requests; the queue links the request,
    // then reads the flag: either the request is refused here, or the clear finds it queued, or
    // both. A refused request is cancelled here, as one being settled elsewhere than on the
    // queue's thread: if the clear found it too, the one of the two cancels that takes it runs
    // the completion, and the clear waits for this one. The handle keeps a refused request.
    ModuleRequest& started = *request;
    if (!host.submit(std::move(request), options, &started.record.closing)) {
        const CompletingElsewhere completing(started.record);
        started.cancel_callback(false);
    }
    return handle;
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
            const CompletingElsewhere completing(static_cast<const ModuleRequest&>(*request).record);
            request->refuse(engineHeldError(holder, now - start));
        }
    }
}

}  // namespace

namespace {

std::shared_ptr<ModuleRequest> fevalRequest(void* engine, std::string_view name, int nlhs, bool passThroughFlag,
                                            SetOutputsFcn setOutputsFcn, SetExceptionFcn setExceptionFcn,
                                            void* promise) {
    auto request = newRequest(engine, name);
    request->nlhs = nlhs;
    request->passThroughFlag = passThroughFlag;
    request->setOutputsFcn = setOutputsFcn;
    request->setExceptionFcn = setExceptionFcn;
    request->promise = promise;
    return request;
}

std::uint64_t startWithStreams(void* engine, std::shared_ptr<ModuleRequest> request, void* outputStream,
                               void* errorStream, ModuleWriteFcn writeFcn, ModuleDeleterFcn deleterFcn) {
    const AsyncOptions options(outputStream, errorStream, writeFcn, deleterFcn, *request);
    return start(std::move(request), engineOf(engine), options.get());
}

}  // namespace

std::uint64_t fevalAsyncImpl(void* engine, const std::string& name, const host::Outputs& arguments, int nlhs,
                             bool passThroughFlag, SetOutputsFcn setOutputsFcn, SetExceptionFcn setExceptionFcn,
                             void* promise, void* outputStream, void* errorStream, ModuleWriteFcn writeFcn,
                             ModuleDeleterFcn deleterFcn) {
    auto request =
        fevalRequest(engine, name.c_str(), nlhs, passThroughFlag, setOutputsFcn, setExceptionFcn, promise);
    for (const host::data::Array& argument : arguments) request->arguments.push_back(argument);
    return startWithStreams(engine, std::move(request), outputStream, errorStream, writeFcn, deleterFcn);
}

SettledRequests::SettledRequests(const impl_info_tag* module, bool faulted) noexcept
    : m_module(module ? module->engineHandle : nullptr) {
    if (!m_module) return;
    m_requests = &recordOf(m_module);
    m_requests->closing.fetch_add(1, std::memory_order_seq_cst);
    try {
        settle(faulted);
    } catch (...) {
        // Memory ran out: what could not be settled is left as it is; the clear goes on.
    }
}

void SettledRequests::settle(bool faulted) {
    ModuleRequests& record = recordOf(m_module);
    {
        Faults& all = faults();
        std::lock_guard lock(all.mutex);
        const auto fault = std::find_if(all.modules.begin(), all.modules.end(),
                                        [&](const auto& entry) { return entry.first == m_module; });
        if (fault != all.modules.end()) {
            faulted = true;
            all.modules.erase(fault);
        }
    }
    // A start under way (on a thread of the module's) is refused by the queue or listed here.
    const std::vector<std::shared_ptr<host::AsyncRequest>> outstanding = engineOf(m_module).requestsOf(m_module);
    for (const auto& each : outstanding) {
        auto& request = static_cast<ModuleRequest&>(*each);
        // What runs on this thread now is the request whose own work clears the module: its
        // completion would run after the code is gone, so it is abandoned. So is every request
        // of a module that faulted: none of its code runs for them.
        if (faulted || request.running()) request.abandon();
        // Queued requests are cancelled now, in the order they were started, while the module's
        // code is still there: each completion hears "cancelled" on this thread.
        if (!request.running()) request.cancel_callback(false);
    }
    // A completion under way on another thread (which cancelled or refused a request first) is
    // waited for: the module's code must outlive it.
    const int own = CompletingElsewhere::onThisThread(record);
    while (record.elsewhere.load(std::memory_order_acquire) > own) std::this_thread::sleep_for(50us);
}

SettledRequests::~SettledRequests() {
    if (m_requests) m_requests->closing.fetch_sub(1, std::memory_order_release);
}

void chargeCallbackFault(void* module, int signal) noexcept {
    platform::claimCaughtFault();
    if (module) reportFault(module, ModuleOutcome::fault(signal));
}

std::atomic<bool> g_anyCallbackFault{false};

std::string callbackFaultOf(const impl_info_tag* module) {
    Faults& all = faults();
    if (!module || !module->engineHandle || !anyCallbackFault()) return {};
    std::lock_guard lock(all.mutex);
    for (const auto& [faulted, identifier] : all.modules) {
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
    // The usual request, an ASCII name (valid UTF-8) and its inputs' list, passes in one look at
    // each character; anything else takes the general checks, which say what is wrong.
    std::size_t length = 0;
    bool plain = functionName && nrhs >= 0 && (nrhs == 0 || prhs);
    for (; plain && functionName[length]; ++length) plain = (static_cast<unsigned char>(functionName[length]) & 0x80) == 0;
    if (!plain) [[unlikely]] {
        std::string problem = orb::capi::textProblem("the function name", functionName);
        if (problem.empty()) problem = orb::capi::arrayListProblem("inputs", nrhs, prhs);
        if (!problem.empty()) return refusedRequest(engine, "orbApiFevalAsync", problem, setExceptionFcn, promise, nlhs);
        length = std::strlen(functionName);
    }
    // The inputs go straight into the request, one reference each.
    auto request = fevalRequest(engine, {functionName, length}, nlhs, passThroughFlag, setOutputsFcn,
                                setExceptionFcn, promise);
    for (int i = 0; i < nrhs; ++i) request->arguments.push_back(host::data::Array::share(static_cast<host::data::ArrayImpl*>(prhs[i])));
    return startWithStreams(engine, std::move(request), outputStream, errorStream, writeFcn, deleterFcn);
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
    auto request = newRequest(engine);
    request->isEval = true;
    request->text = statement;
    request->onSuccessFcn = onSuccessFcn;
    request->onErrorFcn = onErrorFcn;
    request->promise = promise;
    return startWithStreams(engine, std::move(request), outputStream, errorStream, writeFcn, deleterFcn);
}

bool orbApiCancelFevalWithCompletion(void* taskHandle, bool allowInterrupt) {
    auto* handle = static_cast<OrbTaskHandle*>(taskHandle);
    std::shared_ptr<host::TaskReference> task = handle->future ? handle->future->taskReference() : nullptr;
    if (!task) return false;
    const CompletingElsewhere completing(static_cast<const ModuleRequest&>(*task).record);
    if (task->cancellationRequested()) return task->cancel_callback(allowInterrupt) != host::CancelStatus::TooLate;
    task->requestCancellation(allowInterrupt);
    return task->cancelStatus() != host::CancelStatus::TooLate;
}

// The handle lives in its request: emptying it may free both (reset leaves the member empty
// before it lets go of the request). With it the module gives up every way to reach the request.
void orbApiDestroyTaskHandle(void* taskHandle) {
    auto* handle = static_cast<OrbTaskHandle*>(taskHandle);
    if (!handle || !handle->future) return;
    if (host::TaskReference* task = handle->future->taskReference().get()) static_cast<ModuleRequest*>(task)->detach();
    handle->future.reset();
}

void orbApiToWaitForPendingfevalEvalToComplete(void* taskHandle) {
    auto* handle = static_cast<OrbTaskHandle*>(taskHandle);
    if (!handle || !handle->future) return;
    waitForRequest(*handle->future);
    handle->future->get();
}
