// Records the library keeps per host engine, in the host's per-engine scoped storage: at most one
// of each kind per engine, created by the first operation that needs it and destroyed with the
// engine. Each belongs to one engine and is touched on that engine's thread, so none has a lock.
#pragma once

#include <cstdint>
#include <memory>
#include <typeinfo>
#include <vector>

#include "host/dataarray.hpp"
#include "host/storage.hpp"
#include "platform/export.hpp"

struct impl_info_tag;  // the module loader's load record

namespace orb::capi {

// The engine's latest converted error of the C++ interface (cppapi/error_conversion.hpp).
struct PendingOrbError;

// What runs on an engine now. Created zeroed; the fields keep this order.
struct ORB_API CurrentOrbInfoPerEngine {
    // The load record of the module whose code runs on this engine now; null outside module
    // calls. Set and restored by the call frame's current-module scope. Not owned.
    impl_info_tag* currentModule = nullptr;
    // The C++ module whose create entry point the loader is running, or ran last. Not owned.
    impl_info_tag* moduleUnderConstruction = nullptr;
    // Non-zero: the loader prints what it loads.
    std::uint32_t debugFlag = 0;
    // Outputs a C++ module handed back during the current call.
    std::vector<host::data::Array> cppOutputs;
    // The C++ call path's aspect for the current call; 0 once outputs were handed back.
    std::int32_t dispatchAspect = 0;
    // An error a C++ module reported, or a failed call into the host left, for the current call.
    std::shared_ptr<PendingOrbError> pendingError;
    bool errorPending = false;
    // The trap flag of the call services: whether an error in a host function called by a module
    // comes back to it as a status instead of being raised. Each module call starts with it
    // false. Here rather than in a record of its own, so the call frame finds both with one
    // look-up.
    bool trapFlag = false;
};

// Set through the host feature "ORB_DisableDiagnosticMsg". Recorded for the engine; the library
// itself does not read it back.
struct ORB_API OrbDisableDiagnosticsMsgPerEngine {
    bool value = false;
};

// The three ways to reach an engine's record of kind Record, for the calling thread's engine.
// Each kind has one storage key for the whole process, obtained on first use.
//
// Every kind is instantiated exactly once, inside the library (`template class PerEngine<Kind>;`
// in one source file, `extern template class PerEngine<Kind>;` beside the kind), so the key is
// one object for the whole process: a test or a host that names a kind reaches the same record
// as the library does.
template <class Record>
class ORB_API PerEngine {
public:
    static host::storage::Key key();
    // Looks the record up and creates a default one if there is none. When another thread
    // inserts one first, that one is used and the new one is discarded.
    static Record& getOrCreate();
    // The record; raises the storage's own error when the engine has none.
    static Record& mustExist();
    // The record, or null.
    static Record* find();
};

template <class Record>
host::storage::Key PerEngine<Record>::key() {
    static const host::storage::Key kKey = host::storage::getNextID(typeid(Record));
    return kKey;
}

template <class Record>
Record& PerEngine<Record>::getOrCreate() {
    return host::storage::getOrCreate<Record>(key());
}

template <class Record>
Record& PerEngine<Record>::mustExist() {
    return host::storage::findOrFail<Record>(key());
}

template <class Record>
Record* PerEngine<Record>::find() {
    return host::storage::find<Record>(key());
}

// The call record is asked for by every module call and most services: it is the engine's pinned
// record (host::storage::pin), which the host answers without a look-up, and which a module
// call's entry answers too.
template <>
ORB_API CurrentOrbInfoPerEngine& PerEngine<CurrentOrbInfoPerEngine>::getOrCreate();

namespace detail {
// The look-up behind the pinned record, when none is pinned yet: found or made, and pinned.
CurrentOrbInfoPerEngine& pinCallRecord();
}  // namespace detail

extern template class PerEngine<CurrentOrbInfoPerEngine>;
extern template class PerEngine<OrbDisableDiagnosticsMsgPerEngine>;

}  // namespace orb::capi
