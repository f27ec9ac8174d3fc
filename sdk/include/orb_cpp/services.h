/* The runtime's services for C++ modules, as plain C functions. The C++ headers beside this one
 * wrap them; a module rarely calls them directly.
 *
 * The engine handle: a module's function object receives it from orbGetFunctionImpl while it is
 * being constructed and gives it back with orbDestroyFunctionImpl. Arrays are passed as
 * data-array implementation pointers (orb_data.h); every pointer the runtime hands out carries a
 * reference for the module. Synchronous services write *errorType only on failure (1: host error,
 * with an error structure in *exceptionOut; 5: called off the engine's thread). */
#ifndef ORB_CPP_SERVICES_H
#define ORB_CPP_SERVICES_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

void* orbGetFunctionImpl(void);
void orbDestroyFunctionImpl(void* handle);

void* cpporb_getEngine(void* handle);
char16_t* cpporb_getFunctionName(void* handle);
void cpporb_orbLock(void* handle);
void cpporb_orbUnlock(void* handle);
void cpporb_orbLock_with_error_check(void* handle, int* errorType);
void cpporb_orbUnlock_with_error_check(void* handle, int* errorType);

void orbApiFeval(void* engine, int nlhs, void** const plhs, int nrhs, void** const prhs, const char* functionName,
                 int* errorType, void** exceptionOut, void* outputStream, void* errorStream,
                 void (*writeFcn)(void*, const char16_t*, size_t), void (*deleterFcn)(void*));

/* Asynchronous requests (any thread): the outcome arrives through exactly one of the callbacks;
 * code 1 host error (data: error structure), 7 cancelled before it ran (data null), 9 other
 * failure (data: a message text or null). The handle is released with orbApiDestroyTaskHandle. */
typedef void (*orbSetOutputsFcn)(void* promise, int nlhs, bool passThroughFlag, void** outputs);
typedef void (*orbSetExceptionFcn)(void* promise, int nlhs, bool passThroughFlag, int errorType, void* data);
uint64_t orbApiFevalAsync(void* engine, int nlhs, int nrhs, void** prhs, const char* functionName, bool passThroughFlag,
                          orbSetOutputsFcn setOutputsFcn, orbSetExceptionFcn setExceptionFcn, void* promise,
                          void* outputStream, void* errorStream, void (*writeFcn)(void*, const char16_t*, size_t),
                          void (*deleterFcn)(void*));
uint64_t orbApiEvalAsync(void* engine, const char16_t* statement, void (*onSuccessFcn)(void* promise),
                         void (*onErrorFcn)(void* promise, int errorType, void* data), void* promise,
                         void* outputStream, void* errorStream, void (*writeFcn)(void*, const char16_t*, size_t),
                         void (*deleterFcn)(void*));
bool orbApiCancelFevalWithCompletion(void* taskHandle, bool allowInterrupt);
void orbApiDestroyTaskHandle(void* taskHandle);
void orbApiToWaitForPendingfevalEvalToComplete(void* taskHandle);

/* Workspace variables and object properties (synchronous forms: the module's calling thread).
 * Arguments are checked before anything is used: a null or non-UTF-8 workspace or function name,
 * a variable name that is not a name (a letter, then letters, digits, underscores; never
 * evaluated), a null object or value, or a null list for a count above zero is refused with the
 * error "VELTRA:orbapi:invalidArgument" (orbApiFeval too). An asynchronous form refused so calls
 * its setExceptionFcn at once, on the calling thread (code 1), and returns 0: no task handle. */
void* orbApiGetVariable(void* engine, const char* workspace, const char16_t* name, int* errorType, void** exceptionOut);
void orbApiSetVariable(void* engine, void* value, const char* workspace, const char16_t* name, int* errorType,
                       void** exceptionOut);
void* orbApiGetProperty(void* engine, void* object, uint64_t index, const char16_t* name, int* errorType,
                        void** exceptionOut);
void* orbApiSetProperty(void* engine, void* object, uint64_t index, const char16_t* name, void* value, int* errorType,
                        void** exceptionOut);
uint64_t orbApiGetVariableAsync(void* engine, const char* workspace, const char16_t* name,
                                orbSetOutputsFcn setOutputsFcn, orbSetExceptionFcn setExceptionFcn, void* promise);
uint64_t orbApiSetVariableAsync(void* engine, void* value, const char* workspace, const char16_t* name,
                                orbSetOutputsFcn setOutputsFcn, orbSetExceptionFcn setExceptionFcn, void* promise);
uint64_t orbApiGetPropertyAsync(void* engine, void* object, uint64_t index, const char16_t* name,
                                orbSetOutputsFcn setOutputsFcn, orbSetExceptionFcn setExceptionFcn, void* promise);
uint64_t orbApiSetPropertyAsync(void* engine, void* object, uint64_t index, const char16_t* name, void* value,
                                orbSetOutputsFcn setOutputsFcn, orbSetExceptionFcn setExceptionFcn, void* promise);

void orb_engine_utf16_to_utf8(const char16_t* input, char** output, uint64_t* error);
void orb_engine_utf8_to_utf16(const char* input, char16_t** output, uint64_t* error);
void orb_engine_destroy_utf16(void* block);
void orb_engine_destroy_utf8(void* block);
void orbReleaseMemory(void* first, void* second);

#ifdef __cplusplus
}
#endif

#endif
