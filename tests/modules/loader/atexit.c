/* Registers an exit function on every call; it prints a line when it runs. With ATEXIT_LOCK the
 * module also locks itself, with ATEXIT_RAISES the exit function raises after printing. Otherwise
 * a positive input locks it and a negative one unlocks it. Answers whether the host holds it
 * locked. */
#include <orb.h>

static void onExit(void) {
    orbPrintf("exit function ran\n");
#ifdef ATEXIT_RAISES
    orbErrMsgIdAndTxt("atexit:failed", "the exit function failed");
#endif
}

__attribute__((visibility("default"))) void orbFunction(int nlhs, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    (void)nlhs;
    (void)nrhs;
    (void)prhs;
    orbAtExit(onExit);
#ifdef ATEXIT_LOCK
    orbLock();
#else
    if (nrhs > 0 && ryGetScalar(prhs[0]) > 0) orbLock();
    if (nrhs > 0 && ryGetScalar(prhs[0]) < 0) orbUnlock();
#endif
    plhs[0] = ryCreateDoubleScalar(orbIsLocked());
}
