// The host's callback table: the 22 functions through which most module services reach the host.
//
// The host builds one OrbCallbackTable and hands it to orbSetCallbacks once, when it has loaded
// this library and before any module runs. The library copies the entries into slots of its own;
// a slot counts as installed when its copy is not null. The layout is an ABI between the host and
// this library: 22 pointer-sized entries in slot order, nothing else.
//
// Slots 0 to 13 have no fallback: the services that use them call them without a null check, so
// a host must install them before any module runs. Slot 14 is reserved and never called. Slots
// 15 to 21 are optional; the services that use them have behaviour of their own when they are
// empty.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>

#include <ry_types.h>

#include "platform/export.hpp"

// The load record of one loaded module; defined by the module loader.
struct impl_info_tag;

// A module's gateway function (what "orbFunction" is), as handed to slot 13.
using OrbModuleFunction = void (*)(int nlhs, ryArray** plhs, int nrhs, const ryArray** prhs);
// A function a module registers to run when it is cleared.
using OrbExitFunction = void (*)();

// One alias per slot, with the arguments the calling services pass. Workspace, variable,
// property and function names, identifiers and texts are NUL-terminated 8-bit strings.
using OrbPutVariableCallback = int (*)(const char* workspace, const char* name, const ryArray* value);
using OrbGetVariableCallback = ryArray* (*)(const char* workspace, const char* name);
using OrbGetVariablePtrCallback = const ryArray* (*)(const char* workspace, const char* name);
using OrbFunctionNameCallback = const char* (*)();
using OrbSetPropertyCallback = int (*)(double handle, const char* property, const ryArray* value);
using OrbGetPropertyCallback = const ryArray* (*)(double handle, const char* property);
using OrbLockCallback = void (*)();
using OrbUnlockCallback = void (*)();
using OrbIsLockedCallback = bool (*)();
using OrbEvalStringCallback = int (*)(const char* text);
// Null on success; otherwise an array that carries the error.
using OrbEvalStringWithTrapCallback = ryArray* (*)(const char* text);
// Status 0 on success. With `trap` set, an error of the called function comes back as a non-zero
// status; clear, the host raises it.
using OrbCallFunctionCallback = int (*)(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs, const char* name,
                                        bool trap);
using OrbCallFunctionWithTrapCallback = ryArray* (*)(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs,
                                                     const char* name);
using OrbCreateSimpleFunctionHandleCallback = ryArray* (*)(OrbModuleFunction function);
using OrbReservedCallback = void (*)();
using OrbAtExitCallback = int (*)(OrbExitFunction exitFunction);
using OrbClearOrbFileCallback = int (*)(impl_info_tag* module);
// The error and warning callbacks receive the module's argument list as it is, not re-expanded.
// The two error callbacks are expected not to return.
using OrbErrMsgIdAndTxtCallback = void (*)(const char* identifier, const char* format, va_list args);
using OrbErrMsgTxtCallback = void (*)(const char* message);
using OrbWarnMsgIdAndTxtCallback = void (*)(const char* identifier, const char* format, va_list args);
using OrbWarnMsgTxtCallback = void (*)(const char* message);
using OrbTrapFlagCallback = bool (*)();

// X(slot number, member name, alias) for every slot, in slot order.
#define ORB_CALLBACK_SLOTS(X)                                                   \
    X(0, putVariable, OrbPutVariableCallback)                                   \
    X(1, getVariable, OrbGetVariableCallback)                                   \
    X(2, getVariablePtr, OrbGetVariablePtrCallback)                             \
    X(3, functionName, OrbFunctionNameCallback)                                 \
    X(4, setProperty, OrbSetPropertyCallback)                                   \
    X(5, getProperty, OrbGetPropertyCallback)                                   \
    X(6, lock, OrbLockCallback)                                                 \
    X(7, unlock, OrbUnlockCallback)                                             \
    X(8, isLocked, OrbIsLockedCallback)                                         \
    X(9, evalString, OrbEvalStringCallback)                                     \
    X(10, evalStringWithTrap, OrbEvalStringWithTrapCallback)                    \
    X(11, callFunction, OrbCallFunctionCallback)                                \
    X(12, callFunctionWithTrap, OrbCallFunctionWithTrapCallback)                \
    X(13, createSimpleFunctionHandle, OrbCreateSimpleFunctionHandleCallback)    \
    X(14, reserved, OrbReservedCallback)                                        \
    X(15, atExit, OrbAtExitCallback)                                            \
    X(16, clearOrbFile, OrbClearOrbFileCallback)                                \
    X(17, errMsgIdAndTxt, OrbErrMsgIdAndTxtCallback)                            \
    X(18, errMsgTxt, OrbErrMsgTxtCallback)                                      \
    X(19, warnMsgIdAndTxt, OrbWarnMsgIdAndTxtCallback)                          \
    X(20, warnMsgTxt, OrbWarnMsgTxtCallback)                                    \
    X(21, trapFlag, OrbTrapFlagCallback)

inline constexpr std::size_t kOrbCallbackSlotCount = 22;

// What the host passes to orbSetCallbacks.
struct OrbCallbackTable {
#define ORB_TABLE_MEMBER(slot, name, type) type name;
    ORB_CALLBACK_SLOTS(ORB_TABLE_MEMBER)
#undef ORB_TABLE_MEMBER
};
static_assert(sizeof(OrbCallbackTable) == kOrbCallbackSlotCount * sizeof(void*),
              "the callback table is 22 pointer-sized entries and nothing else");

extern "C" {
// The first call in the process copies all 22 entries and registers the host feature
// "ORB_DisableDiagnosticMsg"; every later call returns at once without reading `table`.
// Concurrent first callers wait until the copy is complete. A null table raises
// std::invalid_argument and leaves the library as it was, so a later call can still install.
ORB_API void orbSetCallbacks(const OrbCallbackTable* table);
// The first call in the process stores `callFunction` into slot 11 alone. Its once-guard is
// independent of orbSetCallbacks', so whichever of the two runs later decides slot 11.
ORB_API void orbSetCallbacksForLXE(OrbCallFunctionCallback callFunction);
}

namespace orb::capi {

// The library's copies of the slots. Written once, with atomic stores, inside the installation
// guards; read at each use with relaxed loads (a reader never sees a torn pointer).
struct CallbackSlots {
#define ORB_SLOT_MEMBER(slot, name, type) std::atomic<type> name{nullptr};
    ORB_CALLBACK_SLOTS(ORB_SLOT_MEMBER)
#undef ORB_SLOT_MEMBER
};

// Exported for hosts that inspect what was installed, and for the test suite.
ORB_API const CallbackSlots& callbackSlots() noexcept;
// A snapshot of the installed slots (null where empty).
ORB_API OrbCallbackTable installedCallbacks() noexcept;

// The callback in `member`, or null when that slot is empty:
//     if (auto warn = installedSlot(&CallbackSlots::warnMsgTxt)) warn(message);
template <class Callback>
Callback installedSlot(const std::atomic<Callback> CallbackSlots::*member) noexcept {
    return (callbackSlots().*member).load(std::memory_order_relaxed);
}

}  // namespace orb::capi
