// How host failures reach a C++ module: an error code plus, for host errors, an error structure
// (a data array the module's own library turns back into an exception), and the engine's
// pending-error holder where the latest converted error is kept.
//
// The runtime error structure (from the distributor's RuntimeException) is a 1-by-1 struct with
// the fields "status", "message", "identifier", "functionName", "cause", "stack"; the catalogue
// error structure (errors the services raise themselves, and host user errors) has "status",
// "message", "identifier", "stack", "cause". "stack" is a 1-by-N struct with "File", "Name",
// "Line"; "cause" a 1-by-N cell of runtime error structures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/dataarray.hpp"
#include "host/engine.hpp"
#include "platform/export.hpp"

namespace orb::capi {

// The engine's latest converted error. A module call's clean-up empties it.
struct PendingOrbError {
    std::u16string message;
    std::string identifier;
    host::data::Array errorArray;
    // The host error behind it when a call into the host failed; null stands for a blank one.
    std::shared_ptr<const host::RuntimeException> runtimeError;
};

}  // namespace orb::capi

namespace orb::cppapi {

// "status" values of the structures.
enum OrbErrorStatus : std::int32_t {
    kStatusRuntimeFailed = 2,
    kStatusCatalogue = 3,
    kStatusUser = 4,
    kStatusInterrupted = 8,
};

ORB_API host::data::Array buildRuntimeErrorArray(const host::RuntimeException& error);
ORB_API host::data::Array buildCatalogErrorArray(std::int32_t status, const std::string& identifier,
                                                 const std::u16string& message);

// Reports the catalogue error `identifier` with up to two arguments (an empty one is left out,
// so the next one takes its place): error code 1, the structure into the holder and, with one
// reference, into *exceptionOut.
ORB_API void raiseCatalogError(int* errorType, const std::string& identifier, void** exceptionOut,
                               const std::u16string& first = {}, const std::string& second = {});
// The same for a host user error, with status 4.
ORB_API void buildUserErrorArray(int* errorType, const host::UserException& error, void** exceptionOut);
// The same for a host RuntimeException, which the holder keeps beside the structure.
ORB_API void reportRuntimeError(int* errorType, const host::RuntimeException& error, void** exceptionOut);

// Stores into the engine's holder: a new holder starts empty and takes the given parts; an
// existing one has only the given parts replaced.
struct PendingParts {
    const std::u16string* message = nullptr;
    const std::string* identifier = nullptr;
    const host::data::Array* errorArray = nullptr;
    const host::RuntimeException* runtimeError = nullptr;
};
ORB_API void storePendingError(const PendingParts& parts);

}  // namespace orb::cppapi
