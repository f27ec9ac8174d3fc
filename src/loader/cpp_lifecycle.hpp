// C++ modules: their function object, the calls through the adapter entry point, and the two
// callbacks through which a module hands back outputs and reports errors.
//
// The loader has the module create its function object once, right after loading; every call
// passes that object to the adapter; the clear destroys it before the library goes. A module
// never raises into this library: it reports an error through the error callback, and the error
// is raised once control is back here (raisePendingError).
#pragma once

#include <cstdint>
#include <string>

#include "capi/call_frame.hpp"
#include "host/exceptions.hpp"
#include "loader/dispatch_strategies.hpp"
#include "platform/export.hpp"
#include "platform/module_boundary.hpp"

namespace orb::loader {

// Module entry points as this library calls them.
using CppErrorCallback = void (*)(const char* message, const char* identifier);
using CppOutputCallback = void (*)(int count, void** arrays);
using CppCreateEntry = void* (*)(CppErrorCallback);
using CppDestroyEntry = void (*)(void* function, CppErrorCallback);
using CppAdapterEntry = void (*)(int nlhs, int capacity, int nrhs, void** prhs, void* function,
                                 CppOutputCallback, CppErrorCallback);

// An error a C++ module reported (or that its outputs could not be handed back).
class ORB_API CppOrbException : public host::UserException {
public:
    using UserException::UserException;
    std::unique_ptr<host::UserException> clone() const override;
    [[noreturn]] void rethrow() const override;
};

// The callbacks handed to modules.
ORB_API void cppOutputCallback(int count, void** arrays);
ORB_API void cppErrorCallback(const char* message, const char* identifier) noexcept;

// Raises the engine's pending error if one is pending, clearing it: the host error that a failed
// call into the host left (unchanged, with its stack and causes), else a CppOrbException.
ORB_API void raisePendingError();

// Calls the destroy entry point of the engine's current module on its function object, through
// the module boundary; returned when there is nothing to destroy.
platform::ModuleOutcome destroyCppFunction();

// Runs the create entry point of `record` through the module boundary. The object it made is in
// record->cppFunction (null when it made none or failed). A handle the module never fetched is
// destroyed and the record's field cleared.
platform::ModuleOutcome createCppFunction(impl_info_tag* record);

// A load record about to be freed stops being the engine's module under construction, so that no
// later orbGetFunctionImpl or orbRunCreateOrbFunction reaches into a module that is gone.
void forgetModuleUnderConstruction(const impl_info_tag* record) noexcept;

class ORB_API CPP_DispatchStrategy : public EntryDispatchStrategy {
public:
    CPP_DispatchStrategy(impl_info_tag* module, std::int32_t dispatchAspect) noexcept
        : EntryDispatchStrategy(module), m_dispatchAspect(dispatchAspect) {}
    void dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) override;

private:
    std::int32_t m_dispatchAspect;
};

}  // namespace orb::loader

extern "C" {
// Runs the create entry point of the engine's module under construction: 0 on success, 1 when
// there is none, it returned null or it failed (fault, exception; nothing escapes). When creation
// fails before the module fetched its engine handle, the handle is destroyed here and the
// record's field cleared.
ORB_API int orbRunCreateOrbFunction(void);
// The engine handle of the module under construction (called by the module from its function
// object's construction); null when there is none (its module was cleared).
ORB_API void* orbGetFunctionImpl(void);
// Non-zero: the loader prints what it loads on this engine.
ORB_API void orbOrbDebug(std::uint32_t flag);
// Destroys an engine handle; null is ignored.
ORB_API void orbDestroyFunctionImpl(void* handle);
}

namespace orb {
// Hooks a module's support library may call around its life; they have nothing to do here.
ORB_API void initializeFcn();
ORB_API void terminateFcn();
}  // namespace orb
