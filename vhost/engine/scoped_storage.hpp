// Per-engine scoped storage: at most one record per (key, type), owned by the storage and
// destroyed in reverse order of insertion when the storage goes (the later record may depend on
// the earlier one, never the other way round).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <typeindex>
#include <utility>

namespace vhost {

class ScopedStorage {
public:
    using Key = std::uint64_t;

    ScopedStorage() = default;
    ~ScopedStorage();
    ScopedStorage(const ScopedStorage&) = delete;
    ScopedStorage& operator=(const ScopedStorage&) = delete;

    // The record under (key, type), or null.
    void* find(Key key, std::type_index type) const;
    // Stores `record` unless one is there already; returns the stored record either way. When
    // another caller won, `record` is released after the lock is dropped.
    void* findOrInsert(Key key, std::type_index type, std::shared_ptr<void> record);
    // Destroys the record if present. Its destructor runs outside the lock, so it may use the
    // storage itself.
    void erase(Key key, std::type_index type);
    // Destroys every record, newest first, one at a time and outside the lock.
    void clear();
    std::size_t size() const;

private:
    struct Entry {
        std::uint64_t sequence;
        std::shared_ptr<void> record;
    };
    using Slot = std::pair<Key, std::type_index>;

    mutable std::mutex m_mutex;
    std::map<Slot, Entry> m_records;
    std::uint64_t m_nextSequence = 0;
};

}  // namespace vhost
