/* Libraries that differ only in what they export, for the loader's entry-point resolution and
 * its failure reports. Each define adds one thing:
 *   C_ENTRY         the C gateway "orbFunction" (answers 1)
 *   FORTRAN_UPPER   "ORBFUNCTION" (answers 2); FORTRAN_LOWER "orbfunction_" (answers 3)
 *   FORTRAN_WIDE    the Fortran gateways take 64-bit counts
 *   CPP_ADAPTER     "orbFunctionAdapter" and "orbCreateOrbFunction"; CPP_DESTROY adds the destroy entry
 *   VERSION_REL / VERSION_API   a version function reporting these numbers
 *   USE_DEPENDENCY  calls into a library the loader will not find
 * A gateway answers which entry ran, and the counts it received: entry*10000 + nlhs*100 + nrhs. */
#include <stdint.h>

#include <orb.h>

#define EXPORT __attribute__((visibility("default")))

#ifdef USE_DEPENDENCY
int loaderDependency(void);
EXPORT int callsDependency(void) { return loaderDependency(); }
#endif

#if defined(VERSION_REL)
EXPORT void orbfilerequiredapiversion(uint32_t* relnum, uint32_t* apinum) {
    *relnum = VERSION_REL;
    *apinum = VERSION_API;
}
#endif

__attribute__((unused)) static void answer(ryArray* plhs[], double entry, double nlhs, double nrhs) {
    plhs[0] = ryCreateDoubleScalar(entry * 10000 + nlhs * 100 + nrhs);
}

#ifdef C_ENTRY
EXPORT void orbFunction(int nlhs, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    (void)prhs;
    answer(plhs, 1, nlhs, nrhs);
}
#endif

#ifdef FORTRAN_WIDE
typedef int64_t Count;
#else
typedef int Count;
#endif
#ifdef FORTRAN_UPPER
EXPORT void ORBFUNCTION(Count* nlhs, ryArray* plhs[], Count* nrhs, const ryArray* prhs[]) {
    (void)prhs;
    answer(plhs, 2, (double)*nlhs, (double)*nrhs);
}
#endif
#ifdef FORTRAN_LOWER
EXPORT void orbfunction_(Count* nlhs, ryArray* plhs[], Count* nrhs, const ryArray* prhs[]) {
    (void)prhs;
    answer(plhs, 3, (double)*nlhs, (double)*nrhs);
}
#endif

#ifdef CPP_ADAPTER
EXPORT void orbFunctionAdapter(void) {}
EXPORT void* orbCreateOrbFunction(void) { return 0; }
#ifdef CPP_DESTROY
EXPORT void orbDestroyOrbFunction(void* function) { (void)function; }
#endif
#endif

EXPORT int entryShapesLoaded(void) { return 1; }
