// Engines, their binding to threads, their posted work and the
// per-engine storage.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/exceptions.hpp"
#include "host/storage.hpp"
#include "host/ut.hpp"
#include "vhost/engine/engine.hpp"

namespace {

using host::storage::Key;

struct Counter {
    int value = 0;
};

// Writes its name into a shared log when destroyed, so tests can see the order.
struct Tracer {
    std::vector<std::string>* log = nullptr;
    std::string name;
    ~Tracer() {
        if (log) log->push_back(name);
    }
};

std::shared_ptr<void> tracer(std::vector<std::string>& log, std::string name) {
    auto record = std::make_shared<Tracer>();
    record->log = &log;
    record->name = std::move(name);
    return record;
}

TEST(EngineStorage, TheThreeLookupFormsOnOneEngineByKeyAndType) {
    vhost::Engine engine;
    vhost::EngineScope scope(engine);
    const Key key = host::storage::getNextID(typeid(Counter));

    EXPECT_EQ(host::storage::find<Counter>(key), nullptr);
    try {
        host::storage::findOrFail<Counter>(key);
        FAIL() << "findOrFail returned for an absent record";
    } catch (const host::UserException& error) {
        EXPECT_EQ(error.identifier(), "VELTRA:storage:recordNotFound");
        EXPECT_NE(error.message().find("Counter"), std::string::npos) << error.message();
    }

    Counter& created = host::storage::getOrCreate<Counter>(key);
    created.value = 7;
    EXPECT_EQ(&host::storage::getOrCreate<Counter>(key), &created);
    EXPECT_EQ(host::storage::find<Counter>(key), &created);
    EXPECT_EQ(host::storage::findOrFail<Counter>(key).value, 7);

    host::storage::erase(key, typeid(Counter));
    EXPECT_EQ(host::storage::find<Counter>(key), nullptr);
    EXPECT_NO_THROW(host::storage::erase(key, typeid(Counter)));

    // Keys and types both select the record.
    const Key second = host::storage::getNextID(typeid(Counter));
    ASSERT_NE(key, second);
    host::storage::getOrCreate<Counter>(key).value = 1;
    host::storage::getOrCreate<Counter>(second).value = 2;
    host::storage::getOrCreate<std::string>(key) = "text";
    EXPECT_EQ(host::storage::findOrFail<Counter>(key).value, 1);
    EXPECT_EQ(host::storage::findOrFail<Counter>(second).value, 2);
    EXPECT_EQ(host::storage::findOrFail<std::string>(key), "text");
    EXPECT_EQ(engine.storage().size(), 3u);
}

TEST(EngineStorage, RecordsDieWithTheirEngineNewestFirst) {
    std::vector<std::string> log;
    {
        vhost::Engine engine;
        vhost::EngineScope scope(engine);
        for (const char* name : {"a", "b", "c", "d"}) {
            host::storage::findOrInsert(host::storage::getNextID(typeid(Tracer)), typeid(Tracer), tracer(log, name));
        }
        // An erased record goes at once and is not destroyed a second time.
        const Key extra = host::storage::getNextID(typeid(Tracer));
        host::storage::findOrInsert(extra, typeid(Tracer), tracer(log, "erased"));
        host::storage::erase(extra, typeid(Tracer));
        EXPECT_EQ(log, std::vector<std::string>{"erased"});
        log.clear();
    }
    EXPECT_EQ(log, (std::vector<std::string>{"d", "c", "b", "a"}));
}

// A record whose destructor looks into its own engine's storage, as runtime records that
// release other records do.
struct LooksAround {
    Key other = 0;
    bool* sawOther = nullptr;
    ~LooksAround() { *sawOther = host::storage::find<Counter>(other) != nullptr; }
};

TEST(EngineStorage, ARecordMayUseTheStorageWhileTheEngineIsDestroyed) {
    bool sawOther = false;
    const Key counterKey = host::storage::getNextID(typeid(Counter));
    {
        auto engine = vhost::Engine::create();
        vhost::EngineScope scope(*engine);
        host::storage::getOrCreate<Counter>(counterKey);
        auto& record = host::storage::getOrCreate<LooksAround>(host::storage::getNextID(typeid(LooksAround)));
        record.other = counterKey;
        record.sawOther = &sawOther;
        engine.reset();  // destroyed while bound: the older Counter is still there for the record
    }
    EXPECT_TRUE(sawOther);
}

// Each thread remembers the records it found. The test keeps every record it replaces alive, so
// a remembered address that should have been forgotten still reads as the old record instead of
// freed memory.
TEST(EngineStorage, RememberedRecordsAreForgottenWhenTheyOrTheirEngineGo) {
    const Key key = host::storage::getNextID(typeid(Counter));
    auto first = std::make_shared<Counter>();
    std::optional<vhost::Engine> engine;
    engine.emplace();
    const vhost::Engine* address = &*engine;
    {
        vhost::EngineScope scope(*engine);
        host::storage::findOrInsert(key, typeid(Counter), first);
        ASSERT_EQ(host::storage::find<Counter>(key), first.get());
    }
    engine.reset();
    engine.emplace();
    ASSERT_EQ(&*engine, address);
    vhost::EngineScope scope(*engine);
    EXPECT_EQ(host::storage::find<Counter>(key), nullptr) << "a new engine at the old one's address";

    auto second = std::make_shared<Counter>();
    host::storage::findOrInsert(key, typeid(Counter), second);
    ASSERT_EQ(host::storage::find<Counter>(key), second.get());
    auto third = std::make_shared<Counter>();
    std::thread([&] {
        vhost::EngineScope other(*engine);
        host::storage::erase(key, typeid(Counter));
        host::storage::findOrInsert(key, typeid(Counter), third);
    }).join();
    EXPECT_EQ(host::storage::find<Counter>(key), third.get()) << "replaced by another thread";
    host::storage::erase(key, typeid(Counter));
    EXPECT_EQ(host::storage::find<Counter>(key), nullptr);
}

TEST(EngineBinding, ScopesNestAndRestoreThePreviousBinding) {
    ASSERT_EQ(vhost::boundEngine(), nullptr);
    EXPECT_FALSE(host::storage::isRequiredContextActive());
    EXPECT_EQ(&vhost::currentEngine(), &vhost::defaultEngine());

    vhost::Engine outer, inner;
    {
        vhost::EngineScope outerScope(outer);
        EXPECT_EQ(&vhost::currentEngine(), &outer);
        EXPECT_TRUE(host::storage::isRequiredContextActive());
        {
            vhost::EngineScope innerScope(inner);
            EXPECT_EQ(&vhost::currentEngine(), &inner);
            {
                vhost::EngineScope again(outer);
                EXPECT_EQ(&vhost::currentEngine(), &outer);
            }
            EXPECT_EQ(&vhost::currentEngine(), &inner);
        }
        EXPECT_EQ(&vhost::currentEngine(), &outer);
        vhost::Engine* elsewhere = &outer;
        std::thread([&] { elsewhere = vhost::boundEngine(); }).join();
        EXPECT_EQ(elsewhere, nullptr) << "a binding is the calling thread's only";
    }
    EXPECT_EQ(vhost::boundEngine(), nullptr);
    EXPECT_FALSE(host::storage::isRequiredContextActive());
}

TEST(EngineBinding, TheSignalThreadIsTheCreatorOfTheEngine) {
    EXPECT_TRUE(vhost::Engine().isSignalThread());

    std::shared_ptr<vhost::Engine> foreign;
    std::thread([&] { foreign = vhost::Engine::create(); }).join();
    EXPECT_FALSE(foreign->isSignalThread());
    {
        vhost::EngineScope scope(*foreign);
        EXPECT_FALSE(host::utIsSignalThread());
    }

    vhost::Engine mine;
    bool onOtherThread = true;
    std::thread([&] {
        vhost::EngineScope scope(mine);
        onOtherThread = host::utIsSignalThread();
    }).join();
    EXPECT_FALSE(onOtherThread);
    vhost::EngineScope scope(mine);
    EXPECT_TRUE(host::utIsSignalThread());
}

// Posted work of both kinds, recording its name when it runs.
class NamedWork : public vhost::PostedWork {
public:
    NamedWork(std::vector<std::string>& log, std::string name) : m_log(log), m_name(std::move(name)) {}
    void run() override { m_log.push_back(m_name); }

private:
    std::vector<std::string>& m_log;
    std::string m_name;
};

TEST(EnginePosting, WorkRunsInPostingOrderEvenWhenATaskPumpsOrThrows) {
    vhost::Engine engine;
    std::vector<std::string> log;
    auto note = [&](std::string name) { return [&log, name] { log.push_back(name); }; };
    EXPECT_FALSE(engine.runPosted());

    // A task that waits and pumps runs the rest of the batch in hand, in order, before anything
    // posted meanwhile.
    engine.post([&] {
        log.push_back("pumping");
        engine.post(note("posted while pumping"));
        engine.runPosted();
        log.push_back("pumped");
    });
    engine.post(std::make_shared<NamedWork>(log, "object"));
    std::thread([&] { engine.post(note("from another thread")); }).join();
    EXPECT_TRUE(engine.runPosted());
    EXPECT_EQ(log, (std::vector<std::string>{"pumping", "object", "from another thread", "posted while pumping", "pumped"}));

    // A task that throws leaves the rest queued for the next run.
    log.clear();
    engine.post([] { throw std::runtime_error("task failed"); });
    engine.post(note("after the failure"));
    engine.post(std::make_shared<NamedWork>(log, "object after the failure"));
    EXPECT_THROW(engine.runPosted(), std::runtime_error);
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(engine.runPosted());
    EXPECT_EQ(log, (std::vector<std::string>{"after the failure", "object after the failure"}));
    EXPECT_FALSE(engine.runPosted());
}

TEST(EnginePosting, ALargeBatchRunsWholeAndInOrderThroughANestedPump) {
    vhost::Engine engine;
    std::vector<int> order;
    std::thread([&] {
        for (int i = 0; i < 3000; ++i) {
            engine.post([&, i] {
                order.push_back(i);
                if (i != 1500) return;
                engine.post([&] { order.push_back(3000); });
                engine.runPosted();  // the rest of the batch first, then what was posted since
            });
        }
    }).join();
    EXPECT_TRUE(engine.runPosted());
    std::vector<int> expected(3001);
    for (int i = 0; i <= 3000; ++i) expected[i] = i;
    EXPECT_EQ(order, expected);
    // The queue goes on after a batch larger than the room it keeps.
    order.clear();
    for (int i = 0; i < 3; ++i) engine.post([&, i] { order.push_back(i); });
    EXPECT_TRUE(engine.runPosted());
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(EnginePosting, WorkNeverRunIsLetGoOfWithTheEngine) {
    std::vector<std::string> log;
    auto work = std::make_shared<NamedWork>(log, "never");
    std::weak_ptr<NamedWork> watch = work;
    {
        vhost::Engine engine;
        engine.post(std::move(work));
        EXPECT_FALSE(watch.expired());
    }
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(log.empty());
}

}  // namespace
