#include "vhost/engine/scoped_storage.hpp"

namespace vhost {

ScopedStorage::~ScopedStorage() { clear(); }

void* ScopedStorage::find(Key key, std::type_index type) const {
    std::lock_guard lock(m_mutex);
    auto it = m_records.find(Slot(key, type));
    return it == m_records.end() ? nullptr : it->second.record.get();
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
        }
    }
}

std::size_t ScopedStorage::size() const {
    std::lock_guard lock(m_mutex);
    return m_records.size();
}

}  // namespace vhost
