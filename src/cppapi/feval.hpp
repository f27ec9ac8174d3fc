// Synchronous calls of host functions from C++ modules.
#pragma once

#include "cppapi/streams.hpp"
#include "platform/export.hpp"

namespace orb::cppapi {

// The module's input pointers as host arrays, each with a reference of its own.
host::Outputs wrapInputs(int nrhs, void* const* prhs);

}  // namespace orb::cppapi

extern "C" {
// Calls `functionName` with `nrhs` inputs and waits for `nlhs` outputs, which land in `plhs`
// with one reference each for the module. Printed output goes to `outputStream` (or the host's
// command window when null), error text to `errorStream` (or nowhere when null). On failure
// *errorType becomes 1 and *exceptionOut an error structure; off the signal thread it becomes 5.
// No exception leaves it.
ORB_API void orbApiFeval(void* engine, int nlhs, void** const plhs, int nrhs, void** const prhs,
                         const char* functionName, int* errorType, void** exceptionOut, void* outputStream,
                         void* errorStream, orb::cppapi::ModuleWriteFcn writeFcn,
                         orb::cppapi::ModuleDeleterFcn deleterFcn);
}
