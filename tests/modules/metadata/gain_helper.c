/* A second source for multi-file builds: gain_offset() is called by nothing, it only has to
 * compile and link. */
double gain_offset(double value) { return value + 1.0; }
