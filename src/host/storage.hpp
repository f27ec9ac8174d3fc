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

// One record of the calling engine's storage, marked for a caller that reads it on nearly every
// operation (the runtime's call record): `pin` marks `record`, which must be stored in the calling
// engine's storage, in place of any record marked before; `pinned` answers the marked record, and
// so does ryEnterModuleCall (host/ry.hpp). Null while none is marked, and again once the marked
// record has left the storage (erase, the engine's end).
HOST_API void pin(void* record);
HOST_API void* pinned();

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
