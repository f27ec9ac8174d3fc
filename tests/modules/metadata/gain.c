/* y = gain(x, k): the double array x, real or complex, times the real scalar k. Written once for
 * every interface generation: the generation the build selects decides which data accessors it
 * imports (separate real and imaginary parts before 800, interleaved pairs from 800 on), so the
 * metadata the build embeds must follow it. It defines no version function of its own.
 * With GAIN_BROKEN it does not compile. */
#include "orb.h"
#include "ry.h"

#ifdef GAIN_BROKEN
#error "gain.c was asked not to compile"
#endif

void orbFunction(int nlhs, ryArray *plhs[], int nrhs, const ryArray *prhs[]) {
    (void)nlhs;
    if (nrhs != 2 || !ryIsDouble(prhs[0])) orbErrMsgIdAndTxt("gain:args", "gain(x, k) takes a double x and a scalar k.");
    const ryArray *x = prhs[0];
    const double k = ryGetScalar(prhs[1]);
    const int complexData = ryIsComplex(x);
    ryArray *y = ryCreateDoubleMatrix(ryGetM(x), ryGetN(x), complexData ? ryCOMPLEX : ryREAL);
    const rySize n = ryGetNumberOfElements(x);
#if RY_INTERFACE_VERSION == 800
    if (complexData) {
        const ryComplexDouble *in = ryGetComplexDoubles(x);
        ryComplexDouble *out = ryGetComplexDoubles(y);
        for (rySize i = 0; i < n; ++i) {
            out[i].real = in[i].real * k;
            out[i].imag = in[i].imag * k;
        }
    } else {
        const double *in = ryGetDoubles(x);
        double *out = ryGetDoubles(y);
        for (rySize i = 0; i < n; ++i) out[i] = in[i] * k;
    }
#else
    const double *re = ryGetPr(x);
    double *outRe = ryGetPr(y);
    for (rySize i = 0; i < n; ++i) outRe[i] = re[i] * k;
    if (complexData) {
        const double *im = ryGetPi(x);
        double *outIm = ryGetPi(y);
        for (rySize i = 0; i < n; ++i) outIm[i] = im[i] * k;
    }
#endif
    plhs[0] = y;
}
