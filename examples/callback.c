/* callback.c: a module that works through the host, one verb per call.
 *
 *   [o1, o2, ...] = callback('call', NAME, a1, a2, ...)
 *        calls the host function NAME (a built-in, or another module on the path) with the
 *        remaining inputs and answers as many of its outputs as were asked for. An error in NAME
 *        reaches the caller of callback, as if NAME had been called directly.
 *   status = callback('eval', TEXT)
 *        evaluates the statements TEXT in the host; 0 when they ran.
 *   callback('put', NAME, VALUE)
 *        sets the variable NAME in the base workspace to a copy of VALUE.
 *   value = callback('get', NAME)
 *        answers a copy of the base workspace's variable NAME; callback:noVariable if it has none.
 *
 * Other uses raise callback:usage.
 *
 * Built with nothing but a C compiler, against the staged installation root ROOT:
 *   cc -shared -fPIC -fexceptions -I"$ROOT/include" callback.c -L"$ROOT/lib" -lorb -lvhost -o callback.orbw64 */
#include <string.h>

#include "orb.h"
#include "ry.h"

#include "module_version.h"

/* The text of input `index`, which must be a character array. Owned by the call. */
static char *textInput(const ryArray *prhs[], int index, const char *what) {
    char *text = ryIsChar(prhs[index]) ? ryArrayToString(prhs[index]) : NULL;
    if (text == NULL) orbErrMsgIdAndTxt("callback:usage", "%s must be given as text.", what);
    return text;
}

static void needInputs(int nrhs, int wanted, const char *verb) {
    if (nrhs != wanted)
        orbErrMsgIdAndTxt("callback:usage", "callback('%s', ...) takes %d inputs in all; it was given %d.", verb,
                          wanted, nrhs);
}

void orbFunction(int nlhs, ryArray *plhs[], int nrhs, const ryArray *prhs[]) {
    if (nrhs < 1) orbErrMsgIdAndTxt("callback:usage", "callback needs a verb: 'call', 'eval', 'put' or 'get'.");
    const char *verb = textInput(prhs, 0, "The verb");

    if (strcmp(verb, "call") == 0) {
        if (nrhs < 2) orbErrMsgIdAndTxt("callback:usage", "callback('call', NAME, ...) needs a function name.");
        const char *name = textInput(prhs, 1, "The function name");
        /* The host raises errors of NAME itself while the trap flag is clear (the default), so a
         * non-zero status cannot come back here; the outputs land straight in plhs. */
        orbCallVELTRA(nlhs, plhs, nrhs - 2, (ryArray **)(prhs + 2), name);
    } else if (strcmp(verb, "eval") == 0) {
        needInputs(nrhs, 2, verb);
        plhs[0] = ryCreateDoubleScalar(orbEvalString(textInput(prhs, 1, "The statements")));
    } else if (strcmp(verb, "put") == 0) {
        needInputs(nrhs, 3, verb);
        const char *name = textInput(prhs, 1, "The variable name");
        if (orbPutVariable("base", name, prhs[2]) != 0)
            orbErrMsgIdAndTxt("callback:putFailed", "The base workspace did not accept a variable named '%s'.", name);
    } else if (strcmp(verb, "get") == 0) {
        needInputs(nrhs, 2, verb);
        const char *name = textInput(prhs, 1, "The variable name");
        ryArray *value = orbGetVariable("base", name);
        if (value == NULL) orbErrMsgIdAndTxt("callback:noVariable", "The base workspace has no variable '%s'.", name);
        plhs[0] = value;
    } else {
        orbErrMsgIdAndTxt("callback:usage", "Unknown verb '%s': use 'call', 'eval', 'put' or 'get'.", verb);
    }
}
