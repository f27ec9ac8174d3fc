// ry.h: data access in both complex layouts. Every pointer handed out may be written through,
// so each getter detaches shared data and makes the layout it hands out the primary one.
#include <string>

#include "vhost/ry/capi.hpp"
#include "vhost/ry/class_info.hpp"
#include "vhost/ry/memory.hpp"
#include "vhost/ry/raise.hpp"

using namespace vhost::ry;
using namespace vhost::ry::capi;

namespace {

enum class Part { Real, Imag, Interleaved };

// The data pointer of `part`, or null for arrays without data (cells, structs, objects, empty
// arrays) and for the imaginary part of real data.
void* writablePart(const ryArray* array, Part part, const char* function) {
    ryArray* a = need(array, function);
    if (a->numberOfElements() == 0 || !a->numeric()) return nullptr;
    NumericData* data = a->writableNumeric();
    switch (part) {
        case Part::Real: return data->real(Access::Write);
        case Part::Imag: return data->imag(Access::Write);
        case Part::Interleaved: return data->interleaved(Access::Write);
    }
    return nullptr;
}

NumericData& dataToReplace(ryArray* array, const char* function) {
    NumericData* data = need(array, function)->writableNumeric();
    if (!data) raise("notDataClass", {std::string(function), array->className()});
    return *data;
}

void replacePart(ryArray* array, void* block, Part part, const char* function) {
    NumericData& data = dataToReplace(array, function);
    const std::size_t partBytes = data.count() * data.elementSize();
    switch (part) {
        case Part::Real:
            data.adoptReal(adoptCallerBlock(block, partBytes));
            return;
        case Part::Imag:
            if (!block) return data.makeReal();
            if (!isNumericClass(array->classId())) raise("complexNotAllowed", {array->className()});
            data.adoptImag(adoptCallerBlock(block, partBytes));
            return;
        case Part::Interleaved:
            data.adoptInterleaved(adoptCallerBlock(block, data.isComplex() ? 2 * partBytes : partBytes));
            return;
    }
}

// One pass over the array: every typed accessor of every module call comes through here.
[[gnu::always_inline]] inline void* typedPart(const ryArray* array, ryClassID classId, bool complex, const char* function) {
    if (!array) [[unlikely]]
        return nullArrayOf<void*>(function);
    auto* a = const_cast<ryArray*>(array);
    if (a->classId() != classId) return nullptr;
    const NumericData* data = a->numeric();
    if (!data || data->isComplex() != complex || a->numberOfElements() == 0) return nullptr;
    // Data no other array shares is written in place: its record is the one just read. A plain
    // array's record is never shared, which is one byte to test.
    if (a->plain() || data->heldByOneReference()) [[likely]]
        return complex ? data->interleaved(Access::Write) : data->realOnly();
    NumericData* writable = a->writableNumeric();
    return complex ? writable->interleaved(Access::Write) : writable->realOnly();
}

int replaceTyped(ryArray* array, void* block, ryClassID classId, bool complex, const char* function) {
    need(array, function);
    if (array->classId() != classId || array->isComplex() != complex) return 0;
    replacePart(array, block, complex ? Part::Interleaved : Part::Real, function);
    return 1;
}

void requireReal(const ryArray* array, const char* function) {
    if (need(array, function)->isComplex()) raise("interleavedRealOnly", {std::string(function)});
}

template <class T>
double firstAsDouble(const void* data) {
    return static_cast<double>(*static_cast<const T*>(data));
}

// ryGetScalar of anything but real double data.
[[gnu::noinline]] double firstElementAsDouble(const ryArray* array, const NumericData* data);

}  // namespace

extern "C" {

double* ryGetPr_700(const ryArray* array) { return static_cast<double*>(writablePart(array, Part::Real, "ryGetPr")); }
double* ryGetPr_730(const ryArray* array) { return static_cast<double*>(writablePart(array, Part::Real, "ryGetPr")); }
void* ryGetData_700(const ryArray* array) { return writablePart(array, Part::Real, "ryGetData"); }
void* ryGetData_730(const ryArray* array) { return writablePart(array, Part::Real, "ryGetData"); }
double* ryGetPi_700(const ryArray* array) { return static_cast<double*>(writablePart(array, Part::Imag, "ryGetPi")); }
double* ryGetPi_730(const ryArray* array) { return static_cast<double*>(writablePart(array, Part::Imag, "ryGetPi")); }
void* ryGetImagData_700(const ryArray* array) { return writablePart(array, Part::Imag, "ryGetImagData"); }
void* ryGetImagData_730(const ryArray* array) { return writablePart(array, Part::Imag, "ryGetImagData"); }

void rySetPr_700(ryArray* array, double* data) { replacePart(array, data, Part::Real, "rySetPr"); }
void rySetPr_730(ryArray* array, double* data) { replacePart(array, data, Part::Real, "rySetPr"); }
void rySetData_700(ryArray* array, void* data) { replacePart(array, data, Part::Real, "rySetData"); }
void rySetData_730(ryArray* array, void* data) { replacePart(array, data, Part::Real, "rySetData"); }
void rySetPi_700(ryArray* array, double* data) { replacePart(array, data, Part::Imag, "rySetPi"); }
void rySetPi_730(ryArray* array, double* data) { replacePart(array, data, Part::Imag, "rySetPi"); }
void rySetImagData_700(ryArray* array, void* data) { replacePart(array, data, Part::Imag, "rySetImagData"); }
void rySetImagData_730(ryArray* array, void* data) { replacePart(array, data, Part::Imag, "rySetImagData"); }

double* ryGetPr_800(const ryArray* array) {
    requireReal(array, "ryGetPr");
    return static_cast<double*>(writablePart(array, Part::Interleaved, "ryGetPr"));
}
void rySetPr_800(ryArray* array, double* data) {
    requireReal(array, "rySetPr");
    replacePart(array, data, Part::Real, "rySetPr");
}
void* ryGetData_800(const ryArray* array) { return writablePart(array, Part::Interleaved, "ryGetData"); }
void rySetData_800(ryArray* array, void* data) { replacePart(array, data, Part::Interleaved, "rySetData"); }

double* ryGetDoubles_800(const ryArray* a) { return static_cast<double*>(typedPart(a, ryDOUBLE_CLASS, false, "ryGetDoubles")); }
float* ryGetSingles_800(const ryArray* a) { return static_cast<float*>(typedPart(a, rySINGLE_CLASS, false, "ryGetSingles")); }
int8_t* ryGetInt8s_800(const ryArray* a) { return static_cast<int8_t*>(typedPart(a, ryINT8_CLASS, false, "ryGetInt8s")); }
uint8_t* ryGetUint8s_800(const ryArray* a) { return static_cast<uint8_t*>(typedPart(a, ryUINT8_CLASS, false, "ryGetUint8s")); }
int16_t* ryGetInt16s_800(const ryArray* a) { return static_cast<int16_t*>(typedPart(a, ryINT16_CLASS, false, "ryGetInt16s")); }
uint16_t* ryGetUint16s_800(const ryArray* a) {
    return static_cast<uint16_t*>(typedPart(a, ryUINT16_CLASS, false, "ryGetUint16s"));
}
int32_t* ryGetInt32s_800(const ryArray* a) { return static_cast<int32_t*>(typedPart(a, ryINT32_CLASS, false, "ryGetInt32s")); }
uint32_t* ryGetUint32s_800(const ryArray* a) {
    return static_cast<uint32_t*>(typedPart(a, ryUINT32_CLASS, false, "ryGetUint32s"));
}
int64_t* ryGetInt64s_800(const ryArray* a) { return static_cast<int64_t*>(typedPart(a, ryINT64_CLASS, false, "ryGetInt64s")); }
uint64_t* ryGetUint64s_800(const ryArray* a) {
    return static_cast<uint64_t*>(typedPart(a, ryUINT64_CLASS, false, "ryGetUint64s"));
}
ryComplexDouble* ryGetComplexDoubles_800(const ryArray* a) {
    return static_cast<ryComplexDouble*>(typedPart(a, ryDOUBLE_CLASS, true, "ryGetComplexDoubles"));
}
ryComplexSingle* ryGetComplexSingles_800(const ryArray* a) {
    return static_cast<ryComplexSingle*>(typedPart(a, rySINGLE_CLASS, true, "ryGetComplexSingles"));
}

int rySetDoubles_800(ryArray* a, double* data) { return replaceTyped(a, data, ryDOUBLE_CLASS, false, "rySetDoubles"); }
int rySetSingles_800(ryArray* a, float* data) { return replaceTyped(a, data, rySINGLE_CLASS, false, "rySetSingles"); }
int rySetComplexDoubles_800(ryArray* a, ryComplexDouble* data) {
    return replaceTyped(a, data, ryDOUBLE_CLASS, true, "rySetComplexDoubles");
}
int rySetComplexSingles_800(ryArray* a, ryComplexSingle* data) {
    return replaceTyped(a, data, rySINGLE_CLASS, true, "rySetComplexSingles");
}

int ryMakeArrayComplex_800(ryArray* array) {
    if (!isNumericClass(need(array, "ryMakeArrayComplex")->classId())) return 0;
    array->writableNumeric()->makeComplex(Layout::Interleaved);
    return 1;
}

int ryMakeArrayReal_800(ryArray* array) {
    if (!isNumericClass(need(array, "ryMakeArrayReal")->classId())) return 0;
    array->writableNumeric()->makeReal();
    return 1;
}

ryLogical* ryGetLogicals(const ryArray* array) {
    if (need(array, "ryGetLogicals")->classId() != ryLOGICAL_CLASS) return nullptr;
    return static_cast<ryLogical*>(writablePart(array, Part::Real, "ryGetLogicals"));
}

ryChar* ryGetChars(const ryArray* array) {
    if (need(array, "ryGetChars")->classId() != ryCHAR_CLASS) return nullptr;
    return static_cast<ryChar*>(writablePart(array, Part::Real, "ryGetChars"));
}

double ryGetScalar(const ryArray* array) {
    if (!array) [[unlikely]]
        return nullArrayOf<double>("ryGetScalar");
    const NumericData* data = array->numeric();
    if (!data || array->numberOfElements() == 0) return 0.0;
    // Real double data first, which nearly every caller reads: its one buffer, no layout to pick.
    // The other classes are a jump away, so that this path saves no registers.
    if (array->classId() == ryDOUBLE_CLASS && !data->isComplex()) [[likely]]
        return *static_cast<const double*>(data->realOnly());
    return firstElementAsDouble(array, data);
}

}  // extern "C"

namespace {

double firstElementAsDouble(const ryArray* array, const NumericData* data) {
    const void* first = data->real(Access::Read);
    switch (array->classId()) {
        case ryDOUBLE_CLASS: return firstAsDouble<double>(first);
        case rySINGLE_CLASS: return firstAsDouble<float>(first);
        case ryINT8_CLASS: return firstAsDouble<int8_t>(first);
        case ryUINT8_CLASS: return firstAsDouble<uint8_t>(first);
        case ryINT16_CLASS: return firstAsDouble<int16_t>(first);
        case ryUINT16_CLASS: return firstAsDouble<uint16_t>(first);
        case ryINT32_CLASS: return firstAsDouble<int32_t>(first);
        case ryUINT32_CLASS: return firstAsDouble<uint32_t>(first);
        case ryINT64_CLASS: return firstAsDouble<int64_t>(first);
        case ryUINT64_CLASS: return firstAsDouble<uint64_t>(first);
        case ryLOGICAL_CLASS: return firstAsDouble<ryLogical>(first);
        case ryCHAR_CLASS: return firstAsDouble<ryChar>(first);
        default: return 0.0;
    }
}

}  // namespace
