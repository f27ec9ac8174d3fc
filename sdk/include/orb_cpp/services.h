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

void orb_engine_utf16_to_utf8(const char16_t* input, char** output, uint64_t* error);
void orb_engine_utf8_to_utf16(const char* input, char16_t** output, uint64_t* error);
void orb_engine_destroy_utf16(void* block);
void orb_engine_destroy_utf8(void* block);
void orbReleaseMemory(void* first, void* second);

#ifdef __cplusplus
}
#endif

#endif
