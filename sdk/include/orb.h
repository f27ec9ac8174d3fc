/* orb.h: the services the runtime offers to orb modules written in C or C++.
 *
 * A module is a shared library exporting one gateway function,
 *
 *     void orbFunction(int nlhs, ryArray *plhs[], int nrhs, const ryArray *prhs[]);
 *
 * which the runtime calls with room for at least max(nlhs, 20) outputs. Everything a module
 * allocates during a call is released when the call ends, except the outputs it hands back.
 *
 * Errors. The error services below do not return to the module: the error unwinds through the
 * module's frames back into the runtime. Compile C modules with -fexceptions (orb build does)
 * so that this unwinding is possible.
 *
 * Message identifiers name an error or a warning so that callers can recognise it: two or more
 * components separated by colons, each starting with a letter ("mytoolbox:io:fileNotFound"). */
#ifndef ORB_H
#define ORB_H

#include "ry.h"

#if defined(__GNUC__)
#define ORB_PRINTF_FORMAT(format_index, first_arg) __attribute__((format(printf, format_index, first_arg)))
#else
#define ORB_PRINTF_FORMAT(format_index, first_arg)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Output ------------------------------------------------------------------------------- */

/* Formats like printf and writes the text to the host's command window. Returns the number of
 * bytes written, or a negative number when the format fails. */
int orbPrintf(const char *format, ...) ORB_PRINTF_FORMAT(1, 2);

/* ---- Errors ------------------------------------------------------------------------------- */

/* Raises an error whose text is `message`, shown exactly as given (a '%' is not a directive). */
void orbErrMsgTxt(const char *message);

/* Raises an error with the message identifier `identifier` and a printf-formatted text (at most
 * 8191 characters; longer text is cut). An identifier that is not well formed raises the
 * runtime's "invalid error identifier" error instead of the module's. */
void orbErrMsgIdAndTxt(const char *identifier, const char *format, ...) ORB_PRINTF_FORMAT(2, 3);

/* Reports a failed assertion as an error that names the test, the message and the source
 * position. `test` is the text of the failed condition; written as ": condition," (the form an
 * assertion macro produces) it is shown as " (condition)". Null texts count as empty. If an
 * error is already unwinding through the module, the host cannot raise a second one: it ends
 * the process with a fatal diagnostic instead. */
void orbPrintAssertion(const char *test, const char *fileName, int line, const char *message);

/* ---- Warnings ----------------------------------------------------------------------------- */

/* Issues a warning whose text is `message`, shown exactly as given, and returns. */
void orbWarnMsgTxt(const char *message);

/* Issues a warning with a message identifier and a printf-formatted text, and returns. An
 * identifier that is not well formed is an error, not a warning: it raises the runtime's
 * "invalid warning identifier" error and does not return. */
void orbWarnMsgIdAndTxt(const char *identifier, const char *format, ...) ORB_PRINTF_FORMAT(2, 3);

/* ---- Calling into the host ---------------------------------------------------------------- */

/* Sets how errors of host functions that this module calls come back: non-zero, as a non-zero
 * status of the call; zero, raised as errors. Every module call starts with zero. */
void orbSetTrapFlag(int flag);

/* Calls the host function (or another module) `functionName` as [plhs...] = f(prhs...) with
 * nlhs outputs and nrhs inputs. Returns 0 on success. When the function fails, what happens
 * depends on the trap flag (orbSetTrapFlag): set, the call returns non-zero; clear, the error is
 * raised and the call does not return. Graphics objects among the outputs come back as their
 * numeric handles. The outputs belong to this call like any array the module creates. */
int orbCallVELTRA(int nlhs, ryArray *plhs[], int nrhs, ryArray *prhs[], const char *functionName);
/* The call forms need a list for every count above zero: a null list for a count above zero, or
 * a negative count, raises "VELTRA:orbapi:invalidArgument".
 * As orbCallVELTRA, but graphics objects come back as objects: */
int orbCallVELTRAWithObject(int nlhs, ryArray *plhs[], int nrhs, ryArray *prhs[], const char *functionName);
/* As orbCallVELTRA, but an error never leaves the call: it returns null on success and otherwise
 * an array describing the error (the outputs are then not set). */
ryArray *orbCallVELTRAWithTrap(int nlhs, ryArray *plhs[], int nrhs, ryArray *prhs[], const char *functionName);
ryArray *orbCallVELTRAWithTrapWithObject(int nlhs, ryArray *plhs[], int nrhs, ryArray *prhs[],
                                         const char *functionName);

/* Evaluates host code (one or more statements) in the caller's workspace. orbEvalString returns
 * 0 on success and raises or returns non-zero on failure as the host decides; the trapping form
 * returns null on success and an array describing the error otherwise. */
int orbEvalString(const char *statements);
ryArray *orbEvalStringWithTrap(const char *statements);

/* Workspace variables. `workspace` is "base" (the top level), "caller" (the workspace of the
 * function that called this module) or "global" (global variables).
 * orbGetVariable returns a copy owned by this call, or null when there is no such variable
 * (graphics objects come back as numeric handles; orbGetVariableWithObject keeps them).
 * orbGetVariablePtr returns the variable itself, read-only, valid until the module returns or
 * calls into the host again. orbPutVariable stores a copy of `value` under `name` and returns 0,
 * or 1 when an argument is null or the host refuses. orbIsGlobal always answers false. */
ryArray *orbGetVariable(const char *workspace, const char *name);
ryArray *orbGetVariableWithObject(const char *workspace, const char *name);
const ryArray *orbGetVariablePtr(const char *workspace, const char *name);
int orbPutVariable(const char *workspace, const char *name, const ryArray *value);
bool orbIsGlobal(const ryArray *array);

/* Properties of graphics objects, by numeric handle. orbGet returns the value read-only, or null
 * when it cannot be read (also for a null property name); orbSet stores a copy of `value` and
 * returns 0, or non-zero when it cannot (1 for a null property name or value). */
const ryArray *orbGet(double handle, const char *property);
int orbSet(double handle, const char *property, const ryArray *value);

/* A function handle that calls `function` (a gateway with the signature of orbFunction) when
 * the host calls the handle. A null function raises "VELTRA:orbapi:invalidArgument". */
ryArray *orbCreateSimpleFunctionHandle(void (*function)(int nlhs, ryArray *plhs[], int nrhs, const ryArray *prhs[]));

/* ---- The module's own state --------------------------------------------------------------- */

/* Locking keeps the module loaded. Lock and unlock are passed to the host, which decides what a
 * lock means; orbIsLocked gives the host's answer. The reference host counts them (lock, lock,
 * unlock leaves the module locked) and a clear leaves a locked module alone: its exit function
 * does not run and its library (with its static data) stays, until a later clear after the last
 * unlock. The runtime keeps a flag of its own, not a count (lock, lock, unlock clears it): when a
 * host clears a module whose flag is set (the reference host does so only when its engine ends),
 * the exit function runs but the library stays in memory. */
void orbLock(void);
void orbUnlock(void);
bool orbIsLocked(void);

/* Registers `exitFunction` to run once, when the module is cleared (a later registration
 * replaces an earlier one). An error it raises becomes a warning; the module is cleared anyway.
 * Returns 0 on success. Call it from inside the gateway function. */
int orbAtExit(void (*exitFunction)(void));

/* Arrays and memory of this call are released when the call ends unless made persistent here;
 * persistent ones belong to the module, which must release them itself (ryDestroyArray, ryFree),
 * typically in its exit function. */
void orbMakeArrayPersistent(ryArray *array);
void orbMakeMemoryPersistent(void *memory);

/* The name under which the module was called (owned by the host). */
const char *orbFunctionName(void);

/* Clears a module given its load record (for hosts and the runtime; modules do not have one).
 * Returns 1 when done. */
struct impl_info_tag;
int orbClearOrbFile(struct impl_info_tag *module);

/* The names of the interleaved-complex interface generation. Where they behave differently
 * (no conversion of complex storage or graphics objects) a module built for that generation
 * uses them automatically through the plain names above. */
int orbCallVELTRA_800(int nlhs, ryArray *plhs[], int nrhs, ryArray *prhs[], const char *functionName);
ryArray *orbCallVELTRAWithTrap_800(int nlhs, ryArray *plhs[], int nrhs, ryArray *prhs[], const char *functionName);
int orbEvalString_800(const char *statements);
ryArray *orbEvalStringWithTrap_800(const char *statements);
ryArray *orbGetVariable_800(const char *workspace, const char *name);
const ryArray *orbGetVariablePtr_800(const char *workspace, const char *name);
int orbPutVariable_800(const char *workspace, const char *name, const ryArray *value);
bool orbIsGlobal_800(const ryArray *array);
void orbLock_800(void);
void orbUnlock_800(void);
bool orbIsLocked_800(void);
int orbAtExit_800(void (*exitFunction)(void));
void orbMakeArrayPersistent_800(ryArray *array);
void orbMakeMemoryPersistent_800(void *memory);
const char *orbFunctionName_800(void);

/* Whether the loaded module library `handle` (from dlopen) declares an interleaved-complex
 * interface: 1 yes, 0 no (also for a null handle or a module without a version function). */
int orb_handle_is_interleaved_complex(void *handle);

/* (The runtime itself defines every name, so it sees them unmapped.) */
#if RY_INTERFACE_VERSION == 800 && !defined(ORB_BUILDING_LIBRARY)
#define orbCallVELTRA orbCallVELTRA_800
#define orbCallVELTRAWithTrap orbCallVELTRAWithTrap_800
#define orbGetVariable orbGetVariable_800
#define orbGetVariablePtr orbGetVariablePtr_800
#define orbPutVariable orbPutVariable_800
#endif

#ifdef __cplusplus
}
#endif

#endif /* ORB_H */
