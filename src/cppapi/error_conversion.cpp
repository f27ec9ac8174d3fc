#include "cppapi/error_conversion.hpp"

#include "capi/per_engine.hpp"
#include "cppapi/engine_handle.hpp"
#include "host/i18n.hpp"

namespace orb::cppapi {
namespace {

using host::data::Array;
using host::data::ArrayFactory;

const std::vector<std::string> kStackFields{"File", "Name", "Line"};

Array buildStack(ArrayFactory& factory, const std::vector<host::StackFrame>& frames) {
    Array stack = factory.createStructArray({1, frames.size()}, kStackFields);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        factory.setField(stack, i, "File", factory.createCharArray(frames[i].file));
        factory.setField(stack, i, "Name", factory.createCharArray(frames[i].name));
        factory.setField(stack, i, "Line", factory.createScalarDouble(frames[i].line));
    }
    return stack;
}

void handOut(const Array& array, void** exceptionOut) {
    *exceptionOut = array.newReference();
}

}  // namespace

Array buildRuntimeErrorArray(const host::RuntimeException& error) {
    ArrayFactory factory;
    Array result = factory.createStructArray({1, 1}, {"status", "message", "identifier", "functionName", "cause", "stack"});
    const int execution = error.getExecutionStatus();
    if (execution == 3 || execution == 4) {
        factory.setField(result, 0, "status", factory.createScalarInt32(kStatusInterrupted));
        return result;
    }
    if (execution != 1 && execution != 2) return result;
    factory.setField(result, 0, "status", factory.createScalarInt32(execution == 1 ? 2 : 3));
    factory.setField(result, 0, "message", factory.createCharArray(error.GetUnicodeMessageTxt()));
    factory.setField(result, 0, "identifier", factory.createCharArray(host::i18n::to_ustring(error.GetID())));
    factory.setField(result, 0, "functionName",
                     factory.createCharArray(host::i18n::to_ustring(error.getFunctionName())));
    const auto causes = error.getCauses();
    Array cause = factory.createCellArray({1, causes.size()});
    for (std::size_t i = 0; i < causes.size(); ++i) factory.setCell(cause, i, buildRuntimeErrorArray(*causes[i]));
    factory.setField(result, 0, "cause", cause);
    factory.setField(result, 0, "stack", buildStack(factory, error.getStackFrames()));
    return result;
}

Array buildCatalogErrorArray(std::int32_t status, const std::string& identifier, const std::u16string& message) {
    ArrayFactory factory;
    Array result = factory.createStructArray({1, 1}, {"status", "message", "identifier", "stack", "cause"});
    factory.setField(result, 0, "status", factory.createScalarInt32(status));
    factory.setField(result, 0, "message", factory.createCharArray(message));
    factory.setField(result, 0, "identifier", factory.createCharArray(host::i18n::to_ustring(identifier)));
    factory.setField(result, 0, "stack", buildStack(factory, {}));
    factory.setField(result, 0, "cause", factory.createCellArray({1, 0}));
    return result;
}

void storePendingError(const PendingParts& parts) {
    auto& info = capi::PerEngine<capi::CurrentOrbInfoPerEngine>::getOrCreate();
    if (!info.pendingError) info.pendingError = std::make_shared<capi::PendingOrbError>();
    capi::PendingOrbError& pending = *info.pendingError;
    if (parts.message) pending.message = *parts.message;
    if (parts.identifier) pending.identifier = *parts.identifier;
    if (parts.errorArray) pending.errorArray = *parts.errorArray;
    if (parts.runtimeError) pending.runtimeError = std::make_shared<const host::RuntimeException>(*parts.runtimeError);
}

void raiseCatalogError(int* errorType, const std::string& identifier, void** exceptionOut,
                       const std::u16string& first, const std::string& second) {
    *errorType = kOrbErrorHost;
    std::vector<host::MessageArg> args;
    if (!first.empty()) args.emplace_back(first);
    if (!second.empty()) args.emplace_back(second);
    const std::u16string message = host::i18n::GetFormattedMessage(identifier, args);
    const Array array = buildCatalogErrorArray(kStatusCatalogue, identifier, message);
    storePendingError({&message, &identifier, &array, nullptr});
    handOut(array, exceptionOut);
}

void buildUserErrorArray(int* errorType, const host::UserException& error, void** exceptionOut) {
    *errorType = kOrbErrorHost;
    const std::u16string message = host::i18n::to_ustring(error.message());
    const Array array = buildCatalogErrorArray(kStatusUser, error.identifier(), message);
    storePendingError({&message, &error.identifier(), &array, nullptr});
    handOut(array, exceptionOut);
}

void reportRuntimeError(int* errorType, const host::RuntimeException& error, void** exceptionOut) {
    *errorType = kOrbErrorHost;
    const Array array = buildRuntimeErrorArray(error);
    storePendingError({nullptr, nullptr, &array, &error});
    handOut(array, exceptionOut);
}

}  // namespace orb::cppapi
