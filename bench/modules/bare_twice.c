/* The floor of the call benchmarks: the same work as a plain function in a plain library. */
__attribute__((visibility("default"))) double bare_twice(double x) { return 2 * x; }
