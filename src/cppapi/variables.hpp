// Workspace variables and object properties for C++ modules, synchronous and asynchronous.
//
// Synchronous forms run on the engine's signal thread (error code 5 elsewhere) and report a host
// user error as a status-4 error structure, anything else as the service's own catalogue error.
// Asynchronous forms start a request of the host's helper functions and deliver the outcome
// through the feval callbacks (see cppapi/async.hpp).
#pragma once

#include <cstdint>

#include "cppapi/async.hpp"
#include "host/engine.hpp"
#include "platform/export.hpp"

namespace orb::cppapi {

// A synchronous host call whose printed output and error text are dropped; host errors pass
// through unchanged.
ORB_API host::Outputs fevalSync(void* engine, const std::string& name, const host::Outputs& arguments, int nlhs);

// An asynchronous request of `engine` refused before it started ("VELTRA:orbapi:invalidArgument"
// for `service` with `problem`): it completes at once, on the calling thread, through its failure
// callback with the error structure (error code 1), and has no task; answers 0. A fault in the
// callback is charged to the module as for any callback (chargeCallbackFault).
std::uint64_t refusedRequest(void* engine, const char* service, const std::string& problem,
                             SetExceptionFcn setExceptionFcn, void* promise, int nlhs);

}  // namespace orb::cppapi

extern "C" {
ORB_API void* orbApiGetVariable(void* engine, const char* workspace, const char16_t* name, int* errorType,
                                void** exceptionOut);
ORB_API void orbApiSetVariable(void* engine, void* value, const char* workspace, const char16_t* name,
                               int* errorType, void** exceptionOut);
ORB_API void* orbApiGetProperty(void* engine, void* object, std::uint64_t index, const char16_t* name,
                                int* errorType, void** exceptionOut);
ORB_API void* orbApiSetProperty(void* engine, void* object, std::uint64_t index, const char16_t* name, void* value,
                                int* errorType, void** exceptionOut);

ORB_API std::uint64_t orbApiGetVariableAsync(void* engine, const char* workspace, const char16_t* name,
                                             orb::cppapi::SetOutputsFcn setOutputsFcn,
                                             orb::cppapi::SetExceptionFcn setExceptionFcn, void* promise);
ORB_API std::uint64_t orbApiSetVariableAsync(void* engine, void* value, const char* workspace, const char16_t* name,
                                             orb::cppapi::SetOutputsFcn setOutputsFcn,
                                             orb::cppapi::SetExceptionFcn setExceptionFcn, void* promise);
ORB_API std::uint64_t orbApiGetPropertyAsync(void* engine, void* object, std::uint64_t index, const char16_t* name,
                                             orb::cppapi::SetOutputsFcn setOutputsFcn,
                                             orb::cppapi::SetExceptionFcn setExceptionFcn, void* promise);
ORB_API std::uint64_t orbApiSetPropertyAsync(void* engine, void* object, std::uint64_t index, const char16_t* name,
                                             void* value, orb::cppapi::SetOutputsFcn setOutputsFcn,
                                             orb::cppapi::SetExceptionFcn setExceptionFcn, void* promise);
}
