// Per-engine scoped storage: at most one record per (key, type), owned by the storage and
// destroyed in reverse order of insertion when the storage goes (the later record may depend on
// the earlier one, never the other way round).
//
// Finding a record is on the path of every array the library makes and of every module call, so
// each thread remembers the records it found lately (see find). A remembered record is used only
// for the same storage, key and type, and only while no record has left that storage since it
// was found; storages are told apart by a serial number that is never reused, so a storage made
// at the address of a destroyed one never sees the old one's records.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <typeindex>
#include <utility>

#include "host/storage.hpp"

namespace vhost {

class ScopedStorage {
public:
    using Key = std::uint64_t;

    ScopedStorage();
    ~ScopedStorage();
    ScopedStorage(const ScopedStorage&) = delete;
    ScopedStorage& operator=(const ScopedStorage&) = delete;

    // The record under (key, type), or null. Answers from the calling thread's memory of earlier
    // finds when it is still good, without the lock.
    void* find(Key key, const std::type_info& type) const;
    // Stores `record` unless one is there already; returns the stored record either way. When
    // another caller won, `record` is released after the lock is dropped.
    void* findOrInsert(Key key, std::type_index type, std::shared_ptr<void> record);
    // Destroys the record if present. Its destructor runs outside the lock, so it may use the
    // storage itself.
    void erase(Key key, std::type_index type);
    // Destroys every record, newest first, one at a time and outside the lock.
    void clear();
    std::size_t size() const;
    // The record marked for the runtime (host::storage::pin), or null: read on every module call,
    // so without the lock. Cleared under the lock before the marked record is released.
    void* pinned() const noexcept { return m_pinned.load(std::memory_order_acquire); }
    void pin(void* record) noexcept { m_pinned.store(record, std::memory_order_release); }

private:
    struct Entry {
        std::uint64_t sequence;
        std::shared_ptr<void> record;
    };
    using Slot = std::pair<Key, std::type_index>;

    void* findLocked(Key key, const std::type_info& type) const;

    mutable std::mutex m_mutex;
    std::map<Slot, Entry> m_records;
    std::uint64_t m_nextSequence = 0;
    const std::uint64_t m_serial;
    // Records that have left (erase, clear); raised under the lock before a record is released,
    // so a thread's remembered finds from before that are not used again.
    std::atomic<std::uint64_t> m_removals{0};
    std::atomic<void*> m_pinned{nullptr};
};

}  // namespace vhost
