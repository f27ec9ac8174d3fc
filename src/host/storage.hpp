// Host per-engine scoped storage: at most one record of each type per engine, created by its
// first user and destroyed with the engine.
//
// Every operation acts on the engine of the calling thread: the engine bound to the thread by
// the host (vhost::EngineScope in the reference host), or, on a thread with none bound, the
// process's default engine. May be called from any thread; the storage takes its own lock.
#pragma once

#include <cstdint>
#include <memory>
#include <typeinfo>

#include "host/host_api.hpp"

namespace host::storage {

using Key = std::uint64_t;

// A fresh key for records of `type`; callers get it once per process and keep it.
HOST_API Key getNextID(const std::type_info& type);

// The record stored under (id, type) for the current engine, or null.
HOST_API void* find(Key id, const std::type_info& type);
// Stores `record` unless a record is already there; returns the stored record either way (the
// caller discards its own when another thread won). The engine owns what it stores.
HOST_API void* findOrInsert(Key id, const std::type_info& type, std::shared_ptr<void> record);
// As find, but throws host::UserException "VELTRA:storage:recordNotFound" when absent.
HOST_API void* findOrFail(Key id, const std::type_info& type);
// Destroys the record; absent is not an error.
HOST_API void erase(Key id, const std::type_info& type);

// The calling engine's storage as it is now. Two equal stamps mean the same storage with no
// record removed in between, so a record found under the first is still stored under the second:
// a caller may keep a record it found together with the stamp and use it while the stamp holds,
// without looking it up again. No two storages ever have the same `storage`, and no storage has 0.
struct Stamp {
    std::uint64_t storage;
    std::uint64_t removals;
    friend bool operator==(const Stamp&, const Stamp&) = default;
};
HOST_API Stamp currentStamp();

// Whether the calling thread runs inside an engine context bound by the host (the thread of an
// engine), as opposed to falling back to the default engine.
HOST_API bool isRequiredContextActive();

// Typed access for the three forms the runtime uses.
template <class T>
T* find(Key id) { return static_cast<T*>(find(id, typeid(T))); }
template <class T>
T& findOrFail(Key id) { return *static_cast<T*>(findOrFail(id, typeid(T))); }
template <class T>
T& getOrCreate(Key id) {
    if (auto* existing = find<T>(id)) return *existing;
    return *static_cast<T*>(findOrInsert(id, typeid(T), std::make_shared<T>()));
}

}  // namespace host::storage
