// Calling into the host: host functions and other modules by name, evaluated text, workspace
// variables, graphics properties and function handles. The host does the work behind callback
// slots; these services prepare what the module hands over and tidy what comes back.
//
// The plain names serve modules of the separate-complex interfaces: every array they hand to the
// host is brought in step first (updateInterleavedData), graphics objects that come back are
// turned into numeric handles, and borrowed variables are registered with the call's guard. The
// _800 names, for interleaved-complex modules, pass everything through as it is.
#include <orb.h>

#include "capi/arguments.hpp"
#include "capi/callback_table.hpp"
#include "capi/trap_flag.hpp"
#include "host/dispatcher.hpp"
#include "host/ry.hpp"

namespace orb::capi {
namespace {

constexpr const char* kGraphicsClass = "veltra.graphics.Graphics";
// The host function that turns a graphics object into its numeric handle.
constexpr const char* kToNumber = "double";

// The lists a call service reads must be there for the counts it is given; a refusal is raised.
void checkLists(const char* service, int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    std::string problem = arrayListProblem("outputs", nlhs, plhs);
    if (problem.empty()) problem = arrayListProblem("inputs", nrhs, prhs);
    if (!problem.empty()) refuseArgument(service, problem);
}

bool isGraphics(const ryArray* array) { return array && host::ryIsA(array, kGraphicsClass); }

void bringInStep(int count, ryArray** arrays) {
    for (int i = 0; i < count; ++i) {
        if (arrays[i]) host::updateInterleavedData(arrays[i]);
    }
}

int callFunction(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs, const char* name) {
    return installedSlot(&CallbackSlots::callFunction)(nlhs, plhs, nrhs, prhs, name, chooseTrapFlag());
}

// Replaces each graphics output by its numeric handle, through `convert` (which answers whether
// the conversion failed); stops at the first failure.
template <class Convert, class Failure>
Failure convertGraphicsOutputs(int nlhs, ryArray** plhs, Failure none, Convert convert) {
    for (int i = 0; i < nlhs; ++i) {
        if (!isGraphics(plhs[i])) continue;
        ryArray* object = plhs[i];
        Failure failure = convert(&plhs[i], object);
        host::destroyArray(object);
        if (failure != none) return failure;
    }
    return none;
}

}  // namespace
}  // namespace orb::capi

using orb::capi::CallbackSlots;
using orb::capi::installedSlot;

extern "C" {

ORB_API int orbCallVELTRA(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs, const char* functionName) {
    orb::capi::checkLists("orbCallVELTRA", nlhs, plhs, nrhs, prhs);
    orb::capi::bringInStep(nrhs, prhs);
    const bool trap = orb::capi::chooseTrapFlag();
    auto call = installedSlot(&CallbackSlots::callFunction);
    int status = call(nlhs, plhs, nrhs, prhs, functionName, trap);
    if (status != 0 || nlhs < 1) return status;
    return orb::capi::convertGraphicsOutputs(nlhs, plhs, 0, [&](ryArray** out, ryArray* object) {
        return call(1, out, 1, &object, orb::capi::kToNumber, trap);
    });
}

ORB_API int orbCallVELTRAWithObject(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs, const char* functionName) {
    orb::capi::checkLists("orbCallVELTRAWithObject", nlhs, plhs, nrhs, prhs);
    orb::capi::bringInStep(nrhs, prhs);
    return orb::capi::callFunction(nlhs, plhs, nrhs, prhs, functionName);
}

ORB_API int orbCallVELTRA_800(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs, const char* functionName) {
    orb::capi::checkLists("orbCallVELTRA_800", nlhs, plhs, nrhs, prhs);
    return orb::capi::callFunction(nlhs, plhs, nrhs, prhs, functionName);
}

ORB_API ryArray* orbCallVELTRAWithTrap(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs, const char* functionName) {
    orb::capi::checkLists("orbCallVELTRAWithTrap", nlhs, plhs, nrhs, prhs);
    orb::capi::bringInStep(nrhs, prhs);
    auto call = installedSlot(&CallbackSlots::callFunctionWithTrap);
    if (ryArray* error = call(nlhs, plhs, nrhs, prhs, functionName)) return error;
    return orb::capi::convertGraphicsOutputs(nlhs, plhs, static_cast<ryArray*>(nullptr),
                                             [&](ryArray** out, ryArray* object) {
                                                 return call(1, out, 1, &object, orb::capi::kToNumber);
                                             });
}

ORB_API ryArray* orbCallVELTRAWithTrapWithObject(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs,
                                                 const char* functionName) {
    orb::capi::checkLists("orbCallVELTRAWithTrapWithObject", nlhs, plhs, nrhs, prhs);
    orb::capi::bringInStep(nrhs, prhs);
    return installedSlot(&CallbackSlots::callFunctionWithTrap)(nlhs, plhs, nrhs, prhs, functionName);
}

ORB_API ryArray* orbCallVELTRAWithTrap_800(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs,
                                           const char* functionName) {
    orb::capi::checkLists("orbCallVELTRAWithTrap_800", nlhs, plhs, nrhs, prhs);
    return installedSlot(&CallbackSlots::callFunctionWithTrap)(nlhs, plhs, nrhs, prhs, functionName);
}

ORB_API int orbEvalString(const char* statements) { return installedSlot(&CallbackSlots::evalString)(statements); }

ORB_API ryArray* orbEvalStringWithTrap(const char* statements) {
    return installedSlot(&CallbackSlots::evalStringWithTrap)(statements);
}

// The interleaved-complex generation's forms are entries of their own, not aliases: their
// behaviour may part from the plain forms' without moving a module's imports.
ORB_API int orbEvalString_800(const char* statements) {
    return installedSlot(&CallbackSlots::evalString)(statements);
}

ORB_API ryArray* orbEvalStringWithTrap_800(const char* statements) {
    return installedSlot(&CallbackSlots::evalStringWithTrap)(statements);
}

ORB_API ryArray* orbGetVariable(const char* workspace, const char* name) {
    ryArray* value = installedSlot(&CallbackSlots::getVariable)(workspace, name);
    if (!orb::capi::isGraphics(value)) return value;
    ryArray* number = nullptr;
    ryArray* error =
        installedSlot(&CallbackSlots::callFunctionWithTrap)(1, &number, 1, &value, orb::capi::kToNumber);
    host::destroyArray(value);
    return error ? error : number;
}

ORB_API ryArray* orbGetVariableWithObject(const char* workspace, const char* name) {
    return installedSlot(&CallbackSlots::getVariable)(workspace, name);
}

ORB_API ryArray* orbGetVariable_800(const char* workspace, const char* name) {
    return installedSlot(&CallbackSlots::getVariable)(workspace, name);
}

ORB_API const ryArray* orbGetVariablePtr(const char* workspace, const char* name) {
    // The guard first: the host may run code (and so other module calls) to answer.
    host::OrbFunctionGuard* guard = host::OrbFunctionGuard::getCurrent();
    const ryArray* value = installedSlot(&CallbackSlots::getVariablePtr)(workspace, name);
    if (value && guard) guard->trackParam(const_cast<ryArray*>(value), 1);
    return value;
}

ORB_API const ryArray* orbGetVariablePtr_800(const char* workspace, const char* name) {
    return installedSlot(&CallbackSlots::getVariablePtr)(workspace, name);
}

ORB_API int orbPutVariable_800(const char* workspace, const char* name, const ryArray* value) {
    if (!workspace || !name || !value) return 1;
    return installedSlot(&CallbackSlots::putVariable)(workspace, name, value);
}

ORB_API int orbPutVariable(const char* workspace, const char* name, const ryArray* value) {
    if (value) host::updateInterleavedData(const_cast<ryArray*>(value));
    return orbPutVariable_800(workspace, name, value);
}

ORB_API bool orbIsGlobal(const ryArray*) { return false; }

ORB_API const ryArray* orbGet(double handle, const char* property) {
    if (!property) return nullptr;
    return installedSlot(&CallbackSlots::getProperty)(handle, property);
}

ORB_API int orbSet(double handle, const char* property, const ryArray* value) {
    if (!property || !value) return 1;
    host::updateInterleavedData(const_cast<ryArray*>(value));
    // The host keeps what it is given; the module's own array stays the module's.
    host::ryUnique copy = host::do_deep_copy(value);
    return installedSlot(&CallbackSlots::setProperty)(handle, property, copy.get());
}

ORB_API ryArray* orbCreateSimpleFunctionHandle(OrbModuleFunction function) {
    if (!function) orb::capi::refuseArgument("orbCreateSimpleFunctionHandle", "the function is null");
    return installedSlot(&CallbackSlots::createSimpleFunctionHandle)(function);
}

ORB_API bool orbIsGlobal_800(const ryArray*) ORB_ALIAS(orbIsGlobal);

}  // extern "C"
