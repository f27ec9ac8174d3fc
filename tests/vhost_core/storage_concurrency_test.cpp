// Threads racing for the same per-engine record.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "host/storage.hpp"
#include "vhost/engine/engine.hpp"

namespace {

struct Counted {
    static std::atomic<int> alive;
    Counted() { ++alive; }
    ~Counted() { --alive; }
};
std::atomic<int> Counted::alive{0};

TEST(StorageConcurrency, RacingFindOrInsertHasExactlyOneWinnerThatBothSee) {
    constexpr int kRounds = 200;
    constexpr int kThreads = 4;
    const auto key = host::storage::getNextID(typeid(Counted));
    for (int round = 0; round < kRounds; ++round) {
        auto engine = vhost::Engine::create();
        std::vector<void*> seen(kThreads);
        std::vector<void*> offered(kThreads);
        std::latch start(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                vhost::EngineScope scope(*engine);
                auto mine = std::make_shared<Counted>();
                offered[t] = mine.get();
                start.arrive_and_wait();
                seen[t] = host::storage::findOrInsert(key, typeid(Counted), std::move(mine));
            });
        }
        for (auto& thread : threads) thread.join();
        int winners = 0;
        for (int t = 0; t < kThreads; ++t) {
            ASSERT_EQ(seen[t], seen[0]) << "round " << round;
            winners += offered[t] == seen[0];
        }
        ASSERT_EQ(winners, 1) << "round " << round;
        ASSERT_EQ(Counted::alive.load(), 1) << "the losers' records must be released";
        engine.reset();
        ASSERT_EQ(Counted::alive.load(), 0);
    }
}

TEST(StorageConcurrency, TheDefaultEngineServesManyThreadsAtOnce) {
    const auto key = host::storage::getNextID(typeid(std::atomic<int>));
    constexpr int kThreads = 8;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) ++host::storage::getOrCreate<std::atomic<int>>(key);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(host::storage::findOrFail<std::atomic<int>>(key).load(), kThreads * 1000);
    host::storage::erase(key, typeid(std::atomic<int>));
}

}  // namespace
