/* Two modules for nested calls. nested_outer(trap) sets the trap flag, calls nested_inner through
 * the host, then registers an exit function (which lands on the current module's record) and
 * answers the call's status. nested_inner always raises. */
#include <orb.h>

#define EXPORT __attribute__((visibility("default")))

#ifdef NESTED_OUTER
static void noop(void) {}

EXPORT void orbFunction(int nlhs, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    (void)nlhs, (void)nrhs;
    ryArray* out[1] = {NULL};
    orbSetTrapFlag((int)ryGetScalar(prhs[0]));
    int status = orbCallVELTRA(0, out, 0, NULL, "nested_inner");
    orbAtExit(noop);
    plhs[0] = ryCreateDoubleScalar(status);
}
#else
EXPORT void orbFunction(int nlhs, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    (void)nlhs, (void)plhs, (void)nrhs, (void)prhs;
    orbErrMsgIdAndTxt("nested:inner", "the inner module failed");
}
#endif
