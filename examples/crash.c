/* crash.c: y = crash(x) answers the first element of the double array x. It has a bug on
 * purpose, to try the debugger on: it never checks that x has an element, so crash([]) reads
 * through a null pointer and the module faults.
 *
 * The runtime turns the fault into an error and the host goes on:
 *   orb build -g crash.c && orb run crash.orbw64 '[]'
 * With the fault guard off, the debugger stops on the faulting line (the module authors' guide,
 * "Debugging a module"):
 *   gdb --args orb run --no-guard crash.orbw64 '[]'
 */
#include <stddef.h>

#include "orb.h"

/* The data of x, or NULL when x has no elements. */
static const double *valuesOf(const ryArray *x) {
    return ryGetNumberOfElements(x) > 0 ? ryGetDoubles(x) : NULL;
}

static double firstOf(const double *values) {
    return values[0]; /* the bug: values is NULL for an empty x */
}

void orbFunction(int nlhs, ryArray *plhs[], int nrhs, const ryArray *prhs[]) {
    (void)nlhs;
    if (nrhs != 1 || !ryIsDouble(prhs[0]) || ryIsComplex(prhs[0]))
        orbErrMsgIdAndTxt("crash:usage", "crash takes one real double array.");
    plhs[0] = ryCreateDoubleScalar(firstOf(valuesOf(prhs[0])));
}
