/* A library with no entry point that imports the 32-bit dimension query and the unversioned
 * real-part accessor (which no host exports any more: the name stays unresolved). */
#include <ry_types.h>

#define EXPORT __attribute__((visibility("default")))

const int* ryGetDimensions_700(const ryArray* array);
double* ryGetPr(const ryArray* array);

EXPORT double helper(const ryArray* array) { return ryGetPr(array)[0] + ryGetDimensions_700(array)[0]; }
