/* A library with one exported function and a static constructor that leaves a trace. */
#include <stdlib.h>

__attribute__((constructor)) static void markLoaded(void) { setenv("H1_PLAIN_CONSTRUCTED", "1", 1); }

int h1PlainAnswer(void) { return 42; }
