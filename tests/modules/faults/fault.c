/* Modules that end in a machine fault, after changing what the call must restore: the rounding
 * mode, and arrays and memory the call owns. One of FAULT_NULL, FAULT_INTDIV,
 * FAULT_ILL, FAULT_RECURSION selects the fault. */
#include <fenv.h>
#include <stddef.h>

#include <orb.h>

#ifdef FAULT_INTDIV
/* Both operands unknown to the compiler: 1 / x is otherwise computed without a division. */
static volatile int g_zero = 0;
static volatile int g_seven = 7;
#endif

#ifdef FAULT_RECURSION
/* Not a tail call, and each frame holds a page, so the stack runs out quickly. */
#pragma GCC diagnostic ignored "-Winfinite-recursion"
static int recurse(volatile char* previous) {
    volatile char frame[4096];
    frame[0] = previous ? previous[0] + 1 : 0;
    return recurse(frame) + frame[1];
}
#endif

__attribute__((visibility("default"))) void orbFunction(int nlhs, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    (void)nlhs, (void)nrhs, (void)prhs;
    fesetround(FE_UPWARD);
    plhs[0] = ryCreateDoubleMatrix(100, 100, ryREAL);
    ryMalloc(4096);
#if defined(FAULT_NULL)
    *(volatile int*)NULL = 1;
#elif defined(FAULT_INTDIV)
    plhs[0] = ryCreateDoubleScalar(g_seven / g_zero);
#elif defined(FAULT_ILL)
    __builtin_trap();
#elif defined(FAULT_RECURSION)
    plhs[0] = ryCreateDoubleScalar(recurse(NULL));
#endif
}
