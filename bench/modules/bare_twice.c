/* The floors of the call benchmarks: the same work as plain functions in a plain library. */
#include <stddef.h>
#include <stdlib.h>

__attribute__((visibility("default"))) double bare_twice(double x) { return 2 * x; }

/* y = 2.5 * x into a block the caller frees; null when memory runs out. */
__attribute__((visibility("default"))) double* bare_scale(const double* x, size_t n) {
    double* y = malloc(n * sizeof *y);
    if (!y) return NULL;
    for (size_t i = 0; i < n; ++i) y[i] = 2.5 * x[i];
    return y;
}
