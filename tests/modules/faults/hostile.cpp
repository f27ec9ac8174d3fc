// Modules whose code fails outside their gateway, for the hostile table of tests/faults. One
// define each:
//   CTOR_NULL       a C-style constructor writes through a null pointer
//   CTOR_THROW      a C++ global object's constructor throws
//   CTOR_UNDEFINED  a constructor calls a function no library defines (linked regardless)
//   VERSION_THROW   the version function throws a C++ exception
//   CREATE_FAULT    a C++-protocol module whose create entry writes through a null pointer
//   DESTROY_FAULT   a C++-protocol module whose destroy entry writes through a null pointer
//   REFUSED_FAULT   a C++-protocol module that starts a request the runtime refuses (no function
//                   name), whose failure callback writes through a null pointer
//   STREAM_FAULT    a C++-protocol module that calls disp synchronously with an output stream
//                   whose write writes through a null pointer, and reports the call's failure
//   DTOR_FAULT      a C++ global object's destructor writes through a null pointer
//   FINI_FAULT      a C-style destructor writes through a null pointer
//   FINI_HANG       a C-style destructor that never ends once the gateway was called with "hang"
// Every gateway answers 7. Built without sanitizers, as code the host does not control.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include <orb.h>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
// Unknown to the compiler, which would otherwise drop code that writes through null.
int* volatile g_null = nullptr;
[[maybe_unused]] void writeThroughNull() { *g_null = 1; }
}  // namespace

#if defined(CTOR_NULL)
__attribute__((constructor)) static void startUp() { writeThroughNull(); }
#elif defined(CTOR_THROW)
struct Global {
    Global() { throw std::runtime_error("global ctor failed"); }
};
Global g_global;
#elif defined(CTOR_UNDEFINED)
extern "C" void orbHostileNoSuchFunction();
__attribute__((constructor)) static void startUp() { orbHostileNoSuchFunction(); }
#elif defined(VERSION_THROW)
EXPORT void orbfilerequiredapiversion(std::uint32_t*, std::uint32_t*) { throw std::runtime_error("no version today"); }
#elif defined(DTOR_FAULT)
struct Global {
    ~Global() { writeThroughNull(); }
};
Global g_global;
#elif defined(FINI_FAULT)
__attribute__((destructor)) static void finish() { writeThroughNull(); }
#elif defined(FINI_HANG)
namespace {
volatile bool g_hang = false;
volatile unsigned g_turns = 0;
}  // namespace
__attribute__((destructor)) static void finish() {
    while (g_hang) g_turns = g_turns + 1;
}
#endif

#if defined(CREATE_FAULT)
using ErrorCallback = void (*)(const char*, const char*);
using OutputCallback = void (*)(int, void**);
EXPORT void* orbCreateOrbFunction(ErrorCallback) {
    writeThroughNull();
    return nullptr;
}
EXPORT void orbDestroyOrbFunction(void*, ErrorCallback) {}
EXPORT void orbFunctionAdapter(int, int, int, void**, void*, OutputCallback output, ErrorCallback) { output(0, nullptr); }
#elif defined(DESTROY_FAULT) || defined(REFUSED_FAULT) || defined(STREAM_FAULT)
extern "C" void* orbGetFunctionImpl(void);
extern "C" void orbDestroyFunctionImpl(void*);
extern "C" std::uint64_t orbApiFevalAsync(void*, int, int, void**, const char*, bool, void (*)(void*, int, bool, void**),
                                          void (*)(void*, int, bool, int, void*), void*, void*, void*, void*, void*);
using ErrorCallback = void (*)(const char*, const char*);
using OutputCallback = void (*)(int, void**);
namespace {
void* g_handle = nullptr;
}  // namespace
// The function object is the engine handle itself: nothing of the module's own to abandon.
EXPORT void* orbCreateOrbFunction(ErrorCallback) { return g_handle = orbGetFunctionImpl(); }
#if defined(DESTROY_FAULT)
EXPORT void orbDestroyOrbFunction(void*, ErrorCallback) { writeThroughNull(); }
EXPORT void orbFunctionAdapter(int, int, int, void**, void*, OutputCallback output, ErrorCallback) {
    output(0, nullptr);
}
#elif defined(STREAM_FAULT)
extern "C" void* orbDataCreateCharArray(const char16_t*, std::size_t);
extern "C" void orbDataRelease(void*);
extern "C" void orbApiFeval(void*, int, void**, int, void**, const char*, int*, void**, void*, void*,
                            void (*)(void*, const char16_t*, std::size_t), void (*)(void*));
namespace {
int g_stream;  // the stream object the writes are for; nothing of it is read
void faultingWrite(void*, const char16_t*, std::size_t) { writeThroughNull(); }
void keepStream(void*) {}
}  // namespace
EXPORT void orbDestroyOrbFunction(void* object, ErrorCallback) { orbDestroyFunctionImpl(object); }
EXPORT void orbFunctionAdapter(int, int, int, void**, void*, OutputCallback output, ErrorCallback error) {
    void* text = orbDataCreateCharArray(u"shown", 5);
    int failed = 0;
    void* reported = nullptr;
    orbApiFeval(g_handle, 0, nullptr, 1, &text, "disp", &failed, &reported, &g_stream, nullptr, &faultingWrite,
                &keepStream);
    orbDataRelease(text);
    if (reported) orbDataRelease(reported);
    if (failed != 0) return error("the call that printed failed", "hostile:printFailed");
    output(0, nullptr);
}
#else
namespace {
void ignoreOutputs(void*, int, bool, void**) {}
void faultOnFailure(void*, int, bool, int, void*) { writeThroughNull(); }
}  // namespace
EXPORT void orbDestroyOrbFunction(void* object, ErrorCallback) { orbDestroyFunctionImpl(object); }
EXPORT void orbFunctionAdapter(int, int, int, void**, void*, OutputCallback output, ErrorCallback) {
    orbApiFevalAsync(g_handle, 1, 0, nullptr, nullptr, false, &ignoreOutputs, &faultOnFailure, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    output(0, nullptr);
}
#endif
#elif defined(FINI_HANG)
EXPORT void orbFunction(int, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    const char* what = nrhs > 0 ? ryArrayToString(prhs[0]) : nullptr;
    g_hang = what && std::string_view(what) == "hang";
    plhs[0] = ryCreateDoubleScalar(7);
}
#else
EXPORT void orbFunction(int, ryArray* plhs[], int, const ryArray*[]) { plhs[0] = ryCreateDoubleScalar(7); }
#endif
