/* A C module built against one interface generation, chosen as module authors choose it: by
 * RY_COMPAT_32, by VELTRA_ORBCMD_RELEASE, or by nothing (the newest). Its imports are the
 * generation's versioned names, which the inspector reads back.
 *
 * WITH_VF adds the version function, reporting VF_REL and VF_API. */
#include <ry.h>
#include <stdint.h>

#if defined(_WIN32)
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

EXPORT void orbFunction(int nlhs, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    (void)nlhs;
    (void)nrhs;
#if RY_INTERFACE_VERSION == 700
    /* 32-bit dimensions and the real-part accessor. */
    const ryCompatSize* dims = ryGetDimensions(prhs[0]);
    plhs[0] = ryCreateDoubleMatrix(dims[0], dims[1], ryREAL);
    ryGetPr(plhs[0])[0] = ryGetScalar(prhs[0]);
#elif RY_INTERFACE_VERSION == 730
    /* Separate imaginary parts. */
    plhs[0] = ryCreateDoubleMatrix(1, 1, ryCOMPLEX);
    ryGetPi(plhs[0])[0] = ryGetScalar(prhs[0]);
#else
    /* Typed, interleaved access. */
    plhs[0] = ryCreateDoubleMatrix(1, 1, ryREAL);
    ryGetDoubles(plhs[0])[0] = ryGetScalar(prhs[0]);
#endif
}

#ifdef WITH_VF
EXPORT void orbfilerequiredapiversion(uint32_t* relnum, uint32_t* apinum) {
    *relnum = VF_REL;
    *apinum = VF_API;
}
#endif
