// The host side of the module services.
//
// Workspaces: "base", "global", and "caller", the workspace the running module was called from
// (a module has none of its own, so a module called by another has the same caller). Evaluation
// (slots 9, 10) runs in the caller's workspace.
//
// Errors in the trap forms (slots 10, 12) come back as a new 1x1 struct with the fields
// identifier and message (both text; identifier empty when the error had none), owned by the
// module call's array-list context. Every trapped error is also recorded as the engine's last
// error. The status forms (9, 11 with trap set) answer 1 for an error and record it the same way.
//
// Slot 14 is reserved and never called. Slots 15 and 16 are left empty on purpose: the runtime
// then keeps a module's exit function in the module's own load record and runs its own clear,
// which is the one place where exit functions, locks and library unloading are decided; this host
// keeps no exit functions of its own.
#include "vhost/callbacks/callbacks.hpp"

#include <cstdio>
#include <string>

#include "host/ry.hpp"
#include "host/ut.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/foundation/last_error.hpp"
#include "vhost/graphics/graphics.hpp"
#include "vhost/lang/classes.hpp"
#include "vhost/lang/functions.hpp"
#include "vhost/lang/workspace.hpp"
#include "vhost/ry/lifetime.hpp"

namespace vhost {
namespace {

using lang::Value;

// Hands a value to the module: tracked by the current (the module call's) array-list context.
ryArray* toModule(Value value) { return host::to_veltra(std::move(value)); }

ryArray* errorArray(const host::UserException& error) {
    recordLastError(error);
    Value s(ry::newStructArray({1, 1}, {"identifier", "message"}));
    ry::setFieldValue(s.get(), 0, 0, lang::makeText(error.identifier()).release());
    ry::setFieldValue(s.get(), 0, 1, lang::makeText(error.message()).release());
    return toModule(std::move(s));
}

int putVariable(const char* workspace, const char* name, const ryArray* value) {
    lang::Workspace* target = workspace ? lang::workspaces().forModule(workspace) : nullptr;
    if (!target || !name || !value || !ry::isValidFieldName(name)) return 1;
    // A deep copy: the module may still write through data pointers it holds to its own array.
    target->assign(name, Value(ry::deepCopy(value)));
    return 0;
}

ryArray* getVariable(const char* workspace, const char* name) {
    lang::Workspace* source = workspace && name ? lang::workspaces().forModule(workspace) : nullptr;
    const ryArray* value = source ? source->find(name) : nullptr;
    return value ? toModule(lang::copyOf(value)) : nullptr;
}

const ryArray* getVariablePtr(const char* workspace, const char* name) {
    lang::Workspace* source = workspace && name ? lang::workspaces().forModule(workspace) : nullptr;
    return source ? source->find(name) : nullptr;
}

const char* functionName() { return currentDispatcher().currentFunctionName(); }

int setProperty(double handle, const char* property, const ryArray* value) {
    ryArray* object = graphics::find(handle);
    if (!object || !property || !value || !ry::isValidFieldName(property)) return 1;
    ry::setProperty(object, 0, property, ry::deepCopy(value));
    return 0;
}

const ryArray* getProperty(double handle, const char* property) {
    const ryArray* object = graphics::find(handle);
    return object && property ? ry::propertyOf(object, 0, property) : nullptr;
}

void lock() { currentDispatcher().lockCurrent(); }
void unlock() { currentDispatcher().unlockCurrent(); }
bool isLocked() { return currentDispatcher().isCurrentLocked(); }

void evaluateInCaller(const char* text) { lang::evaluateIn(lang::workspaces().current(), text ? text : ""); }

int evalString(const char* text) {
    try {
        evaluateInCaller(text);
        return 0;
    } catch (const host::UserException& error) {
        recordLastError(error);
        return 1;
    }
}

ryArray* evalStringWithTrap(const char* text) {
    try {
        evaluateInCaller(text);
        return nullptr;
    } catch (const host::UserException& error) {
        return errorArray(error);
    }
}

// Runs the call; outputs go to plhs as arrays of the module's context.
void callInto(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs, const char* name) {
    if (!name) throw host::UserException("VELTRA:invalidArgument", "No function name was given.");
    lang::Arguments inputs;
    for (int i = 0; i < nrhs; ++i) inputs.push_back(prhs[i]);
    lang::Values outputs = lang::callFunction(name, nlhs, inputs);
    const std::size_t wanted = static_cast<std::size_t>(std::max(nlhs, 1));
    for (std::size_t i = 0; i < outputs.size() && i < wanted; ++i)
        if (outputs[i] && plhs) plhs[i] = toModule(std::move(outputs[i]));
}

int callFunction(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs, const char* name, bool trap) {
    if (!trap) {
        callInto(nlhs, plhs, nrhs, prhs, name);
        return 0;
    }
    try {
        callInto(nlhs, plhs, nrhs, prhs, name);
        return 0;
    } catch (const host::UserException& error) {
        recordLastError(error);
        return 1;
    }
}

ryArray* callFunctionWithTrap(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs, const char* name) {
    try {
        callInto(nlhs, plhs, nrhs, prhs, name);
        return nullptr;
    } catch (const host::UserException& error) {
        return errorArray(error);
    }
}

// A function handle that calls a module's gateway function directly, inside a frame of its own
// (its arrays are released when it returns, except the outputs).
struct SimpleHandle : lang::HandleTarget {
    explicit SimpleHandle(OrbModuleFunction function) : function(function) {}
    lang::Values call(int nargout, const lang::Arguments& inputs) override {
        std::vector<ryArray*> outputs(static_cast<std::size_t>(std::max(nargout, 1)), nullptr);
        std::vector<const ryArray*> in(inputs.begin(), inputs.end());
        const host::ryContextToken arrays = host::ryEnterNewArrayListContext();
        const host::ryContextToken blocks = host::ryEnterNewAllocListContext();
        try {
            function(nargout, outputs.data(), static_cast<int>(in.size()), in.data());
        } catch (...) {
            host::ryRestorePreviousAllocListContext(blocks);
            host::ryExitArrayListContext(arrays, nullptr, 0, false);
            throw;
        }
        host::ryRestorePreviousAllocListContext(blocks);
        host::ryExitArrayListContext(arrays, outputs.data(), static_cast<int>(outputs.size()), true);
        lang::Values result;
        for (ryArray* output : outputs) result.push_back(output ? host::from_veltra(output) : Value());
        while (!result.empty() && !result.back()) result.pop_back();
        return result;
    }
    OrbModuleFunction function;
};

ryArray* createSimpleFunctionHandle(OrbModuleFunction function) {
    char text[64];
    std::snprintf(text, sizeof text, "orbfunction_%p", reinterpret_cast<void*>(function));
    return toModule(Value(ry::newFunctionHandle(text, std::make_shared<SimpleHandle>(function))));
}

// An error with an identifier carries at most this many characters, as when the runtime formats
// it itself; the rest is cut.
constexpr std::size_t kErrorTextLimit = 8191;

std::string formatted(const char* format, va_list args) {
    if (!format) return {};
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

[[noreturn]] void raise(const host::UserException& error) {
    host::do_legacy_ry_error(error);
    throw error;
}

void errMsgIdAndTxt(const char* identifier, const char* format, va_list args) {
    if (!host::utIsValidMessageIdentifier(identifier ? identifier : ""))
        raise(host::MessageIdException("VELTRA:orbapi", "invalidErrorIdentifier", {}));
    std::string text = formatted(format, args);
    if (text.size() > kErrorTextLimit) text.resize(kErrorTextLimit);
    raise(host::UserException(identifier, std::move(text)));
}

void errMsgTxt(const char* message) { raise(host::UserException("", message ? message : "")); }

void warnMsgIdAndTxt(const char* identifier, const char* format, va_list args) {
    // An invalid identifier is the module's error, not a warning: it does not return.
    if (!host::utIsValidMessageIdentifier(identifier ? identifier : ""))
        raise(host::MessageIdException("VELTRA:orbapi", "invalidWarningIdentifier", {}));
    host::ryWarningMsgIdAndTxt(identifier, "%s", formatted(format, args).c_str());
}

void warnMsgTxt(const char* message) { host::ryWarningMsgIdAndTxt("", "%s", message ? message : ""); }

// This host has no mode in which calls from modules trap by default.
bool trapFlag() { return false; }

}  // namespace

OrbCallbackTable callbackTable() {
    OrbCallbackTable table{};
    table.putVariable = &putVariable;
    table.getVariable = &getVariable;
    table.getVariablePtr = &getVariablePtr;
    table.functionName = &functionName;
    table.setProperty = &setProperty;
    table.getProperty = &getProperty;
    table.lock = &lock;
    table.unlock = &unlock;
    table.isLocked = &isLocked;
    table.evalString = &evalString;
    table.evalStringWithTrap = &evalStringWithTrap;
    table.callFunction = &callFunction;
    table.callFunctionWithTrap = &callFunctionWithTrap;
    table.createSimpleFunctionHandle = &createSimpleFunctionHandle;
    table.errMsgIdAndTxt = &errMsgIdAndTxt;
    table.errMsgTxt = &errMsgTxt;
    table.warnMsgIdAndTxt = &warnMsgIdAndTxt;
    table.warnMsgTxt = &warnMsgTxt;
    table.trapFlag = &trapFlag;
    return table;
}

}  // namespace vhost
