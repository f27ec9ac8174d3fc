// A C++ module: it exports the three C++ entry points (and not orbFunction). WITH_700 makes it
// also call the 32-bit-dimension C interface, which a C++ module must not do.
#include <ry_types.h>

#if defined(_WIN32)
#define EXPORT extern "C" __declspec(dllexport)
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

#ifdef WITH_700
extern "C" double* ryGetPr_700(const ryArray* array);
#endif

namespace {
struct Function {
    int calls = 0;
};
}  // namespace

EXPORT void* orbCreateOrbFunction() { return new Function; }
EXPORT void orbDestroyOrbFunction(void* function) { delete static_cast<Function*>(function); }
EXPORT void orbFunctionAdapter(void* function, int nlhs, void** plhs, int nrhs, void** prhs) {
    (void)nlhs;
    (void)plhs;
    (void)nrhs;
    static_cast<Function*>(function)->calls++;
#ifdef WITH_700
    if (nrhs > 0) ryGetPr_700(static_cast<const ryArray*>(prhs[0]))[0] = 0;
#else
    (void)prhs;
#endif
}
