// host::storage on the engine of the calling thread.
#include "host/storage.hpp"

#include <atomic>
#include <boost/core/demangle.hpp>

#include "host/exceptions.hpp"
#include "host/ut.hpp"
#include "vhost/engine/engine.hpp"

namespace host::storage {
namespace {
std::atomic<Key> g_nextKey{1};
}

Key getNextID(const std::type_info&) { return g_nextKey.fetch_add(1); }

void* find(Key id, const std::type_info& type) { return vhost::currentEngine().storage().find(id, type); }

void* findOrInsert(Key id, const std::type_info& type, std::shared_ptr<void> record) {
    return vhost::currentEngine().storage().findOrInsert(id, type, std::move(record));
}

void* findOrFail(Key id, const std::type_info& type) {
    if (void* record = find(id, type)) return record;
    throw MessageIdException("VELTRA:storage", "recordNotFound",
                             {boost::core::demangle(type.name()), static_cast<std::uint64_t>(id)});
}

void erase(Key id, const std::type_info& type) { vhost::currentEngine().storage().erase(id, type); }

bool isRequiredContextActive() { return vhost::boundEngine() != nullptr; }

}  // namespace host::storage

namespace host {
bool utIsSignalThread() { return vhost::currentEngine().isSignalThread(); }
}  // namespace host
