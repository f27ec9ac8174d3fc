/* A C module whose imports come from two interface generations at once, as happens when its
 * source files are compiled with different interface options. The versioned names are written
 * out here so that one file shows the mix. MIX_700_800, MIX_730_800 or MIX_700_730 selects it. */
#define RY_NO_NAME_MAPPING
#include <ry.h>

#if defined(_WIN32)
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

EXPORT void orbFunction(int nlhs, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    (void)nlhs;
    (void)nrhs;
#if defined(MIX_700_800)
    const ryCompatSize* dims = ryGetDimensions_700(prhs[0]);
    plhs[0] = ryCreateDoubleMatrix_800((rySize)dims[0], 1, ryREAL);
    ryGetDoubles_800(plhs[0])[0] = 1.0;
#elif defined(MIX_730_800)
    plhs[0] = ryCreateDoubleMatrix_800(1, 1, ryCOMPLEX);
    ryGetPi_730(plhs[0])[0] = 1.0;
    rySetPr_800(plhs[0], ryGetPr_800(prhs[0]));
#elif defined(MIX_700_730)
    const ryCompatSize* dims = ryGetDimensions_700(prhs[0]);
    plhs[0] = ryCreateDoubleMatrix_730((rySize)dims[0], 1, ryREAL);
#endif
}
