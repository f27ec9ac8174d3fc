// orbApiFeval: a C++ module calls a host function and waits for its outputs.
#include "cppapi/feval.hpp"

#include "capi/arguments.hpp"
#include "capi/message_ids.hpp"
#include "host/i18n.hpp"
#include "cppapi/engine_handle.hpp"
#include "cppapi/error_conversion.hpp"
#include "cppapi/streams.hpp"

namespace orb::cppapi {

host::Outputs wrapInputs(int nrhs, void* const* prhs) {
    host::Outputs arguments;
    if (nrhs <= 0) return arguments;
    arguments.reserve(static_cast<std::size_t>(nrhs));
    for (int i = 0; i < nrhs; ++i) {
        arguments.push_back(host::data::Array::share(static_cast<host::data::ArrayImpl*>(prhs[i])));
    }
    return arguments;
}

}  // namespace orb::cppapi

void orbApiFeval(void* engine, int nlhs, void** const plhs, int nrhs, void** const prhs, const char* functionName,
                 int* errorType, void** exceptionOut, void* outputStream, void* errorStream,
                 orb::cppapi::ModuleWriteFcn writeFcn, orb::cppapi::ModuleDeleterFcn deleterFcn) {
    using namespace orb::cppapi;
    if (checkCallingThread(errorType)) return;
    // The streams are the runtime's from here on, also when the arguments are refused.
    std::shared_ptr<host::u16streambuf> out = wrapModuleStream(outputStream, writeFcn, deleterFcn, engine);
    std::shared_ptr<host::u16streambuf> err = wrapModuleStream(errorStream, writeFcn, deleterFcn, engine);
    std::string problem = orb::capi::textProblem("the function name", functionName);
    if (problem.empty()) problem = orb::capi::arrayListProblem("outputs", nlhs, plhs);
    if (problem.empty()) problem = orb::capi::arrayListProblem("inputs", nrhs, prhs);
    if (refusedArgument("orbApiFeval", problem, errorType, exceptionOut)) return;
    host::HostEngine& host = engineOf(engine);
    host::Outputs arguments = wrapInputs(nrhs, prhs);
    try {
        host::RunOptions options;
        if (out) options.setOutStream(out, host::getDefaultSinkTraits());
        options.setErrStream(err ? err : sharedNullStreambuf(), host::getDefaultSinkTraits());
        const host::RequestID id = host::createRequestID();
        host::Outputs outputs = host.feval(functionName, arguments, nlhs, options, false, id).get();
        for (int i = 0; i < nlhs; ++i) plhs[i] = outputs.at(static_cast<std::size_t>(i)).newReference();
    } catch (const host::RuntimeException& error) {
        reportRuntimeError(errorType, error, exceptionOut);
    } catch (...) {
        raiseCatalogError(errorType, orb::capi::messageIdentifier<VELTRA::orb::CppOrbFevalError>(), exceptionOut,
                          host::i18n::to_ustring(functionName));
    }
}
