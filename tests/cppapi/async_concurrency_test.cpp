// Many asynchronous requests at once, from the signal thread and four workers, with random
// cancels and handles released before, during and after completion: every request completes
// exactly once, and no array outlives the run. A module cleared while its threads start and
// cancel requests: each is settled once, and none runs after the clear. (Run under
// ThreadSanitizer by ./run check.)
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "cppapi/async.hpp"
#include "cppapi/engine_handle.hpp"
#include "loader/cpp_lifecycle.hpp"
#include "capi/impl_info.hpp"
#include "vhost/boot/boot.hpp"
#include "vhost/dataarray/impl.hpp"
#include "vhost/engine/engine.hpp"

namespace {

using host::data::Array;
using host::data::ArrayImpl;

constexpr int kWorkers = 4;
constexpr int kPerThread = 2000;  // 5 threads: 10,000 requests

struct Tally {
    std::atomic<int> succeeded{0}, cancelled{0}, failed{0};
    std::vector<std::atomic<int>> callbacks;
    explicit Tally(std::size_t n) : callbacks(n) {}
};

struct Request {
    Tally* tally;
    std::size_t index;
};

void onOutputs(void* promise, int nlhs, bool, void** outputs) {
    auto* r = static_cast<Request*>(promise);
    for (int i = 0; i < nlhs; ++i) host::data::release(static_cast<ArrayImpl*>(outputs[i]));
    r->tally->callbacks[r->index].fetch_add(1);
    r->tally->succeeded.fetch_add(1);
}

void onFailure(void* promise, int, bool, int code, void* data) {
    auto* r = static_cast<Request*>(promise);
    if (code == 1) host::data::release(static_cast<ArrayImpl*>(data));
    r->tally->callbacks[r->index].fetch_add(1);
    (code == 7 ? r->tally->cancelled : r->tally->failed).fetch_add(1);
}

TEST(AsyncConcurrency, TenThousandRequestsFromFiveThreadsEachCompleteExactlyOnce) {
    vhost::boot::attachRuntime();
    vhost::Engine engine;
    vhost::EngineScope scope(engine);
    orb::cppapi::OrbFunctionImpl* handle = orb::cppapi::makeEngineHandle(u"stress");
    const std::size_t liveBefore = vhost::data::liveArrayCount();
    {
        const std::size_t total = (kWorkers + 1) * kPerThread;
        Tally tally(total);
        std::vector<Request> requests(total);
        for (std::size_t i = 0; i < total; ++i) requests[i] = {&tally, i};
        Array input = host::data::ArrayFactory().createCellArray({2, 3});

        auto issue = [&](int thread) {
            std::mt19937 random(1234 + thread);
            std::vector<void*> keep;
            for (int k = 0; k < kPerThread; ++k) {
                Request& request = requests[static_cast<std::size_t>(thread) * kPerThread + k];
                void* argument = input.impl();
                // One in five asks for a function that fails.
                const char* name = random() % 5 == 0 ? "no_such_function" : "size";
                void* task = reinterpret_cast<void*>(orbApiFevalAsync(handle, 1, 1, &argument, name, false, &onOutputs,
                                                                      &onFailure, &request, nullptr, nullptr,
                                                                      nullptr, nullptr));
                switch (random() % 5) {
                    case 0: orbApiDestroyTaskHandle(task); break;  // released at once
                    case 1:
                        orbApiCancelFevalWithCompletion(task, random() % 2 == 0);
                        orbApiDestroyTaskHandle(task);
                        break;
                    case 2:
                        // Waited for: a worker sleeps until the signal thread settles it; the
                        // signal thread runs the queue meanwhile.
                        orbApiToWaitForPendingfevalEvalToComplete(task);
                        orbApiDestroyTaskHandle(task);
                        break;
                    default: keep.push_back(task); break;  // released at the end
                }
                if (random() % 64 == 0 && !keep.empty()) {
                    orbApiCancelFevalWithCompletion(keep.back(), true);  // perhaps too late
                }
            }
            for (void* task : keep) orbApiDestroyTaskHandle(task);
        };

        std::vector<std::thread> workers;
        for (int t = 1; t <= kWorkers; ++t) workers.emplace_back(issue, t);
        issue(0);
        // The signal thread runs the queue until every request has had its callback.
        auto allDone = [&] {
            return tally.succeeded + tally.cancelled + tally.failed == static_cast<int>(total);
        };
        std::atomic<bool> issued{false};
        std::thread joiner([&] {
            for (auto& w : workers) w.join();
            issued = true;
            engine.notifyWaiters();
        });
        engine.pumpUntil([&] { return issued && allDone(); });
        joiner.join();
        engine.runPosted();  // nothing may be left to run a second callback

        for (std::size_t i = 0; i < total; ++i) ASSERT_EQ(tally.callbacks[i].load(), 1) << "request " << i;
        EXPECT_GT(tally.succeeded.load(), 0);
        EXPECT_GT(tally.cancelled.load(), 0);
        EXPECT_GT(tally.failed.load(), 0);
    }
    orbDestroyFunctionImpl(handle);
    EXPECT_EQ(vhost::data::liveArrayCount(), liveBefore);
}

// The module's callbacks for the clear below: a success after the clear began means a request
// of a cleared module ran.
struct Clearing {
    std::vector<std::atomic<int>> callbacks;
    std::atomic<bool> cleared{false};
    std::atomic<int> ranAfterClear{0};
    explicit Clearing(std::size_t n) : callbacks(n) {}
};
struct ClearingRequest {
    Clearing* clearing;
    std::size_t index;
};
void clearingOutputs(void* promise, int nlhs, bool, void** outputs) {
    auto* r = static_cast<ClearingRequest*>(promise);
    for (int i = 0; i < nlhs; ++i) host::data::release(static_cast<ArrayImpl*>(outputs[i]));
    if (r->clearing->cleared) r->clearing->ranAfterClear.fetch_add(1);
    r->clearing->callbacks[r->index].fetch_add(1);
}
void clearingFailure(void* promise, int, bool, int code, void* data) {
    auto* r = static_cast<ClearingRequest*>(promise);
    if (code == 1) host::data::release(static_cast<ArrayImpl*>(data));
    r->clearing->callbacks[r->index].fetch_add(1);
}

TEST(AsyncConcurrency, AModuleClearedWhileItsThreadsStartAndCancelRequestsSettlesEachOnceAndRunsNoneAfter) {
    vhost::boot::attachRuntime();
    vhost::Engine engine;
    vhost::EngineScope scope(engine);
    orb::cppapi::OrbFunctionImpl* handle = orb::cppapi::makeEngineHandle(u"clearing");
    impl_info_tag record{};
    record.engineHandle = handle;
    constexpr std::size_t kEach = 500;
    Clearing clearing(kWorkers * kEach);
    std::vector<ClearingRequest> requests(clearing.callbacks.size());
    for (std::size_t i = 0; i < requests.size(); ++i) requests[i] = {&clearing, i};
    Array input = host::data::ArrayFactory().createCellArray({1, 2});
    std::atomic<std::size_t> started{0};

    auto issue = [&](int thread) {
        std::mt19937 random(99 + thread);
        for (std::size_t k = 0; k < kEach; ++k) {
            void* argument = input.impl();
            void* task = reinterpret_cast<void*>(orbApiFevalAsync(handle, 1, 1, &argument, "size", false,
                                                                  &clearingOutputs, &clearingFailure,
                                                                  &requests[thread * kEach + k], nullptr, nullptr,
                                                                  nullptr, nullptr));
            ++started;
            // Cancelled here, on this thread, racing the clear's own cancels.
            if (random() % 3 == 0) orbApiCancelFevalWithCompletion(task, false);
            orbApiDestroyTaskHandle(task);
        }
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < kWorkers; ++t) workers.emplace_back(issue, t);
    // Some requests run, then the module is cleared while its threads go on starting more.
    engine.pumpUntil([&] { return started >= clearing.callbacks.size() / 4; });
    {
        const orb::cppapi::SettledRequests settled(&record, false);
        clearing.cleared = true;
        for (auto& w : workers) w.join();
        engine.runPosted();  // nothing of the module is left to run
    }
    for (std::size_t i = 0; i < clearing.callbacks.size(); ++i) {
        ASSERT_EQ(clearing.callbacks[i].load(), 1) << "request " << i;
    }
    EXPECT_EQ(clearing.ranAfterClear.load(), 0);
    orbDestroyFunctionImpl(handle);
}

}  // namespace
