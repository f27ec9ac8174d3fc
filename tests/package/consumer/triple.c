/* y = 3 * x for a real double array x. */
#include <orb.h>

__attribute__((visibility("default"))) void orbFunction(int nlhs, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    (void)nlhs;
    if (nrhs != 1 || !ryIsDouble(prhs[0]) || ryIsComplex(prhs[0])) {
        orbErrMsgIdAndTxt("triple:input", "triple takes one real double array.");
    }
    plhs[0] = ryCreateDoubleMatrix(ryGetM(prhs[0]), ryGetN(prhs[0]), ryREAL);
    const double* x = ryGetDoubles(prhs[0]);
    double* y = ryGetDoubles(plhs[0]);
    for (rySize i = 0; i < ryGetNumberOfElements(prhs[0]); ++i) y[i] = 3 * x[i];
}
