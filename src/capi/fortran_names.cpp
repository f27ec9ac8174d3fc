// The Fortran entries of the services: each converts Fortran arguments (addresses, blank-padded
// texts with hidden lengths) and calls the C service. Every name of an entry is an alias of one
// function, so a module reaches the same code whichever spelling its compiler produced.
#include "capi/fortran_names.hpp"

#include <algorithm>
#include <cctype>

#include <orb.h>

#include "host/ry.hpp"
#include "host/ut.hpp"

namespace orb::capi {
namespace {

std::size_t lengthOf(FortranLength length) { return length > 0 ? static_cast<std::size_t>(length) : 0; }

// A function, workspace or variable name in a buffer on the stack.
struct FortranName {
    FortranName(const char* text, FortranLength length) {
        host::utF2cstr(text, lengthOf(length), buffer, sizeof buffer, 0);
    }
    void toLower() {
        for (char* c = buffer; *c; ++c) *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    char buffer[kFortranNameCapacity];
};

// Text to evaluate.
struct FortranEvalText {
    FortranEvalText(const char* text, FortranLength length) {
        host::utF2cstr(text, lengthOf(length), buffer, sizeof buffer, 1);
    }
    char buffer[kFortranEvalCapacity];
};

// A message, identifier or printed text in a block of length + 1 bytes from the current call's
// allocations: the error services do not return, so their blocks are released with the call.
// Null when the block cannot be had.
char* fortranTextBlock(const char* text, FortranLength length) {
    const std::size_t capacity = lengthOf(length) + 1;
    auto* block = static_cast<char*>(host::ryCalloc(1, capacity));
    if (block) host::utF2cstr(text, lengthOf(length), block, capacity, 1);
    return block;
}

const char* fortranMessage(const char* text, FortranLength length) {
    const char* block = fortranTextBlock(text, length);
    return block ? block : "";
}

}  // namespace

void formatWithoutArguments(char* text) noexcept {
    char* out = text;
    for (const char* in = text; *in; ++in) {
        *out++ = *in;
        if (in[0] == '%' && in[1] == '%') ++in;
    }
    *out = '\0';
}

namespace {

ryArray* arrayAt(const FortranHandle* address) { return reinterpret_cast<ryArray*>(*address); }

// The output list is the module's only when it asked for outputs.
ryArray** outputList(const int* nlhs, ryArray** plhs) { return *nlhs == 0 ? nullptr : plhs; }

}  // namespace
}  // namespace orb::capi

using orb::capi::arrayAt;
using orb::capi::FortranEvalText;
using orb::capi::fortranMessage;
using orb::capi::fortranTextBlock;
using orb::capi::FortranName;
using orb::capi::outputList;

extern "C" {

ORB_API int ORBATEXIT(void (*exitFunction)(void)) { return orbAtExit(exitFunction); }

ORB_API int ORBCALLVELTRA(const int* nlhs, ryArray** plhs, const int* nrhs, ryArray** prhs, const char* name,
                          FortranLength nameLength) {
    FortranName function(name, nameLength);
    return orbCallVELTRA(*nlhs, outputList(nlhs, plhs), *nrhs, prhs, function.buffer);
}

ORB_API int ORBCALLVELTRA800(const int* nlhs, ryArray** plhs, const int* nrhs, ryArray** prhs, const char* name,
                             FortranLength nameLength) {
    FortranName function(name, nameLength);
    return orbCallVELTRA_800(*nlhs, outputList(nlhs, plhs), *nrhs, prhs, function.buffer);
}

ORB_API ryArray* ORBCALLVELTRAWITHTRAP(const int* nlhs, ryArray** plhs, const int* nrhs, ryArray** prhs,
                                       const char* name, FortranLength nameLength) {
    FortranName function(name, nameLength);
    return orbCallVELTRAWithTrap(*nlhs, outputList(nlhs, plhs), *nrhs, prhs, function.buffer);
}

ORB_API ryArray* ORBCALLVELTRAWITHTRAP800(const int* nlhs, ryArray** plhs, const int* nrhs, ryArray** prhs,
                                          const char* name, FortranLength nameLength) {
    FortranName function(name, nameLength);
    return orbCallVELTRAWithTrap_800(*nlhs, outputList(nlhs, plhs), *nrhs, prhs, function.buffer);
}

ORB_API void ORBERRMSGIDANDTXT(const char* identifier, const char* message, FortranLength identifierLength,
                               FortranLength messageLength) {
    const char* text = fortranMessage(message, messageLength);
    const char* id = fortranMessage(identifier, identifierLength);
    orbErrMsgIdAndTxt(id, "%s", text);
}

ORB_API void ORBERRMSGTXT(const char* message, FortranLength messageLength) {
    orbErrMsgTxt(fortranMessage(message, messageLength));
}

ORB_API void ORBWARNMSGIDANDTXT(const char* identifier, const char* message, FortranLength identifierLength,
                                FortranLength messageLength) {
    const char* text = fortranMessage(message, messageLength);
    const char* id = fortranMessage(identifier, identifierLength);
    orbWarnMsgIdAndTxt(id, "%s", text);
}

ORB_API void ORBWARNMSGTXT(const char* message, FortranLength messageLength) {
    orbWarnMsgTxt(fortranMessage(message, messageLength));
}

ORB_API int ORBEVALSTRING(const char* text, FortranLength textLength) {
    FortranEvalText statements(text, textLength);
    return orbEvalString(statements.buffer);
}

ORB_API int ORBEVALSTRING800(const char* text, FortranLength textLength) {
    FortranEvalText statements(text, textLength);
    return orbEvalString_800(statements.buffer);
}

ORB_API ryArray* ORBEVALSTRINGWITHTRAP(const char* text, FortranLength textLength) {
    FortranEvalText statements(text, textLength);
    return orbEvalStringWithTrap(statements.buffer);
}

ORB_API ryArray* ORBEVALSTRINGWITHTRAP800(const char* text, FortranLength textLength) {
    FortranEvalText statements(text, textLength);
    return orbEvalStringWithTrap_800(statements.buffer);
}

ORB_API void ORBFUNCTIONNAME(char* result, FortranLength resultLength) {
    host::utC2fstr(orbFunctionName(), result, orb::capi::lengthOf(resultLength));
}

ORB_API ryArray* ORBGETVARIABLE(const char* workspace, const char* name, FortranLength workspaceLength,
                                FortranLength nameLength) {
    FortranName space(workspace, workspaceLength);
    FortranName variable(name, nameLength);
    space.toLower();
    return orbGetVariable(space.buffer, variable.buffer);
}

ORB_API ryArray* ORBGETVARIABLE800(const char* workspace, const char* name, FortranLength workspaceLength,
                                   FortranLength nameLength) {
    FortranName space(workspace, workspaceLength);
    FortranName variable(name, nameLength);
    space.toLower();
    return orbGetVariable_800(space.buffer, variable.buffer);
}

ORB_API const ryArray* ORBGETVARIABLEPTR(const char* workspace, const char* name, FortranLength workspaceLength,
                                         FortranLength nameLength) {
    FortranName space(workspace, workspaceLength);
    FortranName variable(name, nameLength);
    space.toLower();
    return orbGetVariablePtr(space.buffer, variable.buffer);
}

ORB_API const ryArray* ORBGETVARIABLEPTR800(const char* workspace, const char* name,
                                            FortranLength workspaceLength, FortranLength nameLength) {
    FortranName space(workspace, workspaceLength);
    FortranName variable(name, nameLength);
    space.toLower();
    return orbGetVariablePtr_800(space.buffer, variable.buffer);
}

ORB_API int ORBPUTVARIABLE(const char* workspace, const char* name, const FortranHandle* value,
                           FortranLength workspaceLength, FortranLength nameLength) {
    FortranName space(workspace, workspaceLength);
    FortranName variable(name, nameLength);
    space.toLower();
    return orbPutVariable(space.buffer, variable.buffer, arrayAt(value));
}

ORB_API int ORBPUTVARIABLE800(const char* workspace, const char* name, const FortranHandle* value,
                              FortranLength workspaceLength, FortranLength nameLength) {
    FortranName space(workspace, workspaceLength);
    FortranName variable(name, nameLength);
    space.toLower();
    return orbPutVariable_800(space.buffer, variable.buffer, arrayAt(value));
}

// Unlike orbIsGlobal, which cannot tell, this reads the array's variable scope.
ORB_API int ORBISGLOBAL(const FortranHandle* array) {
    const ryArray* value = arrayAt(array);
    return value && host::ryGetArrayScope(value) == ryGLOBAL_SCOPE ? 1 : 0;
}

ORB_API int ORBISLOCKED(void) { return orbIsLocked() ? 1 : 0; }

ORB_API void ORBLOCK(void) { orbLock(); }

ORB_API void ORBUNLOCK(void) { orbUnlock(); }

ORB_API void ORBMAKEARRAYPERSISTENT(const FortranHandle* array) { orbMakeArrayPersistent(arrayAt(array)); }

ORB_API void ORBMAKEMEMORYPERSISTENT(const FortranHandle* memory) {
    orbMakeMemoryPersistent(reinterpret_cast<void*>(*memory));
}

// The Fortran text is the format, with no arguments: "%%" prints one percent sign. A directive
// that would take an argument is printed as written, since a Fortran caller has none to give.
ORB_API int ORBPRINTF(const char* text, FortranLength textLength) {
    char* converted = fortranTextBlock(text, textLength);
    if (converted) orb::capi::formatWithoutArguments(converted);
    const int printed = orbPrintf("%s", converted ? converted : "");
    host::ryFree(converted);
    return printed;
}

ORB_API void ORBSETTRAPFLAG(const int* flag) { orbSetTrapFlag(*flag); }

// Further names of each entry.
ORB_API int ORBATEXIT800(void (*)(void)) ORB_ALIAS(ORBATEXIT);
ORB_API int orbatexit_(void (*)(void)) ORB_ALIAS(ORBATEXIT);
ORB_API int orbatexit700_(void (*)(void)) ORB_ALIAS(ORBATEXIT);
ORB_API int orbatexit730_(void (*)(void)) ORB_ALIAS(ORBATEXIT);
ORB_API int orbatexit800_(void (*)(void)) ORB_ALIAS(ORBATEXIT);

ORB_API int orbcallveltra_(const int*, ryArray**, const int*, ryArray**, const char*, FortranLength)
    ORB_ALIAS(ORBCALLVELTRA);
ORB_API int orbcallveltra800_(const int*, ryArray**, const int*, ryArray**, const char*, FortranLength)
    ORB_ALIAS(ORBCALLVELTRA800);
ORB_API ryArray* orbcallveltrawithtrap_(const int*, ryArray**, const int*, ryArray**, const char*, FortranLength)
    ORB_ALIAS(ORBCALLVELTRAWITHTRAP);
ORB_API ryArray* orbcallveltrawithtrap800_(const int*, ryArray**, const int*, ryArray**, const char*,
                                           FortranLength) ORB_ALIAS(ORBCALLVELTRAWITHTRAP800);

ORB_API void ORBERRMSGIDANDTXT800(const char*, const char*, FortranLength, FortranLength)
    ORB_ALIAS(ORBERRMSGIDANDTXT);
ORB_API void orberrmsgidandtxt_(const char*, const char*, FortranLength, FortranLength) ORB_ALIAS(ORBERRMSGIDANDTXT);
ORB_API void orberrmsgidandtxt700_(const char*, const char*, FortranLength, FortranLength)
    ORB_ALIAS(ORBERRMSGIDANDTXT);
ORB_API void orberrmsgidandtxt730_(const char*, const char*, FortranLength, FortranLength)
    ORB_ALIAS(ORBERRMSGIDANDTXT);
ORB_API void orberrmsgidandtxt800_(const char*, const char*, FortranLength, FortranLength)
    ORB_ALIAS(ORBERRMSGIDANDTXT);

ORB_API void ORBERRMSGTXT800(const char*, FortranLength) ORB_ALIAS(ORBERRMSGTXT);
ORB_API void orberrmsgtxt_(const char*, FortranLength) ORB_ALIAS(ORBERRMSGTXT);
ORB_API void orberrmsgtxt700_(const char*, FortranLength) ORB_ALIAS(ORBERRMSGTXT);
ORB_API void orberrmsgtxt730_(const char*, FortranLength) ORB_ALIAS(ORBERRMSGTXT);
ORB_API void orberrmsgtxt800_(const char*, FortranLength) ORB_ALIAS(ORBERRMSGTXT);

ORB_API int orbevalstring_(const char*, FortranLength) ORB_ALIAS(ORBEVALSTRING);
ORB_API int orbevalstring800_(const char*, FortranLength) ORB_ALIAS(ORBEVALSTRING800);
ORB_API ryArray* orbevalstringwithtrap_(const char*, FortranLength) ORB_ALIAS(ORBEVALSTRINGWITHTRAP);
ORB_API ryArray* orbevalstringwithtrap800_(const char*, FortranLength) ORB_ALIAS(ORBEVALSTRINGWITHTRAP800);

ORB_API void ORBFUNCTIONNAME800(char*, FortranLength) ORB_ALIAS(ORBFUNCTIONNAME);
ORB_API void orbfunctionname_(char*, FortranLength) ORB_ALIAS(ORBFUNCTIONNAME);
ORB_API void orbfunctionname700_(char*, FortranLength) ORB_ALIAS(ORBFUNCTIONNAME);
ORB_API void orbfunctionname730_(char*, FortranLength) ORB_ALIAS(ORBFUNCTIONNAME);
ORB_API void orbfunctionname800_(char*, FortranLength) ORB_ALIAS(ORBFUNCTIONNAME);

ORB_API ryArray* orbgetvariable_(const char*, const char*, FortranLength, FortranLength) ORB_ALIAS(ORBGETVARIABLE);
ORB_API ryArray* orbgetvariable800_(const char*, const char*, FortranLength, FortranLength)
    ORB_ALIAS(ORBGETVARIABLE800);
ORB_API const ryArray* orbgetvariableptr_(const char*, const char*, FortranLength, FortranLength)
    ORB_ALIAS(ORBGETVARIABLEPTR);
ORB_API const ryArray* orbgetvariableptr800_(const char*, const char*, FortranLength, FortranLength)
    ORB_ALIAS(ORBGETVARIABLEPTR800);
ORB_API int orbputvariable_(const char*, const char*, const FortranHandle*, FortranLength, FortranLength)
    ORB_ALIAS(ORBPUTVARIABLE);
ORB_API int orbputvariable800_(const char*, const char*, const FortranHandle*, FortranLength, FortranLength)
    ORB_ALIAS(ORBPUTVARIABLE800);

ORB_API int ORBISGLOBAL800(const FortranHandle*) ORB_ALIAS(ORBISGLOBAL);
ORB_API int orbisglobal_(const FortranHandle*) ORB_ALIAS(ORBISGLOBAL);
ORB_API int orbisglobal700_(const FortranHandle*) ORB_ALIAS(ORBISGLOBAL);
ORB_API int orbisglobal730_(const FortranHandle*) ORB_ALIAS(ORBISGLOBAL);
ORB_API int orbisglobal800_(const FortranHandle*) ORB_ALIAS(ORBISGLOBAL);

ORB_API int ORBISLOCKED800(void) ORB_ALIAS(ORBISLOCKED);
ORB_API int orbislocked_(void) ORB_ALIAS(ORBISLOCKED);
ORB_API int orbislocked700_(void) ORB_ALIAS(ORBISLOCKED);
ORB_API int orbislocked730_(void) ORB_ALIAS(ORBISLOCKED);
ORB_API int orbislocked800_(void) ORB_ALIAS(ORBISLOCKED);

ORB_API void ORBLOCK800(void) ORB_ALIAS(ORBLOCK);
ORB_API void orblock_(void) ORB_ALIAS(ORBLOCK);
ORB_API void orblock700_(void) ORB_ALIAS(ORBLOCK);
ORB_API void orblock730_(void) ORB_ALIAS(ORBLOCK);
ORB_API void orblock800_(void) ORB_ALIAS(ORBLOCK);

ORB_API void ORBUNLOCK800(void) ORB_ALIAS(ORBUNLOCK);
ORB_API void orbunlock_(void) ORB_ALIAS(ORBUNLOCK);
ORB_API void orbunlock700_(void) ORB_ALIAS(ORBUNLOCK);
ORB_API void orbunlock730_(void) ORB_ALIAS(ORBUNLOCK);
ORB_API void orbunlock800_(void) ORB_ALIAS(ORBUNLOCK);

ORB_API void ORBMAKEARRAYPERSISTENT800(const FortranHandle*) ORB_ALIAS(ORBMAKEARRAYPERSISTENT);
ORB_API void orbmakearraypersistent_(const FortranHandle*) ORB_ALIAS(ORBMAKEARRAYPERSISTENT);
ORB_API void orbmakearraypersistent700_(const FortranHandle*) ORB_ALIAS(ORBMAKEARRAYPERSISTENT);
ORB_API void orbmakearraypersistent730_(const FortranHandle*) ORB_ALIAS(ORBMAKEARRAYPERSISTENT);
ORB_API void orbmakearraypersistent800_(const FortranHandle*) ORB_ALIAS(ORBMAKEARRAYPERSISTENT);

ORB_API void ORBMAKEMEMORYPERSISTENT800(const FortranHandle*) ORB_ALIAS(ORBMAKEMEMORYPERSISTENT);
ORB_API void orbmakememorypersistent_(const FortranHandle*) ORB_ALIAS(ORBMAKEMEMORYPERSISTENT);
ORB_API void orbmakememorypersistent700_(const FortranHandle*) ORB_ALIAS(ORBMAKEMEMORYPERSISTENT);
ORB_API void orbmakememorypersistent730_(const FortranHandle*) ORB_ALIAS(ORBMAKEMEMORYPERSISTENT);
ORB_API void orbmakememorypersistent800_(const FortranHandle*) ORB_ALIAS(ORBMAKEMEMORYPERSISTENT);

ORB_API int ORBPRINTF800(const char*, FortranLength) ORB_ALIAS(ORBPRINTF);
ORB_API int orbprintf_(const char*, FortranLength) ORB_ALIAS(ORBPRINTF);
ORB_API int orbprintf700_(const char*, FortranLength) ORB_ALIAS(ORBPRINTF);
ORB_API int orbprintf730_(const char*, FortranLength) ORB_ALIAS(ORBPRINTF);
ORB_API int orbprintf800_(const char*, FortranLength) ORB_ALIAS(ORBPRINTF);

ORB_API void orbsettrapflag_(const int*) ORB_ALIAS(ORBSETTRAPFLAG);

ORB_API void ORBWARNMSGIDANDTXT800(const char*, const char*, FortranLength, FortranLength)
    ORB_ALIAS(ORBWARNMSGIDANDTXT);
ORB_API void orbwarnmsgidandtxt_(const char*, const char*, FortranLength, FortranLength)
    ORB_ALIAS(ORBWARNMSGIDANDTXT);
ORB_API void orbwarnmsgidandtxt700_(const char*, const char*, FortranLength, FortranLength)
    ORB_ALIAS(ORBWARNMSGIDANDTXT);
ORB_API void orbwarnmsgidandtxt730_(const char*, const char*, FortranLength, FortranLength)
    ORB_ALIAS(ORBWARNMSGIDANDTXT);
ORB_API void orbwarnmsgidandtxt800_(const char*, const char*, FortranLength, FortranLength)
    ORB_ALIAS(ORBWARNMSGIDANDTXT);

ORB_API void ORBWARNMSGTXT800(const char*, FortranLength) ORB_ALIAS(ORBWARNMSGTXT);
ORB_API void orbwarnmsgtxt_(const char*, FortranLength) ORB_ALIAS(ORBWARNMSGTXT);
ORB_API void orbwarnmsgtxt700_(const char*, FortranLength) ORB_ALIAS(ORBWARNMSGTXT);
ORB_API void orbwarnmsgtxt730_(const char*, FortranLength) ORB_ALIAS(ORBWARNMSGTXT);
ORB_API void orbwarnmsgtxt800_(const char*, FortranLength) ORB_ALIAS(ORBWARNMSGTXT);

}  // extern "C"
