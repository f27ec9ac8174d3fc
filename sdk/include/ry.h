/* The array interface for orb modules written in C (and C++).
 *
 * Arrays are opaque handles (ryArray*). Everything a module creates or allocates during a call
 * belongs to that call: when the call ends, the host destroys the arrays and frees the memory,
 * except the outputs the module hands back in plhs. A module may release things earlier itself
 * (ryDestroyArray, ryFree).
 *
 * Interface generations. Three generations of this interface exist, and a module is compiled
 * against exactly one of them:
 *   700  compatible array dimensions: dimensions are int, complex data has separate real and
 *        imaginary parts. Selected by defining RY_COMPAT_32.
 *   730  dimensions are size_t, complex data has separate real and imaginary parts. Selected by
 *        defining VELTRA_ORBCMD_RELEASE=R2017b.
 *   800  dimensions are size_t, complex data is interleaved (ryComplexDouble pairs). Selected by
 *        defining VELTRA_ORBCMD_RELEASE=R2018a, and the default.
 * Functions whose behaviour differs between generations are exported under names with the
 * generation as suffix (ryGetDimensions_700, ryGetPi_730, ryGetDoubles_800, ...). Write the plain
 * name (ryGetDimensions); this header maps it to the versioned name of the generation selected,
 * so the compiled module imports exactly the functions of its generation. RY_INTERFACE_VERSION
 * says which one that is.
 *
 * The host keeps every array consistent across generations: a complex array written through
 * the separate parts by a 730 module reads correctly as interleaved pairs in an 800 module, and
 * the other way round.
 *
 * Errors: functions that cannot do what was asked because of a programming error (a null array,
 * an index out of range, memory that did not come from ryMalloc) raise a host error; the call
 * does not return to the module.
 */
#ifndef RY_H
#define RY_H

#include <ry_types.h>

/* ---- choosing the interface generation ---------------------------------------------------- */

#if defined(RY_COMPAT_32)
#define RY_INTERFACE_VERSION 700
#elif defined(VELTRA_ORBCMD_RELEASE)
/* The release is given as a bare word (R2017b); give the words numbers for the comparison
 * without disturbing any macros of the same names the includer may have. */
#pragma push_macro("R2017b")
#pragma push_macro("R2018a")
#undef R2017b
#undef R2018a
#define R2017b 730
#define R2018a 800
#if (VELTRA_ORBCMD_RELEASE + 0) == 730
#define RY_INTERFACE_VERSION 730
#elif (VELTRA_ORBCMD_RELEASE + 0) == 800
#define RY_INTERFACE_VERSION 800
#else
#error "VELTRA_ORBCMD_RELEASE must be R2017b or R2018a"
#endif
#undef R2017b
#undef R2018a
#pragma pop_macro("R2017b")
#pragma pop_macro("R2018a")
#else
#define RY_INTERFACE_VERSION 800
#endif

/* The type of dimensions and element indices in the selected generation. */
#if RY_INTERFACE_VERSION == 700
typedef ryCompatSize ryDimSize;
#else
typedef rySize ryDimSize;
#endif

#if defined(_WIN32)
#if defined(RY_BUILDING_HOST)
#define RY_API __declspec(dllexport)
#else
#define RY_API __declspec(dllimport)
#endif
#else
#define RY_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- memory ------------------------------------------------------------------------------- */

/* Zeroed memory for count elements of size bytes, owned by the current call: freed when the
 * call ends unless it is handed to an array (rySetPr, rySetData, ...) or made persistent by the
 * runtime. Null when count*size overflows or memory runs out. */
RY_API void* ryCalloc(size_t count, size_t size);
/* As ryCalloc, not zeroed. */
RY_API void* ryMalloc(size_t size);
/* Resizes memory from ryCalloc/ryMalloc (content kept up to the smaller size); null pointer:
 * allocates; size 0: frees and returns null. Null on failure, the old block then unchanged. */
RY_API void* ryRealloc(void* pointer, size_t size);
/* Frees memory from ryCalloc, ryMalloc, ryRealloc or ryArrayToString. Null, and memory that is
 * not (or no longer) such a block, are ignored. */
RY_API void ryFree(void* pointer);

/* ---- creating, copying and destroying arrays ---------------------------------------------- */

/* Releases an array and everything in it (cell elements, field values). Null is ignored, and so
 * is an array that was destroyed already. An array that is an element of a cell or struct is
 * removed from it first. */
RY_API void ryDestroyArray(ryArray* array);
/* An independent copy (same class, dimensions, content and complex storage). */
RY_API ryArray* ryDuplicateArray(const ryArray* array);

/* An m-by-n double matrix of zeros; ryCOMPLEX adds a zero imaginary part. */
RY_API ryArray* ryCreateDoubleMatrix_700(ryCompatSize m, ryCompatSize n, ryComplexity complexity);
RY_API ryArray* ryCreateDoubleMatrix_730(rySize m, rySize n, ryComplexity complexity);
RY_API ryArray* ryCreateDoubleMatrix_800(rySize m, rySize n, ryComplexity complexity);
/* An m-by-n matrix of zeros of a numeric class (double, single, int8 ... uint64). */
RY_API ryArray* ryCreateNumericMatrix_700(ryCompatSize m, ryCompatSize n, ryClassID classId, ryComplexity complexity);
RY_API ryArray* ryCreateNumericMatrix_730(rySize m, rySize n, ryClassID classId, ryComplexity complexity);
RY_API ryArray* ryCreateNumericMatrix_800(rySize m, rySize n, ryClassID classId, ryComplexity complexity);
/* An array of zeros with ndim dimensions dims[0..ndim-1] (fewer than two: the missing ones
 * are 1; no dimensions at all: 0-by-0). Trailing dimensions of 1 beyond the second are dropped. */
RY_API ryArray* ryCreateNumericArray_700(ryCompatSize ndim, const ryCompatSize* dims, ryClassID classId,
                                         ryComplexity complexity);
RY_API ryArray* ryCreateNumericArray_730(rySize ndim, const rySize* dims, ryClassID classId, ryComplexity complexity);
RY_API ryArray* ryCreateNumericArray_800(rySize ndim, const rySize* dims, ryClassID classId, ryComplexity complexity);
/* A 1-by-1 double / logical. */
RY_API ryArray* ryCreateDoubleScalar(double value);
RY_API ryArray* ryCreateLogicalScalar(bool value);
/* Logical arrays of false. */
RY_API ryArray* ryCreateLogicalMatrix(rySize m, rySize n);
RY_API ryArray* ryCreateLogicalArray_700(ryCompatSize ndim, const ryCompatSize* dims);
RY_API ryArray* ryCreateLogicalArray_730(rySize ndim, const rySize* dims);
RY_API ryArray* ryCreateLogicalArray_800(rySize ndim, const rySize* dims);
/* A character array of NUL characters. */
RY_API ryArray* ryCreateCharArray_700(ryCompatSize ndim, const ryCompatSize* dims);
RY_API ryArray* ryCreateCharArray_730(rySize ndim, const rySize* dims);
RY_API ryArray* ryCreateCharArray_800(rySize ndim, const rySize* dims);
/* A 1-by-n character array holding the UTF-8 text (null: an empty one). Raises an error for
 * text that is not valid UTF-8. */
RY_API ryArray* ryCreateString(const char* text);
/* An m-row character array of the UTF-8 texts, each row padded with blanks to the longest. */
RY_API ryArray* ryCreateCharMatrixFromStrings(rySize m, const char** texts);
/* Cell arrays of empty elements. */
RY_API ryArray* ryCreateCellMatrix(rySize m, rySize n);
RY_API ryArray* ryCreateCellArray_700(ryCompatSize ndim, const ryCompatSize* dims);
RY_API ryArray* ryCreateCellArray_730(rySize ndim, const rySize* dims);
RY_API ryArray* ryCreateCellArray_800(rySize ndim, const rySize* dims);
/* Struct arrays with the given field names (letters, digits and underscores, starting with a
 * letter, at most 63 characters, no duplicates) and empty values. */
RY_API ryArray* ryCreateStructMatrix(rySize m, rySize n, int nfields, const char** fieldNames);
RY_API ryArray* ryCreateStructArray_700(ryCompatSize ndim, const ryCompatSize* dims, int nfields, const char** fieldNames);
RY_API ryArray* ryCreateStructArray_730(rySize ndim, const rySize* dims, int nfields, const char** fieldNames);
RY_API ryArray* ryCreateStructArray_800(rySize ndim, const rySize* dims, int nfields, const char** fieldNames);

/* ---- class and shape ---------------------------------------------------------------------- */

RY_API ryClassID ryGetClassID(const ryArray* array);
/* "double", "int8", "logical", "char", "cell", "struct", "function_handle", or the class name of
 * an object. The text lives as long as the array. */
RY_API const char* ryGetClassName(const ryArray* array);
/* Whether the array's class is exactly className. */
RY_API bool ryIsClass(const ryArray* array, const char* className);
RY_API rySize ryGetM(const ryArray* array);
/* Columns: the product of all dimensions after the first. */
RY_API rySize ryGetN(const ryArray* array);
RY_API void rySetM(ryArray* array, rySize m);
RY_API void rySetN(ryArray* array, rySize n);
RY_API rySize ryGetNumberOfElements(const ryArray* array);
/* Bytes of one element (of the real part for complex data); 0 for cells, structs and objects. */
RY_API rySize ryGetElementSize(const ryArray* array);
RY_API ryCompatSize ryGetNumberOfDimensions_700(const ryArray* array);
RY_API rySize ryGetNumberOfDimensions_730(const ryArray* array);
RY_API rySize ryGetNumberOfDimensions_800(const ryArray* array);
/* The dimensions; valid until the array is reshaped or destroyed. */
RY_API const ryCompatSize* ryGetDimensions_700(const ryArray* array);
RY_API const rySize* ryGetDimensions_730(const ryArray* array);
RY_API const rySize* ryGetDimensions_800(const ryArray* array);
/* Reshapes the array. Data grows (new elements zero) when there are more elements than before;
 * cells and structs lose the elements that no longer fit. Returns 0. */
RY_API int rySetDimensions_700(ryArray* array, const ryCompatSize* dims, ryCompatSize ndim);
RY_API int rySetDimensions_730(ryArray* array, const rySize* dims, rySize ndim);
RY_API int rySetDimensions_800(ryArray* array, const rySize* dims, rySize ndim);
/* The column-major index of the element with the given (zero-based) subscripts. */
RY_API rySize ryCalcSingleSubscript_700(const ryArray* array, ryCompatSize nsubs, const ryCompatSize* subs);
RY_API rySize ryCalcSingleSubscript_730(const ryArray* array, rySize nsubs, const rySize* subs);
RY_API rySize ryCalcSingleSubscript_800(const ryArray* array, rySize nsubs, const rySize* subs);

/* Predicates; all answer false for a null array. */
RY_API bool ryIsDouble(const ryArray* array);
RY_API bool ryIsSingle(const ryArray* array);
RY_API bool ryIsInt8(const ryArray* array);
RY_API bool ryIsUint8(const ryArray* array);
RY_API bool ryIsInt16(const ryArray* array);
RY_API bool ryIsUint16(const ryArray* array);
RY_API bool ryIsInt32(const ryArray* array);
RY_API bool ryIsUint32(const ryArray* array);
RY_API bool ryIsInt64(const ryArray* array);
RY_API bool ryIsUint64(const ryArray* array);
RY_API bool ryIsLogical(const ryArray* array);
RY_API bool ryIsChar(const ryArray* array);
RY_API bool ryIsCell(const ryArray* array);
RY_API bool ryIsStruct(const ryArray* array);
RY_API bool ryIsFunctionHandle(const ryArray* array);
RY_API bool ryIsObject(const ryArray* array);
/* double, single or an integer class. */
RY_API bool ryIsNumeric(const ryArray* array);
RY_API bool ryIsComplex(const ryArray* array);
RY_API bool ryIsEmpty(const ryArray* array);
RY_API bool ryIsScalar(const ryArray* array);
/* A 1-by-1 logical that is true. */
RY_API bool ryIsLogicalScalarTrue(const ryArray* array);

/* ---- data: separate real and imaginary parts (generations 700 and 730) --------------------- */

/* The real part of a numeric, logical or char array (its only part when real), as double* /
 * void*; null for empty arrays and for cells, structs and objects. The module may write through
 * the pointer. */
RY_API double* ryGetPr_700(const ryArray* array);
RY_API double* ryGetPr_730(const ryArray* array);
RY_API void* ryGetData_700(const ryArray* array);
RY_API void* ryGetData_730(const ryArray* array);
/* The imaginary part; null when the array is real. */
RY_API double* ryGetPi_700(const ryArray* array);
RY_API double* ryGetPi_730(const ryArray* array);
RY_API void* ryGetImagData_700(const ryArray* array);
RY_API void* ryGetImagData_730(const ryArray* array);
/* Replace a part with memory from ryMalloc/ryCalloc holding at least one element per array
 * element; the array owns it from then on (do not free it) and frees the part it replaces.
 * Setting an imaginary part makes a real array complex; a null imaginary part makes it real. */
RY_API void rySetPr_700(ryArray* array, double* data);
RY_API void rySetPr_730(ryArray* array, double* data);
RY_API void rySetData_700(ryArray* array, void* data);
RY_API void rySetData_730(ryArray* array, void* data);
RY_API void rySetPi_700(ryArray* array, double* data);
RY_API void rySetPi_730(ryArray* array, double* data);
RY_API void rySetImagData_700(ryArray* array, void* data);
RY_API void rySetImagData_730(ryArray* array, void* data);

/* ---- data: interleaved complex (generation 800) ------------------------------------------- */

/* The data of a real double array (raises an error for a complex one: use
 * ryGetComplexDoubles). Replacing follows the rules of rySetPr above. */
RY_API double* ryGetPr_800(const ryArray* array);
RY_API void rySetPr_800(ryArray* array, double* data);
/* The data of a numeric, logical or char array; complex data as interleaved pairs. */
RY_API void* ryGetData_800(const ryArray* array);
RY_API void rySetData_800(ryArray* array, void* data);
/* Typed access: null when the array is not of that class and complexity. */
RY_API double* ryGetDoubles_800(const ryArray* array);
RY_API float* ryGetSingles_800(const ryArray* array);
RY_API int8_t* ryGetInt8s_800(const ryArray* array);
RY_API uint8_t* ryGetUint8s_800(const ryArray* array);
RY_API int16_t* ryGetInt16s_800(const ryArray* array);
RY_API uint16_t* ryGetUint16s_800(const ryArray* array);
RY_API int32_t* ryGetInt32s_800(const ryArray* array);
RY_API uint32_t* ryGetUint32s_800(const ryArray* array);
RY_API int64_t* ryGetInt64s_800(const ryArray* array);
RY_API uint64_t* ryGetUint64s_800(const ryArray* array);
RY_API ryComplexDouble* ryGetComplexDoubles_800(const ryArray* array);
RY_API ryComplexSingle* ryGetComplexSingles_800(const ryArray* array);
/* Typed replacement with memory from ryMalloc/ryCalloc; 1 on success, 0 (nothing changed) when
 * the array is not of that class and complexity. */
RY_API int rySetDoubles_800(ryArray* array, double* data);
RY_API int rySetSingles_800(ryArray* array, float* data);
RY_API int rySetComplexDoubles_800(ryArray* array, ryComplexDouble* data);
RY_API int rySetComplexSingles_800(ryArray* array, ryComplexSingle* data);
/* Add a zero imaginary part to a real numeric array / drop the imaginary part. 1 on success, 0
 * when the array is not numeric. */
RY_API int ryMakeArrayComplex_800(ryArray* array);
RY_API int ryMakeArrayReal_800(ryArray* array);

/* ---- data of every generation ------------------------------------------------------------- */

RY_API ryLogical* ryGetLogicals(const ryArray* array);  /* null unless logical */
RY_API ryChar* ryGetChars(const ryArray* array);        /* null unless char */
/* The first element (its real part) converted to double. Logical and char arrays count as
 * numbers here: true gives 1, a character its code ('two' gives 116, the code of 't'). 0 for an
 * empty array and for cells, structs and objects. */
RY_API double ryGetScalar(const ryArray* array);

/* ---- text --------------------------------------------------------------------------------- */

/* The characters of a char array (column by column) as NUL-terminated UTF-8, owned by the
 * current call (free with ryFree). Null when the array is not a char array or holds invalid
 * UTF-16. */
RY_API char* ryArrayToString(const ryArray* array);
/* The same into buffer (capacity bytes, NUL included). 0 on success; 1 when the array is not a
 * char array, the text is invalid or it did not fit (then as much as fits, without cutting a
 * character, is written). */
RY_API int ryGetString(const ryArray* array, char* buffer, rySize capacity);

/* ---- cells -------------------------------------------------------------------------------- */

/* The element at index (column-major, zero-based) as stored: still owned by the cell. Null
 * when it is empty. */
RY_API ryArray* ryGetCell(const ryArray* cell, ryIndex index);
/* Puts value (or null: empty) at index. The cell owns value from then on: do not destroy it. An
 * element replaced goes back to the module (it is freed with the call's other arrays). value
 * may not be an element of another array already. */
RY_API void rySetCell(ryArray* cell, ryIndex index, ryArray* value);

/* ---- structs ------------------------------------------------------------------------------ */

RY_API int ryGetNumberOfFields(const ryArray* structure);
/* The name of field number (zero-based), or null. */
RY_API const char* ryGetFieldNameByNumber(const ryArray* structure, int number);
/* The number of the named field, or -1. */
RY_API int ryGetFieldNumber(const ryArray* structure, const char* name);
/* Values as stored (owned by the struct); null when empty or when there is no such field. */
RY_API ryArray* ryGetField(const ryArray* structure, ryIndex index, const char* name);
RY_API ryArray* ryGetFieldByNumber(const ryArray* structure, ryIndex index, int number);
/* Ownership as rySetCell. rySetField adds the field when the struct has none of that name. */
RY_API void rySetField(ryArray* structure, ryIndex index, const char* name, ryArray* value);
RY_API void rySetFieldByNumber(ryArray* structure, ryIndex index, int number, ryArray* value);
/* Adds a field with empty values; returns its number (the existing one if present), or -1 for
 * an invalid name. */
RY_API int ryAddField(ryArray* structure, const char* name);
/* Removes a field and destroys its values. */
RY_API void ryRemoveField(ryArray* structure, int number);

/* ---- special values ----------------------------------------------------------------------- */

RY_API double ryGetInf(void);
RY_API double ryGetNaN(void);
RY_API double ryGetEps(void);
RY_API bool ryIsInf(double value);
RY_API bool ryIsNaN(double value);
RY_API bool ryIsFinite(double value);

#ifdef __cplusplus
}
#endif

/* ---- plain names of the selected generation ----------------------------------------------- */

#if !defined(RY_NO_NAME_MAPPING)
#if RY_INTERFACE_VERSION == 700
#define ryCreateDoubleMatrix ryCreateDoubleMatrix_700
#define ryCreateNumericMatrix ryCreateNumericMatrix_700
#define ryCreateNumericArray ryCreateNumericArray_700
#define ryCreateLogicalArray ryCreateLogicalArray_700
#define ryCreateCharArray ryCreateCharArray_700
#define ryCreateCellArray ryCreateCellArray_700
#define ryCreateStructArray ryCreateStructArray_700
#define ryGetNumberOfDimensions ryGetNumberOfDimensions_700
#define ryGetDimensions ryGetDimensions_700
#define rySetDimensions rySetDimensions_700
#define ryCalcSingleSubscript ryCalcSingleSubscript_700
#define ryGetPr ryGetPr_700
#define rySetPr rySetPr_700
#define ryGetPi ryGetPi_700
#define rySetPi rySetPi_700
#define ryGetData ryGetData_700
#define rySetData rySetData_700
#define ryGetImagData ryGetImagData_700
#define rySetImagData rySetImagData_700
#else
#if RY_INTERFACE_VERSION == 730
#define ryCreateDoubleMatrix ryCreateDoubleMatrix_730
#define ryCreateNumericMatrix ryCreateNumericMatrix_730
#define ryCreateNumericArray ryCreateNumericArray_730
#define ryGetPr ryGetPr_730
#define rySetPr rySetPr_730
#define ryGetPi ryGetPi_730
#define rySetPi rySetPi_730
#define ryGetData ryGetData_730
#define rySetData rySetData_730
#define ryGetImagData ryGetImagData_730
#define rySetImagData rySetImagData_730
#else
#define ryCreateDoubleMatrix ryCreateDoubleMatrix_800
#define ryCreateNumericMatrix ryCreateNumericMatrix_800
#define ryCreateNumericArray ryCreateNumericArray_800
#define ryGetPr ryGetPr_800
#define rySetPr rySetPr_800
#define ryGetData ryGetData_800
#define rySetData rySetData_800
#define ryGetDoubles ryGetDoubles_800
#define ryGetSingles ryGetSingles_800
#define ryGetInt8s ryGetInt8s_800
#define ryGetUint8s ryGetUint8s_800
#define ryGetInt16s ryGetInt16s_800
#define ryGetUint16s ryGetUint16s_800
#define ryGetInt32s ryGetInt32s_800
#define ryGetUint32s ryGetUint32s_800
#define ryGetInt64s ryGetInt64s_800
#define ryGetUint64s ryGetUint64s_800
#define ryGetComplexDoubles ryGetComplexDoubles_800
#define ryGetComplexSingles ryGetComplexSingles_800
#define rySetDoubles rySetDoubles_800
#define rySetSingles rySetSingles_800
#define rySetComplexDoubles rySetComplexDoubles_800
#define rySetComplexSingles rySetComplexSingles_800
#define ryMakeArrayComplex ryMakeArrayComplex_800
#define ryMakeArrayReal ryMakeArrayReal_800
#endif
/* Dimensions are size_t in 730 and 800; each generation imports its own name so that a
 * module built for one generation carries that generation's imports only. */
#if RY_INTERFACE_VERSION == 730
#define ryCreateLogicalArray ryCreateLogicalArray_730
#define ryCreateCharArray ryCreateCharArray_730
#define ryCreateCellArray ryCreateCellArray_730
#define ryCreateStructArray ryCreateStructArray_730
#define ryGetNumberOfDimensions ryGetNumberOfDimensions_730
#define ryGetDimensions ryGetDimensions_730
#define rySetDimensions rySetDimensions_730
#define ryCalcSingleSubscript ryCalcSingleSubscript_730
#else
#define ryCreateLogicalArray ryCreateLogicalArray_800
#define ryCreateCharArray ryCreateCharArray_800
#define ryCreateCellArray ryCreateCellArray_800
#define ryCreateStructArray ryCreateStructArray_800
#define ryGetNumberOfDimensions ryGetNumberOfDimensions_800
#define ryGetDimensions ryGetDimensions_800
#define rySetDimensions rySetDimensions_800
#define ryCalcSingleSubscript ryCalcSingleSubscript_800
#endif
#endif
#endif

#endif /* RY_H */
