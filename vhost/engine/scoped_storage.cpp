#include "vhost/engine/scoped_storage.hpp"

#include "host/host_api.hpp"

namespace vhost {
namespace {

std::atomic<std::uint64_t> g_nextSerial{1};

// One record this thread found: good for its storage and (key, type) while that storage's
// removal count is unchanged. The type is compared by the address of its type_info; another
// type_info object of the same type only costs a locked lookup.
struct FoundRecord {
    std::uint64_t storage = 0;
    std::uint64_t removals = 0;
    ScopedStorage::Key key = 0;
    const std::type_info* type = nullptr;
    void* record = nullptr;
};

// A module call looks up a handful of keys on one or two engines; keys are small consecutive
// numbers, so a direct-mapped table of this size rarely evicts one of them.
constexpr std::size_t kFoundRecords = 32;
// Initial-exec: one load from the thread register instead of a call into the dynamic loader
// (the library is a dependency of the program, loaded with it).
thread_local FoundRecord t_found[kFoundRecords] __attribute__((tls_model("initial-exec")));

FoundRecord& foundSlot(std::uint64_t storage, ScopedStorage::Key key) noexcept {
    return t_found[(key + storage * 7) % kFoundRecords];
}

}  // namespace

ScopedStorage::ScopedStorage() : m_serial(g_nextSerial.fetch_add(1, std::memory_order_relaxed)) {}

ScopedStorage::~ScopedStorage() { clear(); }

void* ScopedStorage::find(Key key, const std::type_info& type) const {
    FoundRecord& slot = foundSlot(m_serial, key);
    if (slot.storage == m_serial && slot.key == key && slot.type == &type &&
        slot.removals == m_removals.load(std::memory_order_acquire))
        return slot.record;
    return findLocked(key, type);
}

void* ScopedStorage::findLocked(Key key, const std::type_info& type) const {
    std::lock_guard lock(m_mutex);
    auto it = m_records.find(Slot(key, std::type_index(type)));
    if (it == m_records.end()) return nullptr;
    // Read under the lock: a removal after this one makes the entry stale, as it should.
    foundSlot(m_serial, key) = FoundRecord{m_serial, m_removals.load(std::memory_order_relaxed), key, &type,
                                           it->second.record.get()};
    return it->second.record.get();
}

void* ScopedStorage::findOrInsert(Key key, std::type_index type, std::shared_ptr<void> record) {
    std::shared_ptr<void> loser;
    void* stored = nullptr;
    {
        std::lock_guard lock(m_mutex);
        auto [it, inserted] = m_records.try_emplace(Slot(key, type), Entry{m_nextSequence, nullptr});
        if (inserted) {
            ++m_nextSequence;
            it->second.record = std::move(record);
        } else {
            loser = std::move(record);
        }
        stored = it->second.record.get();
    }
    return stored;
}

void ScopedStorage::erase(Key key, std::type_index type) {
    std::shared_ptr<void> doomed;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_records.find(Slot(key, type));
        if (it == m_records.end()) return;
        doomed = std::move(it->second.record);
        m_records.erase(it);
        m_removals.fetch_add(1, std::memory_order_release);
        if (doomed.get() == pinned()) pin(nullptr);
    }
}

void ScopedStorage::clear() {
    for (;;) {
        std::shared_ptr<void> doomed;
        {
            std::lock_guard lock(m_mutex);
            if (m_records.empty()) return;
            auto newest = m_records.begin();
            for (auto it = m_records.begin(); it != m_records.end(); ++it) {
                if (it->second.sequence > newest->second.sequence) newest = it;
            }
            doomed = std::move(newest->second.record);
            m_records.erase(newest);
            m_removals.fetch_add(1, std::memory_order_release);
            if (doomed.get() == pinned()) pin(nullptr);
        }
    }
}

// Exported for the tests, which count an engine's records.
HOST_API std::size_t ScopedStorage::size() const {
    std::lock_guard lock(m_mutex);
    return m_records.size();
}

}  // namespace vhost
