// Asynchronous host calls from C++ modules: requests on the "CppORBQueue" queue, task handles to
// cancel, wait for and release them, and completions delivered to module callbacks.
//
// The start services may be called from any thread and return at once. The outcome arrives on
// the thread that completes the request (the engine's signal thread when it runs it, the
// cancelling thread when a cancel beats it) through exactly one callback:
//   success  setOutputsFcn(promise, nlhs, passThroughFlag, outputs) / onSuccessFcn(promise)
//   failure  setExceptionFcn(promise, nlhs, passThroughFlag, code, data) / onErrorFcn(promise, code, data)
//            code 1: a host error, data its runtime error structure (one reference for the module)
//            code 7: cancelled before it ran, data null
//            code 9: any other failure, data the what() text of a standard exception, else null
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cppapi/streams.hpp"
#include "host/engine.hpp"
#include "platform/export.hpp"

namespace orb::cppapi {

using SetOutputsFcn = void (*)(void* promise, int nlhs, bool passThroughFlag, void** outputs);
using SetExceptionFcn = void (*)(void* promise, int nlhs, bool passThroughFlag, int errorType, void* data);
using OnSuccessFcn = void (*)(void* promise);
using OnErrorFcn = void (*)(void* promise, int errorType, void* data);

// What a task handle is: shared ownership of the request's task future.
struct OrbTaskHandle {
    std::shared_ptr<host::Future<void>> future;
};
static_assert(sizeof(void*) != 8 || sizeof(OrbTaskHandle) == 16, "a task handle is a 16-byte record");

// Starts an asynchronous feval; the task handle's address, or 0 when it could not be allocated
// (the request still runs and its callbacks are still called).
ORB_API std::uint64_t fevalAsyncImpl(void* engine, const std::string& name, const host::Outputs& arguments, int nlhs,
                                     bool passThroughFlag, SetOutputsFcn setOutputsFcn,
                                     SetExceptionFcn setExceptionFcn, void* promise, void* outputStream,
                                     void* errorStream, ModuleWriteFcn writeFcn, ModuleDeleterFcn deleterFcn);

}  // namespace orb::cppapi

extern "C" {
ORB_API std::uint64_t orbApiFevalAsync(void* engine, int nlhs, int nrhs, void** prhs, const char* functionName,
                                       bool passThroughFlag, orb::cppapi::SetOutputsFcn setOutputsFcn,
                                       orb::cppapi::SetExceptionFcn setExceptionFcn, void* promise,
                                       void* outputStream, void* errorStream, orb::cppapi::ModuleWriteFcn writeFcn,
                                       orb::cppapi::ModuleDeleterFcn deleterFcn);
ORB_API std::uint64_t orbApiEvalAsync(void* engine, const char16_t* statement, orb::cppapi::OnSuccessFcn onSuccessFcn,
                                      orb::cppapi::OnErrorFcn onErrorFcn, void* promise, void* outputStream,
                                      void* errorStream, orb::cppapi::ModuleWriteFcn writeFcn,
                                      orb::cppapi::ModuleDeleterFcn deleterFcn);
// Asks the host to cancel the request; false when the handle has no task or it is too late.
ORB_API bool orbApiCancelFevalWithCompletion(void* taskHandle, bool allowInterrupt);
// Releases the handle (not the request: its callbacks still run). Null is ignored.
ORB_API void orbApiDestroyTaskHandle(void* taskHandle);
// Blocks until the request's callback has run (on the signal thread, running queued requests
// meanwhile); raises what the callback raised. A null handle returns at once.
ORB_API void orbApiToWaitForPendingfevalEvalToComplete(void* taskHandle);
}
