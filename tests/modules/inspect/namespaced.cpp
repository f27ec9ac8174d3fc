// A module that reaches the array interface through its namespaced C++ form: the imported
// names contain ry_array_api. It defines the C entry point and no version function.
#include <ry_types.h>

namespace ry_array_api {
double* getDoubles(const ryArray* array);
}

extern "C" __attribute__((visibility("default"))) void orbFunction(int, ryArray**, int, const ryArray** prhs) {
    ry_array_api::getDoubles(prhs[0])[0] = 1.0;
}
