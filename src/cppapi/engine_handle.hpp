// The engine handle of a C++ module, and the services around it.
//
// The loader makes one handle per C++ module when it loads it; the module receives it through
// orbGetFunctionImpl while its function object is being constructed, passes it first to every
// C++ service, and gives it back with orbDestroyFunctionImpl when the object goes. The handle
// itself is never validated: a null or foreign pointer is outside the contract.
//
// Synchronous services must run on the engine's signal thread. They check that first
// (checkCallingThread) and on a mismatch write error code 5 and return at once. Every
// synchronous service writes its error code only on failure, so callers set it to 0 first.
#pragma once

#include <atomic>
#include <string>

#include "host/engine.hpp"
#include "platform/export.hpp"

namespace orb::cppapi {

// Error codes the C++ services report.
enum OrbErrorCode : int {
    kOrbErrorHost = 1,            // the host reported an error, or a synchronous service failed
    kOrbErrorThreadMismatch = 5,  // a synchronous service was called off the signal thread
    kOrbErrorCancelled = 7,       // an asynchronous request was cancelled before it ran
    kOrbErrorOther = 9,           // an asynchronous request failed in any other way
};

// What the asynchronous services keep of a module's requests (async.cpp). Each field is written
// by few threads; the one every start reads shares no line with the one completions count. Records are
// never freed, only passed on to later handles: a request may outlive its module's handle, and
// what it does to the record then (count a completion for a moment) harms no later owner.
struct ModuleRequests {
    // Clears of the module in progress: requests started meanwhile are cancelled at once (the
    // engine's queue reads it as it takes a request).
    std::atomic<int> closing{0};
    // Completions running for cancels and refusals made off the engine's queue: a clear waits
    // for them, as they run the module's code.
    alignas(64) std::atomic<int> elsewhere{0};
};

// Fields in this order: the C++ services read them so.
struct OrbFunctionImpl {
    // A cell of its own holding the raw engine pointer; the handle keeps no ownership of it.
    host::HostEngine** engineCell;
    // Whether the module holds its lock through this handle (taken at most once).
    bool locked;
    // The name the module's function is called under.
    std::u16string functionName;
    ModuleRequests* requests;

    ~OrbFunctionImpl();
};

// A new handle for the calling thread's engine; null when memory runs out.
ORB_API OrbFunctionImpl* makeEngineHandle(std::u16string functionName) noexcept;
// The engine behind a handle.
host::HostEngine& engineOf(void* handle);

// True (and 5 written to *errorType) when the calling thread is not the signal thread.
ORB_API bool checkCallingThread(int* errorType);

// True when `problem` (from the checks of capi/arguments.hpp) is not empty; then the service is
// refused with "VELTRA:orbapi:invalidArgument": error code 1 and the error structure.
ORB_API bool refusedArgument(const char* service, const std::string& problem, int* errorType, void** exceptionOut);

}  // namespace orb::cppapi

extern "C" {
ORB_API void* cpporb_getEngine(void* handle);
// A new NUL-terminated UTF-16 copy of the function name from the C heap, or null.
ORB_API char16_t* cpporb_getFunctionName(void* handle);
ORB_API void cpporb_orbLock(void* handle);
ORB_API void cpporb_orbUnlock(void* handle);
ORB_API void cpporb_orbLock_with_error_check(void* handle, int* errorType);
ORB_API void cpporb_orbUnlock_with_error_check(void* handle, int* errorType);
}
