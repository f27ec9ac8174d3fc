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
//
// Callbacks into the module (completions, and writes to and the release of its streams) run
// through the guarded boundary, also when no call of the module is in progress (the host idle):
// a machine fault or abort in one is reported as the warning "VELTRA:orbapi:CallbackFaulted"
// naming the module, which is then refused further calls until it is cleared, and the host goes
// on. Clearing a module settles every request it started before its code goes (SettledRequests).
// A thread other than the signal thread that waits for a request while a module call holds the
// engine without serving the queue gets the request refused with "VELTRA:orbapi:EngineHeld"
// after a bounded time (ORB_ENGINE_HOLD_LIMIT seconds, 5 by default).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "cppapi/streams.hpp"
#include "host/engine.hpp"
#include "platform/export.hpp"

struct impl_info_tag;  // the module loader's load record

namespace orb::cppapi {

struct ModuleRequests;

using SetOutputsFcn = void (*)(void* promise, int nlhs, bool passThroughFlag, void** outputs);
using SetExceptionFcn = void (*)(void* promise, int nlhs, bool passThroughFlag, int errorType, void* data);
using OnSuccessFcn = void (*)(void* promise);
using OnErrorFcn = void (*)(void* promise, int errorType, void* data);

// What a task handle is: shared ownership of the request's task future.
struct OrbTaskHandle {
    std::shared_ptr<host::Future<void>> future;
};
static_assert(sizeof(void*) != 8 || sizeof(OrbTaskHandle) == 16, "a task handle is a 16-byte record");

// Starts an asynchronous feval; the task handle's address (the handle lives in the request).
ORB_API std::uint64_t fevalAsyncImpl(void* engine, const std::string& name, const host::Outputs& arguments, int nlhs,
                                     bool passThroughFlag, SetOutputsFcn setOutputsFcn,
                                     SetExceptionFcn setExceptionFcn, void* promise, void* outputStream,
                                     void* errorStream, ModuleWriteFcn writeFcn, ModuleDeleterFcn deleterFcn);

// Lives around the clear of a module (`module` a C++ module's load record; otherwise nothing
// happens). Made while the module's code is still mapped, it settles every request the module
// started: a queued one is cancelled (its failure callback hears code 7 on this thread), one whose
// completion runs on another thread is waited for, and one that can no longer be cancelled (the
// request whose own work clears the module) is abandoned: its callbacks and stream callbacks are
// never called. A module that faulted (`faulted`, or a callback of it faulted) has every request
// abandoned: none of its code runs for them. Until it ends, requests the module starts (from its
// destroy entry or a thread of its own) are cancelled at once. Signal thread; never throws.
class ORB_API SettledRequests {
public:
    SettledRequests(const impl_info_tag* module, bool faulted) noexcept;
    ~SettledRequests();
    SettledRequests(const SettledRequests&) = delete;
    SettledRequests& operator=(const SettledRequests&) = delete;

private:
    void settle(bool faulted);

    void* m_module;
    // The module's record of requests, kept apart from the handle: the module's destroy entry
    // may release the handle before the clear ends, and the record outlives every handle.
    ModuleRequests* m_requests = nullptr;
};

// The fatal error's identifier of a fault in a callback of `module` since it was loaded, or
// empty; the loader refuses the module's calls when there is one.
ORB_API std::string callbackFaultOf(const impl_info_tag* module);
// Whether any callback has faulted since the process started: the loader asks this on every call
// and callbackFaultOf only when it is true. Inline, one load: every module call asks.
ORB_API extern std::atomic<bool> g_anyCallbackFault;
inline bool anyCallbackFault() noexcept { return g_anyCallbackFault.load(std::memory_order_acquire); }

// A callback of `module` (its engine handle) faulted where no call frame takes the fault as its
// own (inside a service the module called): reported and remembered as for a completion. A null
// module only claims the fault.
ORB_API void chargeCallbackFault(void* module, int signal) noexcept;

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
// meanwhile; on other threads refusing the request when a module call holds the engine too long,
// see above); raises what the callback raised. A null handle returns at once.
ORB_API void orbApiToWaitForPendingfevalEvalToComplete(void* taskHandle);
}
