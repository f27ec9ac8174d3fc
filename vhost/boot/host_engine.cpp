// The engine's HostEngine: runs requests of C++ modules in the host language.
//
// A synchronous feval runs on the engine's signal thread, right away: the arguments become host
// arrays, the language calls the function with the request's output and error streams in place
// of the command window, and the outputs come back as data arrays. A host error leaves as the
// distributor's RuntimeException; anything else leaves unchanged.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

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

// The room a request runs in: the host forms of its inputs, held as the language's argument
// list, and its outputs as data arrays. A built-in reads its inputs and hands none of them on, so
// it is given forms borrowed from the data arrays (see host::data::borrowRyArray), with what
// keeps each alive: the same input passed to many requests is converted once. Any other function
// (a module's) may take an input over or hand it back, so it gets copies of its own, destroyed
// when the call ends. The room is the engine's, kept between requests (nested requests take their
// own, one level deeper): a queue of requests would otherwise allocate lists for each, and the
// outputs would be freed on whichever thread let the request go last.
struct RequestRoom {
    vhost::lang::Arguments arrays;
    std::vector<host::data::FormKeep> keep;
    host::Outputs outputs;
};

// The engine's rooms, one per level of nesting, each allocated once: a room stays where it is
// while a nested request adds the next, and reaching one is a load (a deque's index costs
// every request a few dozen instructions).
struct Rooms {
    std::vector<std::unique_ptr<RequestRoom>> levels;
    std::size_t inUse = 0;
    // Whether the next level has its room already; grow() makes it.
    bool ready() const noexcept { return inUse < levels.size(); }
    void grow() { levels.push_back(std::make_unique<RequestRoom>()); }
};

class Room {
public:
    explicit Room(Rooms& rooms) : m_rooms(rooms) {
        if (!m_rooms.ready()) m_rooms.grow();
        m_room = m_rooms.levels[m_rooms.inUse++].get();
    }
    Room(const Room&) = delete;
    Room& operator=(const Room&) = delete;
    ~Room() {
        releaseInputs();
        m_room->outputs.clear();
        --m_rooms.inUse;
    }

    const vhost::lang::Arguments& borrow(std::span<const host::data::Array> arguments) {
        m_borrowed = true;
        m_room->keep.reserve(arguments.size());
        m_room->arrays.reserve(arguments.size());
        for (const host::data::Array& argument : arguments)
            m_room->arrays.push_back(host::data::borrowRyArray(argument, m_room->keep.emplace_back()));
        return m_room->arrays;
    }
    const vhost::lang::Arguments& copy(std::span<const host::data::Array> arguments) {
        m_room->arrays.reserve(arguments.size());
        for (const auto& argument : arguments) m_room->arrays.push_back(host::data::createRyArray(argument));
        return m_room->arrays;
    }
    // The inputs go as soon as the call has returned.
    void releaseInputs() noexcept {
        if (!m_borrowed)
            for (const ryArray* array : m_room->arrays) host::destroyArray(const_cast<ryArray*>(array));
        m_borrowed = false;
        m_room->arrays.clear();
        m_room->keep.clear();
    }
    host::Outputs& outputs() noexcept { return m_room->outputs; }

private:
    Rooms& m_rooms;
    RequestRoom* m_room;
    bool m_borrowed = false;
};

// Printed text reaches a request's stream as UTF-16, in one write per piece of output. The
// engine's two sinks are made once and write to the streams of the request running now, which
// holds them meanwhile: a request only swaps two pointers in and out (nested requests restore
// their caller's on the way back).
class RequestStreams {
public:
    RequestStreams() = default;
    RequestStreams(const RequestStreams&) = delete;  // the sinks point at this one
    RequestStreams& operator=(const RequestStreams&) = delete;
    struct Current {
        host::u16streambuf* out = nullptr;
        host::u16streambuf* err = nullptr;
    };
    class InPlace {
    public:
        InPlace(RequestStreams& streams, Current now) noexcept
            : m_streams(streams), m_previous(std::exchange(streams.m_current, now)),
              m_redirect(now.out ? &streams.m_out : nullptr, now.err ? &streams.m_err : nullptr) {}
        ~InPlace() { m_streams.m_current = m_previous; }
        InPlace(const InPlace&) = delete;
        InPlace& operator=(const InPlace&) = delete;

    private:
        RequestStreams& m_streams;
        Current m_previous;
        ThreadOutputRedirect m_redirect;
    };

private:
    static void write(host::u16streambuf* buffer, std::string_view text) {
        const std::u16string wide = host::i18n::to_ustring(text);
        buffer->sputn(wide.data(), static_cast<std::streamsize>(wide.size()));
    }
    Current m_current;
    const OutputSink m_out = [this](std::string_view text) { write(m_current.out, text); };
    const OutputSink m_err = [this](std::string_view text) { write(m_current.err, text); };
};

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

// The references to requests' inputs that the signal thread lets go of, counted while they are
// of one array (the same input sent with request after request) and subtracted from its count in
// one step when another array comes. The starting thread writes the count as it takes a
// reference for each request; let go one at a time, the count's line would cross back to the
// signal thread with every request. An array is kept no longer than the run of posted work: the
// engine subtracts what it counted when it has run what was posted (so before it goes idle or
// waits), before it lists a module's requests for a clear, and when it ends.
class InputDrops {
public:
    InputDrops() = default;
    InputDrops(const InputDrops&) = delete;
    InputDrops& operator=(const InputDrops&) = delete;
    ~InputDrops() { subtract(); }

    void drop(host::data::ArrayImpl* array) noexcept {
        if (array == m_array) {
            ++m_count;
            return;
        }
        subtract();
        if (!array) return;
        m_array = array;
        m_count = 1;
    }
    void subtract() noexcept {
        if (m_array) host::data::release(std::exchange(m_array, nullptr), std::exchange(m_count, 0));
    }

private:
    host::data::ArrayImpl* m_array = nullptr;
    std::uint64_t m_count = 0;
};

class LanguageEngine final : public host::HostEngine {
public:
    explicit LanguageEngine(Engine& engine) : m_engine(engine) {
        m_engine.setRunEnd([](void* self) { static_cast<LanguageEngine*>(self)->m_drops.subtract(); }, this);
    }

    host::Future<host::Outputs> feval(const std::string& name, const host::Outputs& arguments, int nlhs,
                                      const host::RunOptions& options, bool /*flag*/,
                                      host::RequestID /*id*/) override {
        if (!m_engine.isSignalThread()) {
            throw std::logic_error("a synchronous request must come from the engine's signal thread");
        }
        try {
            EngineScope scope(m_engine);
            Room room(m_rooms);
            runFeval(room, name, arguments, nlhs, options.outStream().get(), options.errStream().get());
            return host::Future<host::Outputs>::ready(std::move(room.outputs()));
        } catch (...) {
            return host::Future<host::Outputs>::failed(std::current_exception());
        }
    }

    bool submit(std::shared_ptr<host::AsyncRequest> request, const host::RunOptions& options,
                const std::atomic<int>* closed) override {
        request->bind(*this);
        request->out = options.outStream();
        request->err = options.errStream();
        // Posted as it is, with no wrapper: the request is the one allocation it costs.
        host::AsyncRequest* raw = request.get();
        host::QueueLink& entry = raw->queueEntry;
        entry.object = std::shared_ptr<void>(std::move(request), raw);
        entry.run = &runQueued;
        entry.abandon = &abandonQueued;
        return m_engine.post(entry, closed);
    }

    std::vector<std::shared_ptr<host::AsyncRequest>> requestsOf(const void* owner) override {
        // The module's requests are settled next: no input of theirs is kept beyond.
        m_drops.subtract();
        std::vector<std::shared_ptr<host::AsyncRequest>> found;
        // Those running here are outer calls of the caller's: alive until it returns to them.
        for (const Running* running = m_innermost; running; running = running->outer)
            if (running->request.owner == owner) found.emplace_back(std::shared_ptr<void>(), &running->request);
        std::reverse(found.begin(), found.end());
        for (const std::shared_ptr<void>& posted : m_engine.pendingObjects(&runQueued)) {
            auto* request = static_cast<host::AsyncRequest*>(posted.get());
            if (request->owner == owner) found.emplace_back(posted, request);
        }
        return found;
    }

    void notifyWaiters() override { m_engine.notifyWaiters(); }
    std::string heldBy() const override { return m_engine.heldBy(); }

private:
    // A queued request running on the signal thread, linked from its frame to the one it runs
    // inside (nested requests run when a request waits).
    struct Running {
        Running(Running*& innermost, host::AsyncRequest& running) noexcept
            : request(running), outer(innermost), head(innermost) {
            head = this;
        }
        ~Running() { head = outer; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
        host::AsyncRequest& request;
        Running* const outer;
        Running*& head;
    };

    // Signal thread, inside runPosted (which binds the engine): runs a queued request unless it
    // left the queue first.
    static void runQueued(void* object) {
        auto& request = *static_cast<host::AsyncRequest*>(object);
        if (!request.claim()) return;
        static_cast<LanguageEngine&>(*request.engine()).run(request);
    }
    void run(host::AsyncRequest& request) {
        // A request claimed is settled, whatever fails; only a nesting level never reached
        // before makes the room allocate.
        if (!m_rooms.ready()) [[unlikely]] {
            try {
                m_rooms.grow();
            } catch (...) {
                request.ranWith(std::current_exception());
                return;
            }
        }
        Room room(m_rooms);
        std::exception_ptr error;
        try {
            const Running running(m_innermost, request);
            if (request.isEval) {
                runEval(request.text, request.out.get(), request.err.get());
            } else {
                runFeval(room, request.name, {request.arguments.data(), request.arguments.size()}, request.nlhs,
                         request.out.get(), request.err.get());
            }
        } catch (...) {
            error = std::current_exception();
        }
        if (error) [[unlikely]] {
            // What the room borrowed goes before the request lets its inputs go.
            room.releaseInputs();
            request.ranWith(std::move(error));
            return;
        }
        request.arguments.handOver([this](host::data::ArrayImpl* input) { m_drops.drop(input); });
        request.ran(room.outputs());
    }
    // The engine goes with the request still queued: it hears "cancelled" while the code its
    // completion calls is still there.
    static void abandonQueued(void* object) { static_cast<host::AsyncRequest*>(object)->cancel_callback(false); }

    // Runs `name`, its outputs into the room's; the engine bound already.
    void runFeval(Room& room, const std::string& name, std::span<const host::data::Array> arguments, int nlhs,
                  host::u16streambuf* out, host::u16streambuf* err) {
        const vhost::lang::Builtin* builtin = vhost::lang::findBuiltin(name);
        const vhost::lang::Arguments& arrays = builtin ? room.borrow(arguments) : room.copy(arguments);
        vhost::lang::Values outputs = reportingRuntimeErrors(name, [&] {
            const RequestStreams::InPlace streams(m_streams, {out, err});
            return builtin ? vhost::lang::callBuiltin(name, *builtin, nlhs, arrays)
                           : vhost::lang::callFunction(name, nlhs, arrays);
        });
        room.releaseInputs();
        host::Outputs& result = room.outputs();
        const std::size_t wanted = std::min(outputs.size(), nlhs < 0 ? std::size_t{0} : static_cast<std::size_t>(nlhs));
        result.reserve(wanted);
        // The outputs are the call's own: taken over rather than copied.
        for (std::size_t i = 0; i < wanted; ++i) result.push_back(host::data::adoptRyArray(outputs[i].release()));
    }

    void runEval(const std::u16string& text, host::u16streambuf* out, host::u16streambuf* err) {
        EngineScope scope(m_engine);
        RequestStreams::InPlace streams(m_streams, {out, err});
        reportingRuntimeErrors("eval", [&] {
            vhost::lang::evaluate(host::i18n::to_string(text));
            return 0;
        });
    }

    Engine& m_engine;
    // What follows is the signal thread's, written for every request, on cache lines apart from
    // the two words above that starting threads read as they submit.
    alignas(64) RequestStreams m_streams;
    // The innermost queued request running now on the signal thread.
    Running* m_innermost = nullptr;
    // The rooms requests run in, kept (Room).
    Rooms m_rooms;
    InputDrops m_drops;
};

}  // namespace

void installHostEngine() {
    setHostEngineFactory([](Engine& engine) { return std::make_shared<LanguageEngine>(engine); });
}

}  // namespace vhost::boot
