// Asynchronous feval from a worker thread, beside a bare mutex-and-condition-variable queue
// between the same two threads: one request and the wait for its answer (the round trip), and
// 100,000 requests started at once and all answered (the throughput).
//
// The engine lives on a thread of its own, its signal thread, which runs posted work as it
// arrives; the benchmark's thread is the worker.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "cppapi/async.hpp"
#include "cppapi/engine_handle.hpp"
#include "host/dataarray.hpp"
#include "loader/cpp_lifecycle.hpp"
#include "vhost/boot/boot.hpp"
#include "vhost/dataarray/impl.hpp"
#include "vhost/engine/engine.hpp"

namespace {

constexpr int kBurst = 100000;

using host::data::Array;
using host::data::ArrayImpl;

// Counts answers; the worker waits for a number of them. The waiter is woken once, by the answer
// it waits for: woken by each answer, it would charge the thread that answers a wake-up per answer
// (a tenth of the engine's time samples over a burst) that is the benchmark's, not the queue's.
// On cache lines of its own: it lives in the worker's stack frame, whose other lines the worker
// writes as it starts requests while the answering thread takes the lock.
class alignas(64) Answers {
public:
    void add(double value) {
        std::unique_lock lock(m_mutex);
        m_last = value;
        count(lock);
    }
    void fail() {
        std::unique_lock lock(m_mutex);
        m_failed = true;
        count(lock);
    }
    // Waits for `count` answers since the last reset; false when one of them was a failure.
    bool waitFor(long count) {
        std::unique_lock lock(m_mutex);
        m_awaited = count;
        m_changed.wait(lock, [&] { return m_count >= count; });
        m_awaited = 0;
        m_count = 0;
        const bool ok = !m_failed;
        m_failed = false;
        return ok;
    }
    double last() {
        std::lock_guard lock(m_mutex);
        return m_last;
    }

private:
    void count(std::unique_lock<std::mutex>& lock) {
        if (++m_count != m_awaited) return;
        lock.unlock();
        m_changed.notify_one();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    long m_awaited = 0;  // what a waiter waits for; 0 when none waits
    long m_count = 0;
    double m_last = 0;
    bool m_failed = false;
    char m_apart[64];  // nothing of the frame's after it on its last line
};

// --- the engine on its own signal thread ------------------------------------------------------

class EngineThread {
public:
    EngineThread() {
        std::promise<void> ready;
        m_thread = std::thread([this, &ready] {
            vhost::boot::attachRuntime();
            vhost::Engine engine("bench");
            vhost::EngineScope scope(engine);
            m_engine = &engine;
            m_handle = orb::cppapi::makeEngineHandle(u"bench");
            ready.set_value();
            engine.pumpUntil([this] { return m_stop.load(); });
            orbDestroyFunctionImpl(m_handle);
            engine.runPosted();
        });
        ready.get_future().wait();
    }
    ~EngineThread() {
        m_stop = true;
        m_engine->notifyWaiters();
        m_thread.join();
    }
    void* handle() const { return m_handle; }

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    vhost::Engine* m_engine = nullptr;
    orb::cppapi::OrbFunctionImpl* m_handle = nullptr;
};

void onOutputs(void* promise, int nlhs, bool, void** outputs) {
    double value = -1;
    for (int i = 0; i < nlhs; ++i) {
        const Array output = Array::adopt(static_cast<ArrayImpl*>(outputs[i]));
        if (i == 0 && output.getType() == host::data::ArrayType::DOUBLE) {
            value = *static_cast<const double*>(vhost::data::elementData(*output.impl()));
        }
    }
    static_cast<Answers*>(promise)->add(value);
}
void onException(void* promise, int, bool, int code, void* data) {
    if (code == 1) Array::adopt(static_cast<ArrayImpl*>(data));
    static_cast<Answers*>(promise)->fail();
}

// numel of a 3x1 cell: a host function with one input and one output, cheap to run.
void startRequest(void* engine, ArrayImpl* input, Answers& answers) {
    void* inputs[1] = {input};
    const auto task = orbApiFevalAsync(engine, 1, 1, inputs, "numel", false, &onOutputs, &onException, &answers,
                                       nullptr, nullptr, nullptr, nullptr);
    orbApiDestroyTaskHandle(reinterpret_cast<void*>(task));
}

void BM_AsyncFevalRoundTrip(benchmark::State& state) {
    EngineThread engine;
    host::data::ArrayFactory factory;
    const Array input = factory.createCellArray({3, 1});
    Answers answers;
    startRequest(engine.handle(), input.impl(), answers);
    if (!answers.waitFor(1) || answers.last() != 3) {
        state.SkipWithError("the request did not answer 3");
        return;
    }
    for (auto _ : state) {
        startRequest(engine.handle(), input.impl(), answers);
        answers.waitFor(1);
    }
}
BENCHMARK(BM_AsyncFevalRoundTrip)->UseRealTime();

void BM_AsyncFevalBurst(benchmark::State& state) {
    EngineThread engine;
    host::data::ArrayFactory factory;
    const Array input = factory.createCellArray({3, 1});
    Answers answers;
    for (auto _ : state) {
        for (int i = 0; i < kBurst; ++i) startRequest(engine.handle(), input.impl(), answers);
        if (!answers.waitFor(kBurst)) state.SkipWithError("a request failed");
    }
    state.SetItemsProcessed(state.iterations() * kBurst);
}
BENCHMARK(BM_AsyncFevalBurst)->UseRealTime()->Unit(benchmark::kMillisecond);

// --- the bare queue ---------------------------------------------------------------------------

// A mutex-and-condition-variable queue of work served by one thread, the same shape as the
// engine's queue without anything of the engine.
class BareQueue {
public:
    BareQueue() {
        m_thread = std::thread([this] {
            std::unique_lock lock(m_mutex);
            for (;;) {
                m_changed.wait(lock, [&] { return m_stop || !m_work.empty(); });
                if (m_work.empty()) return;
                std::function<void()> work = std::move(m_work.front());
                m_work.pop_front();
                lock.unlock();
                work();
                lock.lock();
            }
        });
    }
    ~BareQueue() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_one();
        m_thread.join();
    }
    void post(std::function<void()> work) {
        {
            std::lock_guard lock(m_mutex);
            m_work.push_back(std::move(work));
        }
        m_changed.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_work;
    bool m_stop = false;
    std::thread m_thread;
};

void BM_BareQueueRoundTrip(benchmark::State& state) {
    BareQueue queue;
    Answers answers;
    for (auto _ : state) {
        queue.post([&answers] { answers.add(3); });
        answers.waitFor(1);
    }
}
BENCHMARK(BM_BareQueueRoundTrip)->UseRealTime();

void BM_BareQueueBurst(benchmark::State& state) {
    BareQueue queue;
    Answers answers;
    for (auto _ : state) {
        for (int i = 0; i < kBurst; ++i) queue.post([&answers] { answers.add(3); });
        answers.waitFor(kBurst);
    }
    state.SetItemsProcessed(state.iterations() * kBurst);
}
BENCHMARK(BM_BareQueueBurst)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
