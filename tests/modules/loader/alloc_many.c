/* Allocates and forgets ALLOC_COUNT arrays and as many memory blocks per call, and hands back
 * one small array: the call frame must free the rest. */
#include <orb.h>

__attribute__((visibility("default"))) void orbFunction(int nlhs, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    (void)nlhs, (void)nrhs, (void)prhs;
    for (int i = 0; i < ALLOC_COUNT; ++i) {
        ryCreateDoubleMatrix(1, 4, ryREAL);
        ryMalloc(32);
    }
    plhs[0] = ryCreateDoubleScalar(ALLOC_COUNT);
}
