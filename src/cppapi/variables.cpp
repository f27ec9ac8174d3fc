#include "cppapi/variables.hpp"

#include <initializer_list>
#include <string>

#include "capi/arguments.hpp"
#include "capi/message_ids.hpp"
#include "capi/per_engine.hpp"
#include "cppapi/engine_handle.hpp"
#include "cppapi/error_conversion.hpp"
#include "cppapi/feval.hpp"
#include "host/dataarray.hpp"
#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "platform/module_boundary.hpp"

extern "C" const ryArray* orbGetVariablePtr_800(const char* workspace, const char* name);

namespace orb::cppapi {
namespace {

using host::data::Array;
using host::data::ArrayFactory;
using host::data::ArrayImpl;
using host::data::ArrayType;

constexpr const char* kGetVariable = "veltra.internal.orb.getVariable";
constexpr const char* kSetVariable = "veltra.internal.orb.setVariable";
constexpr const char* kGetProperty = "veltra.internal.orb.getProperty";
constexpr const char* kSetProperty = "veltra.internal.orb.setProperty";

// A host array the service made and owns.
struct HostArray {
    ryArray* array;
    explicit HostArray(ryArray* a) : array(a) {}
    HostArray(const HostArray&) = delete;
    HostArray& operator=(const HostArray&) = delete;
    ~HostArray() { host::destroyArray(array); }
};

// A module's array pointer as a host array with a reference of its own.
Array wrap(void* impl) { return Array::share(static_cast<ArrayImpl*>(impl)); }

// Property services work on object arrays only; anything else is refused before conversion.
bool isObject(const Array& array, int* errorType, void** exceptionOut) {
    const ArrayType type = array.getType();
    if (type == ArrayType::VALUE_OBJECT || type == ArrayType::HANDLE_OBJECT) return true;
    raiseCatalogError(errorType, capi::messageIdentifier<VELTRA::orb::CppOrbNotObjectError>(), exceptionOut);
    return false;
}

// The direct path checks the index against the object array's element count.
bool withinBounds(const ryArray* object, std::uint64_t index, int* errorType, void** exceptionOut) {
    if (index < host::ryGetNumberOfElements(object)) return true;
    raiseCatalogError(errorType, capi::messageIdentifier<VELTRA::orb::CppOrbIndexExceedsBounds>(), exceptionOut);
    return false;
}

// Index + 1 as the 1-by-1 uint64 the host language takes.
Array oneBasedIndex(std::uint64_t index) { return ArrayFactory().createScalarUInt64(index + 1); }

// Whether the object's class is read or assigned directly, not through its indexing overloads.
template <class Overloads>
bool directAccess(const ryArray* object, Overloads&& overloads) {
    const auto& info = capi::PerEngine<capi::CurrentOrbInfoPerEngine>::getOrCreate();
    return static_cast<std::int32_t>(host::ryGetClassID(object)) == info.dispatchAspect || !overloads(object);
}

// substruct('()', {index + 1}, '.', name)
Array indexingStructure(void* engine, std::uint64_t index, const std::u16string& name) {
    ArrayFactory factory;
    Array cell = factory.createCellArray({1, 1});
    factory.setCell(cell, 0, oneBasedIndex(index));
    return fevalSync(engine, "substruct",
                     {factory.createCharArray(u"()"), cell, factory.createCharArray(u"."), factory.createCharArray(name)},
                     1)
        .at(0);
}

// The two failure mappings of the synchronous services.
template <class Body, class Unexpected>
void* reporting(int* errorType, void** exceptionOut, Body&& body, Unexpected&& unexpected) {
    try {
        return body();
    } catch (const host::UserException& error) {
        buildUserErrorArray(errorType, error, exceptionOut);
    } catch (...) {
        unexpected();
    }
    return nullptr;
}


// The first of the problems the checks found, or empty.
std::string firstProblem(std::initializer_list<std::string> problems) {
    for (const std::string& problem : problems)
        if (!problem.empty()) return problem;
    return {};
}

std::string nullProblem(const char* what, const void* pointer) {
    return pointer ? std::string() : std::string(what) + " is null";
}

std::string variableProblem(const char* workspace, const char16_t* name) {
    return firstProblem({capi::textProblem("the workspace name", workspace), capi::variableNameProblem(name)});
}

std::string propertyProblem(const void* object, const char16_t* name) {
    return firstProblem({nullProblem("the object", object), capi::propertyNameProblem(name)});
}

}  // namespace

// An asynchronous request refused before it started: it completes at once, on the calling
// thread, through its failure callback with the error structure (error code 1), and has no task.
std::uint64_t refusedRequest(void* engine, const char* service, const std::string& problem,
                             SetExceptionFcn setExceptionFcn, void* promise, int nlhs) {
    const std::string id = capi::messageIdentifier<VELTRA::orbapi::invalidArgument>();
    const std::u16string message = host::i18n::GetFormattedMessage(
        id, {host::MessageArg(std::string(service)), host::MessageArg(problem)});
    Array error = buildCatalogErrorArray(kStatusCatalogue, id, message);
    if (!setExceptionFcn) return 0;
    void* data = error.newReference();
    // Module code, so through the boundary; it runs inside the service the module called, and no
    // exception may leave a service, so what went wrong in it stays here. A callback that faulted
    // never took its reference: no code of the module runs again to release it.
    const platform::ModuleOutcome outcome =
        platform::callModuleCode([&] { setExceptionFcn(promise, nlhs, true, kOrbErrorHost, data); });
    using Kind = platform::ModuleOutcome::Kind;
    if (outcome.kind() == Kind::MachineFault || outcome.kind() == Kind::Abort) {
        (void)Array::adopt(static_cast<host::data::ArrayImpl*>(data));
        chargeCallbackFault(engine, outcome.signal());
    }
    return 0;
}

host::Outputs fevalSync(void* engine, const std::string& name, const host::Outputs& arguments, int nlhs) {
    host::RunOptions options;
    options.setOutStream(sharedNullStreambuf(), host::getDefaultSinkTraits());
    options.setErrStream(sharedNullStreambuf(), host::getDefaultSinkTraits());
    return engineOf(engine).feval(name, arguments, nlhs, options, false, host::createRequestID()).get();
}

}  // namespace orb::cppapi

using namespace orb::cppapi;
using host::data::Array;
using host::data::ArrayFactory;

void* orbApiGetVariable(void* engine, const char* workspace, const char16_t* name, int* errorType,
                        void** exceptionOut) {
    (void)engine;  // the C interface works on the calling engine
    if (checkCallingThread(errorType)) return nullptr;
    if (refusedArgument("orbApiGetVariable", variableProblem(workspace, name), errorType, exceptionOut)) return nullptr;
    const std::string id = orb::capi::messageIdentifier<VELTRA::orb::CppOrbGetVariableError>();
    auto missing = [&] { raiseCatalogError(errorType, id, exceptionOut, name, workspace); };
    return reporting(
        errorType, exceptionOut,
        [&]() -> void* {
            const ryArray* value = orbGetVariablePtr_800(workspace, host::i18n::to_string(name).c_str());
            if (!value) {
                missing();
                return nullptr;
            }
            return host::data::createArrayFromRyArray(value).newReference();
        },
        missing);
}

void orbApiSetVariable(void* engine, void* value, const char* workspace, const char16_t* name, int* errorType,
                       void** exceptionOut) {
    if (checkCallingThread(errorType)) return;
    // The name goes into evaluated text for "global": it is checked before anything runs.
    if (refusedArgument("orbApiSetVariable",
                        firstProblem({variableProblem(workspace, name), nullProblem("the value", value)}), errorType,
                        exceptionOut))
        return;
    const std::string id = orb::capi::messageIdentifier<VELTRA::orb::CppOrbSetVariableError>();
    reporting(
        errorType, exceptionOut,
        [&]() -> void* {
            ArrayFactory factory;
            const Array wrapped = wrap(value);
            std::u16string target = u"base";
            if (std::string(workspace) == "global") {
                // Declared global in the caller's workspace first, then assigned there. (The
                // statement goes as a character array: the host's arrays have no string type.)
                fevalSync(engine, "evalin",
                          {factory.createCharArray(u"caller"), factory.createCharArray(u"global " + std::u16string(name))},
                          0);
                target = u"caller";
            }
            fevalSync(engine, "assignin",
                      {factory.createCharArray(target), factory.createCharArray(name), wrapped}, 0);
            return nullptr;
        },
        [&] { raiseCatalogError(errorType, id, exceptionOut, name, workspace); });
}

void* orbApiGetProperty(void* engine, void* object, std::uint64_t index, const char16_t* name, int* errorType,
                        void** exceptionOut) {
    if (checkCallingThread(errorType)) return nullptr;
    if (refusedArgument("orbApiGetProperty", propertyProblem(object, name), errorType, exceptionOut)) return nullptr;
    using namespace VELTRA::orb;
    return reporting(
        errorType, exceptionOut,
        [&]() -> void* {
            const Array wrapped = wrap(object);
            if (!isObject(wrapped, errorType, exceptionOut)) return nullptr;
            HostArray hostObject(host::data::createRyArray(wrapped));
            if (!directAccess(hostObject.array, [](const ryArray* o) { return host::omDoesClassImplementSubsref(o, true); })) {
                const Array indexing = indexingStructure(engine, index, name);
                return fevalSync(engine, "subsref", {wrapped, indexing}, 1).at(0).newReference();
            }
            if (!withinBounds(hostObject.array, index, errorType, exceptionOut)) return nullptr;
            HostArray property(host::ryGetPropertyShared(hostObject.array, index, name));
            if (!property.array) throw std::runtime_error("the object has no such property");
            return host::data::createArrayFromRyArray(property.array).newReference();
        },
        [&] {
            raiseCatalogError(errorType, orb::capi::messageIdentifier<CppOrbGetPropertyError>(), exceptionOut, name);
        });
}

void* orbApiSetProperty(void* engine, void* object, std::uint64_t index, const char16_t* name, void* value,
                        int* errorType, void** exceptionOut) {
    if (checkCallingThread(errorType)) return nullptr;
    if (refusedArgument("orbApiSetProperty",
                        firstProblem({propertyProblem(object, name), nullProblem("the value", value)}), errorType,
                        exceptionOut))
        return nullptr;
    using namespace VELTRA::orb;
    return reporting(
        errorType, exceptionOut,
        [&]() -> void* {
            const Array wrapped = wrap(object);
            if (!isObject(wrapped, errorType, exceptionOut)) return nullptr;
            const Array wrappedValue = wrap(value);
            HostArray hostObject(host::data::createRyArray(wrapped));
            HostArray hostValue(host::data::createRyArray(wrappedValue));
            if (!directAccess(hostObject.array,
                              [](const ryArray* o) { return host::omDoesClassImplementSubsasgn(o, true, true); })) {
                const Array indexing = indexingStructure(engine, index, name);
                return fevalSync(engine, "subsasgn", {wrapped, indexing, wrappedValue}, 1).at(0).newReference();
            }
            if (!withinBounds(hostObject.array, index, errorType, exceptionOut)) return nullptr;
            host::rySetPropertyShared(hostObject.array, index, name, hostValue.array);
            return host::data::createArrayFromRyArray(hostObject.array).newReference();
        },
        [&] {
            raiseCatalogError(errorType, orb::capi::messageIdentifier<CppOrbSetPropertyError>(), exceptionOut, name);
        });
}

std::uint64_t orbApiGetVariableAsync(void* engine, const char* workspace, const char16_t* name,
                                     SetOutputsFcn setOutputsFcn, SetExceptionFcn setExceptionFcn, void* promise) {
    if (std::string problem = variableProblem(workspace, name); !problem.empty())
        return refusedRequest(engine, "orbApiGetVariableAsync", problem, setExceptionFcn, promise, 1);
    ArrayFactory factory;
    return fevalAsyncImpl(engine, kGetVariable,
                          {factory.createCharArray(name), factory.createCharArray(host::i18n::to_ustring(workspace))},
                          1, true, setOutputsFcn, setExceptionFcn, promise, nullptr, nullptr, nullptr, nullptr);
}

std::uint64_t orbApiSetVariableAsync(void* engine, void* value, const char* workspace, const char16_t* name,
                                     SetOutputsFcn setOutputsFcn, SetExceptionFcn setExceptionFcn, void* promise) {
    if (std::string problem = firstProblem({variableProblem(workspace, name), nullProblem("the value", value)});
        !problem.empty())
        return refusedRequest(engine, "orbApiSetVariableAsync", problem, setExceptionFcn, promise, 0);
    ArrayFactory factory;
    return fevalAsyncImpl(engine, kSetVariable,
                          {factory.createCharArray(name), wrap(value),
                           factory.createCharArray(host::i18n::to_ustring(workspace))},
                          0, true, setOutputsFcn, setExceptionFcn, promise, nullptr, nullptr, nullptr, nullptr);
}

std::uint64_t orbApiGetPropertyAsync(void* engine, void* object, std::uint64_t index, const char16_t* name,
                                     SetOutputsFcn setOutputsFcn, SetExceptionFcn setExceptionFcn, void* promise) {
    if (std::string problem = propertyProblem(object, name); !problem.empty())
        return refusedRequest(engine, "orbApiGetPropertyAsync", problem, setExceptionFcn, promise, 1);
    ArrayFactory factory;
    return fevalAsyncImpl(engine, kGetProperty,
                          {wrap(object), oneBasedIndex(index),
                           factory.createCharArray(name)},
                          1, true, setOutputsFcn, setExceptionFcn, promise, nullptr, nullptr, nullptr, nullptr);
}

std::uint64_t orbApiSetPropertyAsync(void* engine, void* object, std::uint64_t index, const char16_t* name,
                                     void* value, SetOutputsFcn setOutputsFcn, SetExceptionFcn setExceptionFcn,
                                     void* promise) {
    if (std::string problem = firstProblem({propertyProblem(object, name), nullProblem("the value", value)});
        !problem.empty())
        return refusedRequest(engine, "orbApiSetPropertyAsync", problem, setExceptionFcn, promise, 1);
    ArrayFactory factory;
    return fevalAsyncImpl(engine, kSetProperty,
                          {wrap(object), oneBasedIndex(index),
                           factory.createCharArray(name), wrap(value)},
                          1, true, setOutputsFcn, setExceptionFcn, promise, nullptr, nullptr, nullptr, nullptr);
}
