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

#include "ry_types.h"

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

#ifdef __cplusplus
}
#endif

#endif /* ORB_H */
