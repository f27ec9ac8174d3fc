/* An 11 MB module for the manifest benchmarks: a table of read-only data makes up the size, so
 * the file is as large as a module with real content and the manifest has to be found in it. */
#include <stdint.h>

#include <orb.h>

#define LARGE_BYTES (11u * 1024u * 1024u)

/* Not all zero, so the table takes room in the file rather than in .bss. */
__attribute__((visibility("default"))) const unsigned char largeTable[LARGE_BYTES] = {1, 2, 3, 4};

__attribute__((visibility("default"))) void orbfilerequiredapiversion(uint32_t* relnum, uint32_t* apinum) {
    *relnum = 0x2018A;
    *apinum = 0x08000000;
}

__attribute__((visibility("default"))) void orbFunction(int nlhs, ryArray* plhs[], int nrhs, const ryArray* prhs[]) {
    (void)nlhs;
    (void)nrhs;
    (void)prhs;
    plhs[0] = ryCreateDoubleScalar((double)largeTable[LARGE_BYTES / 2]);
}
