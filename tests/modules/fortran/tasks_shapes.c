/* Modules for thread-pool admission, each used by the tasks-mode tests alone so that whether its
 * library was ever mapped in the test process can be told:
 *   CPP_SHAPE      the C++ entry points "orbFunctionAdapter", "orbCreateOrbFunction" and
 *                  "orbDestroyOrbFunction"
 *   LONGER_NAME    a C gateway and an export whose name begins with "orbFunctionAdapter" and
 *                  goes on
 *   (neither)      a C gateway answering 42
 * Mapping the library sets the environment variable ORB_TEST_MAPPED_<MARKER> to 1. */
#include <stdlib.h>

#include <orb.h>

#define EXPORT __attribute__((visibility("default")))
#define STRINGIFY_(x) #x
#define STRINGIFY(x) STRINGIFY_(x)

__attribute__((constructor)) static void markMapped(void) { setenv("ORB_TEST_MAPPED_" STRINGIFY(MARKER), "1", 1); }

#ifdef CPP_SHAPE
EXPORT void orbFunctionAdapter(void) {}
EXPORT void* orbCreateOrbFunction(void) { return 0; }
EXPORT void orbDestroyOrbFunction(void* function) { (void)function; }
#else
#ifdef LONGER_NAME
EXPORT void orbFunctionAdapterV2(void) {}
#endif
EXPORT void orbFunction(int nlhs, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    (void)nlhs;
    (void)nrhs;
    (void)prhs;
    plhs[0] = ryCreateDoubleScalar(42);
}
#endif
