/* A module for the bundle and version-retrieval tests. With BUNDLE_TRACE defined, loading the
 * library leaves a trace: its static constructor sets that environment variable in the loading
 * process. With BUNDLE_VERSION_FUNCTION defined it exports the version function, reporting
 * release R2018a and interface 0x08000000, which differs from the release in the manifests the
 * tests attach (R2024b), so a result tells which stage produced it. */
#include <stdint.h>
#include <stdlib.h>

#define STRINGIFY_(x) #x
#define STRINGIFY(x) STRINGIFY_(x)

#ifdef BUNDLE_TRACE
__attribute__((constructor)) static void leaveTrace(void) { setenv(STRINGIFY(BUNDLE_TRACE), "loaded", 1); }
#endif

#ifdef BUNDLE_VERSION_FUNCTION
__attribute__((visibility("default"))) void orbfilerequiredapiversion(uint32_t* relnum, uint32_t* apinum) {
    *relnum = 0x2018A;
    *apinum = 0x08000000;
}
#endif

__attribute__((visibility("default"))) int bundleModuleAnswer(void) { return 42; }
