// The services as Fortran code calls them.
//
// Fortran passes every argument by address and each character argument as an address plus a
// hidden length, passed by value after all regular arguments, in the order of the character
// arguments. Counts and flags are default (32-bit) integers; array handles and memory pointers
// are held in 64-bit integers, so the entries read them through the address they are given.
// Character texts are blank padded and carry no terminator.
//
// Each entry below is exported under several names: the upper-case name declared here, the
// lower-case name with a trailing underscore (how Fortran compilers on this platform name
// external procedures), and for most entries release-tagged spellings ("orbprintf700_",
// "orbprintf730_", "orbprintf800_", "ORBPRINTF800"). Entries that behave differently for the
// interleaved-complex interface have a separate "800" entry instead (ORBCALLVELTRA800, ...).
//
// Texts are converted with host::utF2cstr into buffers of fixed capacity: function, workspace
// and variable names into 64 bytes (name conversion, flag 0), text to evaluate into 4097 bytes,
// messages, identifiers and printed text into a block of length + 1 bytes (text conversion,
// flag 1). Longer Fortran texts are cut at the capacity.
#pragma once

#include <cstddef>
#include <cstdint>

#include <ry_types.h>

#include "platform/export.hpp"

// The hidden length of a character argument.
using FortranLength = int;
// An array handle or memory pointer as Fortran holds it.
using FortranHandle = std::int64_t;

// Capacities of the conversion buffers.
inline constexpr std::size_t kFortranNameCapacity = 64;
inline constexpr std::size_t kFortranEvalCapacity = 4097;

namespace orb::capi {
// Printed text as a format given no arguments, in place: each "%%" becomes one '%'.
void formatWithoutArguments(char* text) noexcept;
}  // namespace orb::capi

extern "C" {

ORB_API int ORBATEXIT(void (*exitFunction)(void));

ORB_API int ORBCALLVELTRA(const int* nlhs, ryArray** plhs, const int* nrhs, ryArray** prhs, const char* name,
                          FortranLength nameLength);
ORB_API int ORBCALLVELTRA800(const int* nlhs, ryArray** plhs, const int* nrhs, ryArray** prhs, const char* name,
                             FortranLength nameLength);
ORB_API ryArray* ORBCALLVELTRAWITHTRAP(const int* nlhs, ryArray** plhs, const int* nrhs, ryArray** prhs,
                                       const char* name, FortranLength nameLength);
ORB_API ryArray* ORBCALLVELTRAWITHTRAP800(const int* nlhs, ryArray** plhs, const int* nrhs, ryArray** prhs,
                                          const char* name, FortranLength nameLength);

// The message is shown verbatim: it is never a format.
ORB_API void ORBERRMSGIDANDTXT(const char* identifier, const char* message, FortranLength identifierLength,
                               FortranLength messageLength);
ORB_API void ORBERRMSGTXT(const char* message, FortranLength messageLength);
ORB_API void ORBWARNMSGIDANDTXT(const char* identifier, const char* message, FortranLength identifierLength,
                                FortranLength messageLength);
ORB_API void ORBWARNMSGTXT(const char* message, FortranLength messageLength);

ORB_API int ORBEVALSTRING(const char* text, FortranLength textLength);
ORB_API int ORBEVALSTRING800(const char* text, FortranLength textLength);
ORB_API ryArray* ORBEVALSTRINGWITHTRAP(const char* text, FortranLength textLength);
ORB_API ryArray* ORBEVALSTRINGWITHTRAP800(const char* text, FortranLength textLength);

// A character function: the caller passes its result buffer and the buffer's length first.
ORB_API void ORBFUNCTIONNAME(char* result, FortranLength resultLength);

// The workspace name reaches the host in lower case; the variable name keeps its case.
ORB_API ryArray* ORBGETVARIABLE(const char* workspace, const char* name, FortranLength workspaceLength,
                                FortranLength nameLength);
ORB_API ryArray* ORBGETVARIABLE800(const char* workspace, const char* name, FortranLength workspaceLength,
                                   FortranLength nameLength);
ORB_API const ryArray* ORBGETVARIABLEPTR(const char* workspace, const char* name, FortranLength workspaceLength,
                                         FortranLength nameLength);
ORB_API const ryArray* ORBGETVARIABLEPTR800(const char* workspace, const char* name,
                                            FortranLength workspaceLength, FortranLength nameLength);
ORB_API int ORBPUTVARIABLE(const char* workspace, const char* name, const FortranHandle* value,
                           FortranLength workspaceLength, FortranLength nameLength);
ORB_API int ORBPUTVARIABLE800(const char* workspace, const char* name, const FortranHandle* value,
                              FortranLength workspaceLength, FortranLength nameLength);

// 1 when the array is a global variable, else 0.
ORB_API int ORBISGLOBAL(const FortranHandle* array);
ORB_API int ORBISLOCKED(void);
ORB_API void ORBLOCK(void);
ORB_API void ORBUNLOCK(void);
ORB_API void ORBMAKEARRAYPERSISTENT(const FortranHandle* array);
ORB_API void ORBMAKEMEMORYPERSISTENT(const FortranHandle* memory);
// The text is the format, given no arguments: "%%" prints one percent sign, and a directive that
// would need an argument is printed as written. The count printed is returned.
ORB_API int ORBPRINTF(const char* text, FortranLength textLength);
ORB_API void ORBSETTRAPFLAG(const int* flag);

}  // extern "C"
