/* Plain C access to the host's data arrays, for C++ modules.
 *
 * An array is an opaque pointer to a reference-counted implementation. Every pointer a function
 * here returns carries one reference that belongs to the caller, who gives it back with
 * orbDataRelease. Pointers passed in are borrowed: a function that keeps one (a cell or field
 * value) takes its own reference. Arrays are shared, not copied, by these functions: a module
 * that changes an array others may hold should change a copy.
 *
 * Type codes: 0 logical, 1 char, 4 cell, 5 struct, 6 double, 7 single, 8..15 int8, uint8, int16,
 * uint16, int32, uint32, int64, uint64, 16 complex double, 17 complex single, 18 string,
 * 19 function handle, 27 value object, 28 handle object.
 *
 * Status results: ORB_DATA_OK, or an error code below. */
#ifndef ORB_DATA_H
#define ORB_DATA_H

#include <stddef.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define ORB_DATA_API __attribute__((visibility("default")))

enum { ORB_DATA_OK = 0, ORB_DATA_BAD_ARGUMENT = 1, ORB_DATA_OUT_OF_RANGE = 2, ORB_DATA_FAILED = 3 };

ORB_DATA_API void orbDataAddRef(void* array);
ORB_DATA_API void orbDataRelease(void* array);

/* -1 for a null array. */
ORB_DATA_API int orbDataGetType(const void* array);
/* At least two dimensions; the list lives as long as the array. */
ORB_DATA_API size_t orbDataGetNumberOfDimensions(const void* array);
ORB_DATA_API const size_t* orbDataGetDimensions(const void* array);
ORB_DATA_API size_t orbDataGetNumberOfElements(const void* array);

/* Bytes of one element of a numeric, logical or char array (complex: both parts); 0 otherwise. */
ORB_DATA_API size_t orbDataGetElementSize(const void* array);
/* Copies element `index` (column-major) in the array's own type into `out`: char elements are
 * UTF-16 code units, logical elements one byte, complex elements a (real, imaginary) pair. */
ORB_DATA_API int orbDataGetElement(const void* array, size_t index, void* out);
/* Element `index` of a string array, as UTF-16 text that lives as long as the array. */
ORB_DATA_API int orbDataGetString(const void* array, size_t index, const char16_t** text, size_t* length);

/* An m-by-n array of a numeric or logical type, filled from `data` (column-major, interleaved
 * pairs for complex types) or zero when `data` is null. Null on failure. */
ORB_DATA_API void* orbDataCreateNumericMatrix(int type, size_t m, size_t n, const void* data);
/* A 1-by-length char row. */
ORB_DATA_API void* orbDataCreateCharArray(const char16_t* text, size_t length);
/* A 1-by-count string array. */
ORB_DATA_API void* orbDataCreateStringArray(const char16_t* const* texts, const size_t* lengths, size_t count);
ORB_DATA_API void* orbDataCreateCellMatrix(size_t m, size_t n);
/* Field names must be valid and distinct. */
ORB_DATA_API void* orbDataCreateStructMatrix(size_t m, size_t n, const char* const* fields, size_t fieldCount);

/* Cell and struct elements: getters return a new reference in `*value` (null for an empty
 * element); setters keep their own reference to `value` (null empties the element). */
ORB_DATA_API int orbDataGetCell(const void* cell, size_t index, void** value);
ORB_DATA_API int orbDataSetCell(void* cell, size_t index, void* value);
ORB_DATA_API size_t orbDataGetNumberOfFields(const void* structArray);
ORB_DATA_API const char* orbDataGetFieldName(const void* structArray, size_t field);
ORB_DATA_API int orbDataGetField(const void* structArray, size_t index, const char* field, void** value);
ORB_DATA_API int orbDataSetField(void* structArray, size_t index, const char* field, void* value);

#ifdef __cplusplus
}
#endif

#endif
