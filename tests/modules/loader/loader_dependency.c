/* A library that one test module depends on and that the loader cannot find at run time. */
__attribute__((visibility("default"))) int loaderDependency(void) { return 7; }
