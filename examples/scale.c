/* scale.c: y = scale(x, k) multiplies every element of the numeric array x by the real scalar k
 * and answers an array of the same class, size and complexity as x.
 *
 *   double, single   plain multiplication in that precision;
 *   integer classes  the product in extended precision, rounded to the nearest integer
 *                    (halves away from zero) and saturated at the limits of the class; NaN
 *                    gives 0;
 *   complex x        both parts are scaled (double and single; complex integers are refused
 *                    with scale:complexInteger).
 *
 * k may be of any real numeric class; its value is used as a double. Bad input raises an error
 * with an identifier a caller can recognise: scale:nargin, scale:nargout, scale:notNumeric,
 * scale:complexInteger, scale:badFactor.
 *
 * Built with nothing but a C compiler, against the staged installation root ROOT:
 *   cc -shared -fPIC -fexceptions -I"$ROOT/include" scale.c -L"$ROOT/lib" -lorb -lvhost -o scale.orbw64 */
#include <stdint.h>

#include "orb.h"
#include "ry.h"

#include "module_version.h"

/* Rounds v to the nearest integer, halves away from zero, saturating at [lo, hi]. long double
 * carries 64 mantissa bits on x86-64, so every 64-bit integer converts to it exactly; the
 * rounding is done by hand so that the module needs nothing from the maths library. */
static long double roundSaturate(long double v, long double lo, long double hi) {
    if (v != v) return 0; /* NaN */
    if (v >= hi) return hi;
    if (v <= lo) return lo;
    /* Inside the range, v + 0.5 fits an unsigned 64-bit integer, and truncation rounds. */
    if (v < 0) return -(long double)(uint64_t)(-v + 0.5L);
    return (long double)(uint64_t)(v + 0.5L);
}

/* Scales the elements of floating-point class T (double or single: the product is computed in
 * that precision), read and written through the typed accessor GET. */
#define SCALE_REAL(T, GET)                                                                        \
    do {                                                                                          \
        const T *in = GET(x);                                                                     \
        T *out = GET(y);                                                                          \
        for (rySize i = 0; i < count; ++i) out[i] = in[i] * (T)factor;                            \
    } while (0)

/* The same for complex elements of type CT whose parts are of type T. */
#define SCALE_COMPLEX(CT, GET, T)                                                                 \
    do {                                                                                          \
        const CT *in = GET(x);                                                                    \
        CT *out = GET(y);                                                                         \
        for (rySize i = 0; i < count; ++i) {                                                      \
            out[i].real = in[i].real * (T)factor;                                                 \
            out[i].imag = in[i].imag * (T)factor;                                                 \
        }                                                                                         \
    } while (0)

/* Scales the elements of integer class T read and written through the typed accessor GET. */
#define SCALE_INTEGERS(T, GET, LO, HI)                                                            \
    do {                                                                                          \
        const T *in = GET(x);                                                                     \
        T *out = GET(y);                                                                          \
        for (rySize i = 0; i < count; ++i)                                                        \
            out[i] = (T)roundSaturate((long double)in[i] * factor, (long double)(LO), (long double)(HI)); \
    } while (0)

void orbFunction(int nlhs, ryArray *plhs[], int nrhs, const ryArray *prhs[]) {
    if (nrhs != 2) orbErrMsgIdAndTxt("scale:nargin", "scale takes two inputs, x and k; it was given %d.", nrhs);
    if (nlhs > 1) orbErrMsgIdAndTxt("scale:nargout", "scale answers one output; %d were asked for.", nlhs);

    const ryArray *x = prhs[0];
    const ryArray *k = prhs[1];
    if (!ryIsNumeric(x))
        orbErrMsgIdAndTxt("scale:notNumeric", "x must be numeric, not of class %s.", ryGetClassName(x));
    if (!ryIsNumeric(k) || ryIsComplex(k) || ryGetNumberOfElements(k) != 1)
        orbErrMsgIdAndTxt("scale:badFactor", "k must be a real numeric scalar.");

    const ryClassID classId = ryGetClassID(x);
    const int isComplex = ryIsComplex(x);
    if (isComplex && classId != ryDOUBLE_CLASS && classId != rySINGLE_CLASS)
        orbErrMsgIdAndTxt("scale:complexInteger", "Complex x must be double or single, not %s.", ryGetClassName(x));
    ryArray *y = ryCreateNumericArray(ryGetNumberOfDimensions(x), ryGetDimensions(x), classId,
                                      isComplex ? ryCOMPLEX : ryREAL);

    const rySize count = ryGetNumberOfElements(x);
    const double factor = ryGetScalar(k);
    /* Empty arrays have no data to scale (their accessors answer null). */
    if (count != 0) {
        switch (classId) {
        case ryDOUBLE_CLASS:
            if (isComplex) {
                SCALE_COMPLEX(ryComplexDouble, ryGetComplexDoubles, double);
            } else {
                SCALE_REAL(double, ryGetDoubles);
            }
            break;
        case rySINGLE_CLASS:
            if (isComplex) {
                SCALE_COMPLEX(ryComplexSingle, ryGetComplexSingles, float);
            } else {
                SCALE_REAL(float, ryGetSingles);
            }
            break;
        case ryINT8_CLASS: SCALE_INTEGERS(int8_t, ryGetInt8s, INT8_MIN, INT8_MAX); break;
        case ryUINT8_CLASS: SCALE_INTEGERS(uint8_t, ryGetUint8s, 0, UINT8_MAX); break;
        case ryINT16_CLASS: SCALE_INTEGERS(int16_t, ryGetInt16s, INT16_MIN, INT16_MAX); break;
        case ryUINT16_CLASS: SCALE_INTEGERS(uint16_t, ryGetUint16s, 0, UINT16_MAX); break;
        case ryINT32_CLASS: SCALE_INTEGERS(int32_t, ryGetInt32s, INT32_MIN, INT32_MAX); break;
        case ryUINT32_CLASS: SCALE_INTEGERS(uint32_t, ryGetUint32s, 0, UINT32_MAX); break;
        case ryINT64_CLASS: SCALE_INTEGERS(int64_t, ryGetInt64s, INT64_MIN, INT64_MAX); break;
        case ryUINT64_CLASS: SCALE_INTEGERS(uint64_t, ryGetUint64s, 0, UINT64_MAX); break;
        default:
            orbErrMsgIdAndTxt("scale:notNumeric", "x must be numeric, not of class %s.", ryGetClassName(x));
        }
    }
    plhs[0] = y;
}
