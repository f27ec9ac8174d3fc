/* A library that calls a function defined nowhere: loading it with every reference resolved
 * fails; a lazy load succeeds until the function is called. */
#include <stdlib.h>

extern int h1MissingFunction(void);

__attribute__((constructor)) static void markLoaded(void) { setenv("H1_UNRESOLVED_CONSTRUCTED", "1", 1); }

int h1CallsMissing(void) { return h1MissingFunction(); }
