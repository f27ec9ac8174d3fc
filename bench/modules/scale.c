/* y = 2.5 * x for a real double array x: a module call whose data, not its frame, is the work. */
#include <stdint.h>

#include <orb.h>

__attribute__((visibility("default"))) void orbfilerequiredapiversion(uint32_t* relnum, uint32_t* apinum) {
    *relnum = 0x2024B;
    *apinum = 0x08000000;
}

__attribute__((visibility("default"))) void orbFunction(int nlhs, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    (void)nlhs;
    if (nrhs != 1 || !ryIsDouble(prhs[0]) || ryIsComplex(prhs[0])) {
        orbErrMsgIdAndTxt("scale:input", "scale takes one real double array.");
    }
    const rySize n = ryGetNumberOfElements(prhs[0]);
    plhs[0] = ryCreateDoubleMatrix(ryGetM(prhs[0]), ryGetN(prhs[0]), ryREAL);
    const double* x = ryGetDoubles(prhs[0]);
    double* y = ryGetDoubles(plhs[0]);
    for (rySize i = 0; i < n; ++i) y[i] = 2.5 * x[i];
}
