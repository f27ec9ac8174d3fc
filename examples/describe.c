/* describe.c: s = describe(x1, x2, ...) answers a 1-by-n struct array, one element per input,
 * that says what each value is:
 *
 *   class      the class name ('double', 'int8', 'char', 'cell', 'struct', or an object's class)
 *   size       the dimensions, a row of doubles
 *   numel      the number of elements
 *   isComplex  true for complex numeric data
 *   isEmpty    true when some dimension is 0
 *   bytes      the bytes of the element data (numel times the element size, twice that for
 *              complex data); 0 for cells, structs and objects, whose elements live elsewhere
 *   contents   for a struct, its field names (a cell row); for a cell, the class of each element
 *              (a cell of the same size); [] otherwise
 *
 * Without inputs it raises describe:nargin.
 *
 * Built with nothing but a C compiler, against the staged installation root ROOT:
 *   cc -shared -fPIC -fexceptions -I"$ROOT/include" describe.c -L"$ROOT/lib" -lorb -lvhost -o describe.orbw64 */
#include "orb.h"
#include "ry.h"

#include "module_version.h"

static const char *const kFields[] = {"class", "size", "numel", "isComplex", "isEmpty", "bytes", "contents"};
enum { kFieldCount = sizeof(kFields) / sizeof(kFields[0]) };

static ryArray *sizeRow(const ryArray *x) {
    const rySize ndim = ryGetNumberOfDimensions(x);
    const rySize *dims = ryGetDimensions(x);
    ryArray *row = ryCreateDoubleMatrix(1, ndim, ryREAL);
    double *out = ryGetDoubles(row);
    for (rySize i = 0; i < ndim; ++i) out[i] = (double)dims[i];
    return row;
}

static ryArray *fieldNames(const ryArray *s) {
    const int count = ryGetNumberOfFields(s);
    ryArray *names = ryCreateCellMatrix(1, (rySize)count);
    for (int i = 0; i < count; ++i) rySetCell(names, (ryIndex)i, ryCreateString(ryGetFieldNameByNumber(s, i)));
    return names;
}

static ryArray *elementClasses(const ryArray *c) {
    ryArray *classes = ryCreateCellArray(ryGetNumberOfDimensions(c), ryGetDimensions(c));
    const rySize count = ryGetNumberOfElements(c);
    for (rySize i = 0; i < count; ++i) {
        const ryArray *element = ryGetCell(c, i);
        /* An element never set holds the empty double matrix. */
        rySetCell(classes, i, ryCreateString(element ? ryGetClassName(element) : "double"));
    }
    return classes;
}

void orbFunction(int nlhs, ryArray *plhs[], int nrhs, const ryArray *prhs[]) {
    (void)nlhs;
    if (nrhs < 1) orbErrMsgIdAndTxt("describe:nargin", "describe needs at least one value to describe.");

    ryArray *s = ryCreateStructMatrix(1, (rySize)nrhs, kFieldCount, (const char **)kFields);
    for (int i = 0; i < nrhs; ++i) {
        const ryArray *x = prhs[i];
        const rySize numel = ryGetNumberOfElements(x);
        const int isComplex = ryIsComplex(x);
        rySetField(s, (ryIndex)i, "class", ryCreateString(ryGetClassName(x)));
        rySetField(s, (ryIndex)i, "size", sizeRow(x));
        rySetField(s, (ryIndex)i, "numel", ryCreateDoubleScalar((double)numel));
        rySetField(s, (ryIndex)i, "isComplex", ryCreateLogicalScalar(isComplex));
        rySetField(s, (ryIndex)i, "isEmpty", ryCreateLogicalScalar(ryIsEmpty(x)));
        rySetField(s, (ryIndex)i, "bytes",
                   ryCreateDoubleScalar((double)(numel * ryGetElementSize(x) * (isComplex ? 2 : 1))));
        if (ryIsStruct(x)) {
            rySetField(s, (ryIndex)i, "contents", fieldNames(x));
        } else if (ryIsCell(x)) {
            rySetField(s, (ryIndex)i, "contents", elementClasses(x));
        }
    }
    plhs[0] = s;
}
