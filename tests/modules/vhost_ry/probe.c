/* A module that touches arrays only through the plain names of ry.h, compiled once per interface
 * generation. Tests load each build, look at what it imports, and pass arrays between builds of
 * different generations to check that complex data reads the same whichever layout wrote it. */
#include <stddef.h>
#include <ry.h>

int probeInterface(void) { return RY_INTERFACE_VERSION; }

/* A 1-by-n complex double row with the given real and imaginary parts. */
ryArray* probeMakeComplex(const double* re, const double* im, size_t n) {
    ryArray* a = ryCreateDoubleMatrix(1, (ryDimSize)n, ryCOMPLEX);
    size_t k;
#if RY_INTERFACE_VERSION == 800
    ryComplexDouble* z = ryGetComplexDoubles(a);
    for (k = 0; k < n; ++k) {
        z[k].real = re[k];
        z[k].imag = im[k];
    }
#else
    double* pr = ryGetPr(a);
    double* pi = ryGetPi(a);
    for (k = 0; k < n; ++k) {
        pr[k] = re[k];
        pi[k] = im[k];
    }
#endif
    return a;
}

/* Copies the parts of a complex double array out; returns the element count, or -1 when the
 * array is not complex double. */
long probeReadComplex(const ryArray* a, double* re, double* im) {
    size_t n = ryGetNumberOfElements(a);
    size_t k;
    if (!ryIsDouble(a) || !ryIsComplex(a)) return -1;
#if RY_INTERFACE_VERSION == 800
    {
        const ryComplexDouble* z = ryGetComplexDoubles(a);
        for (k = 0; k < n; ++k) {
            re[k] = z[k].real;
            im[k] = z[k].imag;
        }
    }
#else
    {
        const double* pr = ryGetPr(a);
        const double* pi = ryGetPi(a);
        for (k = 0; k < n; ++k) {
            re[k] = pr[k];
            im[k] = pi[k];
        }
    }
#endif
    return (long)n;
}

/* Multiplies the imaginary parts in place. */
void probeScaleImag(ryArray* a, double factor) {
    size_t n = ryGetNumberOfElements(a);
    size_t k;
#if RY_INTERFACE_VERSION == 800
    ryComplexDouble* z = ryGetComplexDoubles(a);
    for (k = 0; k < n; ++k) z[k].imag *= factor;
#else
    double* pi = ryGetPi(a);
    for (k = 0; k < n; ++k) pi[k] *= factor;
#endif
}

/* The dimensions as the module's generation sees them, widened into out; returns their count. */
size_t probeDimensions(const ryArray* a, size_t* out, size_t capacity) {
    const ryDimSize* dims = ryGetDimensions(a);
    size_t n = (size_t)ryGetNumberOfDimensions(a);
    size_t k;
    for (k = 0; k < n && k < capacity; ++k) out[k] = (size_t)dims[k];
    return n;
}

/* A 2-by-3-by-4 int16 array made through the generation's dimension type. */
ryArray* probeMakeBlock(void) {
    ryDimSize dims[3] = {2, 3, 4};
    return ryCreateNumericArray(3, dims, ryINT16_CLASS, ryREAL);
}

/* A scalar struct {name: text} built through the unversioned names. */
ryArray* probeMakeRecord(const char* text) {
    const char* fields[1] = {"name"};
    ryArray* s = ryCreateStructMatrix(1, 1, 1, fields);
    rySetField(s, 0, "name", ryCreateString(text));
    return s;
}

/* Memory from the call's allocation list that the module forgets to free. */
void* probeLeakBlock(size_t bytes) { return ryMalloc(bytes); }
