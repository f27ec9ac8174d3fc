/* Exposes the call services to tests, built for a separate-complex interface so that the plain
 * names (with their conversions) are the ones used:
 *   [out, status] = services('call' | 'calltrap', name, args...)   orbCallVELTRA (calltrap sets the trap flag)
 *   [out, err]    = services('withtrap', name, args...)            orbCallVELTRAWithTrap
 *   status        = services('eval', text);  failed = services('evaltrap', text)
 *   value         = services('get' | 'getptr', workspace, name)    (empty when there is none)
 *   status        = services('put', workspace, name, value)
 *   name          = services('name')                               orbFunctionName */
#include <string.h>

#include <orb.h>

static ryArray* orEmpty(ryArray* a) { return a ? a : ryCreateDoubleMatrix(0, 0, ryREAL); }

__attribute__((visibility("default"))) void orbFunction(int nlhs, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    (void)nlhs;
    const char* op = ryArrayToString(prhs[0]);
    const char* first = nrhs > 1 ? ryArrayToString(prhs[1]) : NULL;
    const char* second = nrhs > 2 ? ryArrayToString(prhs[2]) : NULL;
    ryArray* out[1] = {NULL};
    ryArray** args = (ryArray**)prhs + 2;
    if (!strcmp(op, "call") || !strcmp(op, "calltrap")) {
        if (!strcmp(op, "calltrap")) orbSetTrapFlag(1);
        int status = orbCallVELTRA(1, out, nrhs - 2, args, first);
        plhs[0] = orEmpty(out[0]);
        plhs[1] = ryCreateDoubleScalar(status);
    } else if (!strcmp(op, "withtrap")) {
        ryArray* error = orbCallVELTRAWithTrap(1, out, nrhs - 2, args, first);
        plhs[0] = orEmpty(error ? NULL : out[0]);
        plhs[1] = orEmpty(error);
    } else if (!strcmp(op, "eval")) {
        plhs[0] = ryCreateDoubleScalar(orbEvalString(first));
    } else if (!strcmp(op, "evaltrap")) {
        plhs[0] = ryCreateLogicalScalar(orbEvalStringWithTrap(first) != NULL);
    } else if (!strcmp(op, "get")) {
        plhs[0] = orEmpty(orbGetVariable(first, second));
    } else if (!strcmp(op, "getptr")) {
        const ryArray* value = orbGetVariablePtr(first, second);
        plhs[0] = orEmpty(value ? ryDuplicateArray(value) : NULL);
    } else if (!strcmp(op, "put")) {
        plhs[0] = ryCreateDoubleScalar(orbPutVariable(first, second, prhs[3]));
    } else if (!strcmp(op, "name")) {
        plhs[0] = ryCreateString(orbFunctionName());
    } else {
        orbErrMsgIdAndTxt("services:op", "unknown operation '%s'", op);
    }
}
