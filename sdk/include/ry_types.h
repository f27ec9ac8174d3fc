/* Types of the host array interface shared by modules, the runtime and the host.
 * An ryArray is opaque: modules and the runtime only pass handles and ask the host about them. */
#ifndef RY_TYPES_H
#define RY_TYPES_H

#include <stddef.h>
#include <stdint.h>
#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ryArray_tag ryArray;

/* Array classes. The numbering is the host's; modules pass the values through unchanged. */
typedef enum {
    ryUNKNOWN_CLASS = 0,
    ryCELL_CLASS,
    rySTRUCT_CLASS,
    ryLOGICAL_CLASS,
    ryCHAR_CLASS,
    ryVOID_CLASS,
    ryDOUBLE_CLASS,
    rySINGLE_CLASS,
    ryINT8_CLASS,
    ryUINT8_CLASS,
    ryINT16_CLASS,
    ryUINT16_CLASS,
    ryINT32_CLASS,
    ryUINT32_CLASS,
    ryINT64_CLASS,
    ryUINT64_CLASS,
    ryFUNCTION_CLASS,
    ryOBJECT_CLASS
} ryClassID;

typedef enum { ryREAL = 0, ryCOMPLEX = 1 } ryComplexity;

/* Variable scope of an array: persistent arrays survive the call that made them; global arrays
 * are the values of global variables. The numbering is fixed: the runtime makes an array
 * persistent with scope 0 and recognises global variables by scope 2. */
typedef enum { ryPERSISTENT_SCOPE = 0, ryTEMPORARY_SCOPE = 1, ryGLOBAL_SCOPE = 2 } ryScope;

typedef size_t rySize;      /* dimension and element counts (64-bit interfaces) */
typedef size_t ryIndex;
typedef int ryCompatSize;   /* dimension counts of the 32-bit compatibility interface */
typedef bool ryLogical;
typedef uint16_t ryChar;    /* one UTF-16 code unit */

/* Interleaved complex element types of the newest interface. */
typedef struct { double real, imag; } ryComplexDouble;
typedef struct { float real, imag; } ryComplexSingle;

#ifdef __cplusplus
}
#endif
#endif
