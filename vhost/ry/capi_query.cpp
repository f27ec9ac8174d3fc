// ry.h: class, shape and predicates.
#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "vhost/ry/capi.hpp"
#include "vhost/ry/class_info.hpp"
#include "vhost/ry/raise.hpp"

using namespace vhost::ry;
using namespace vhost::ry::capi;

namespace {

bool isClass(const ryArray* array, ryClassID id) { return array && array->classId() == id; }

// The class name of an object lives in the array; built-in names are static.
const char* classNameOf(const ryArray* array) {
    if (auto* object = array->object()) return object->className.c_str();
    return builtinClassName(array->classId());
}

template <class Size>
rySize singleSubscript(const ryArray* array, Size nsubs, const Size* subs) {
    need(array, "ryCalcSingleSubscript");
    const auto& dims = array->dims();
    rySize index = 0;
    rySize stride = 1;
    for (Size i = 0; i < nsubs && subs; ++i) {
        const auto k = static_cast<std::size_t>(i);
        index += static_cast<rySize>(subs[i]) * stride;
        stride *= k < dims.size() ? dims[k] : 1;
    }
    return index;
}

}  // namespace

extern "C" {

ryClassID ryGetClassID(const ryArray* array) { return array ? array->classId() : ryUNKNOWN_CLASS; }
const char* ryGetClassName(const ryArray* array) { return array ? classNameOf(array) : "unknown"; }
bool ryIsClass(const ryArray* array, const char* className) {
    return array && className && array->className() == className;
}

rySize ryGetM(const ryArray* array) {
    if (!array) [[unlikely]]
        return nullArrayOf<rySize>("ryGetM");
    return array->dims()[0];
}

rySize ryGetN(const ryArray* array) {
    if (!array) [[unlikely]]
        return nullArrayOf<rySize>("ryGetN");
    const auto& dims = array->dims();
    if (dims.size() == 2) [[likely]]
        return dims[1];
    rySize n = 1;
    for (std::size_t i = 1; i < dims.size(); ++i) n *= dims[i];
    return n;
}

void rySetM(ryArray* array, rySize m) {
    auto dims = need(array, "rySetM")->dims();
    dims[0] = m;
    array->setDimensions(std::move(dims));
}

void rySetN(ryArray* array, rySize n) {
    const rySize m = need(array, "rySetN")->dims()[0];
    array->setDimensions({m, n});
}

rySize ryGetNumberOfElements(const ryArray* array) {
    if (!array) [[unlikely]]
        return nullArrayOf<rySize>("ryGetNumberOfElements");
    return array->numberOfElements();
}
rySize ryGetElementSize(const ryArray* array) { return elementSize(need(array, "ryGetElementSize")->classId()); }

ryCompatSize ryGetNumberOfDimensions_700(const ryArray* array) {
    return static_cast<ryCompatSize>(need(array, "ryGetNumberOfDimensions")->dims().size());
}
rySize ryGetNumberOfDimensions_730(const ryArray* array) { return need(array, "ryGetNumberOfDimensions")->dims().size(); }

const ryCompatSize* ryGetDimensions_700(const ryArray* array) { return need(array, "ryGetDimensions")->compatDims(); }
const rySize* ryGetDimensions_730(const ryArray* array) { return need(array, "ryGetDimensions")->dims().data(); }

int rySetDimensions_700(ryArray* array, const ryCompatSize* dims, ryCompatSize ndim) {
    need(array, "rySetDimensions")->setDimensions(dimensionList(ndim, dims));
    return 0;
}
int rySetDimensions_730(ryArray* array, const rySize* dims, rySize ndim) {
    need(array, "rySetDimensions")->setDimensions(dimensionList(ndim, dims));
    return 0;
}

rySize ryCalcSingleSubscript_700(const ryArray* array, ryCompatSize nsubs, const ryCompatSize* subs) {
    return singleSubscript(array, nsubs, subs);
}
rySize ryCalcSingleSubscript_730(const ryArray* array, rySize nsubs, const rySize* subs) {
    return singleSubscript(array, nsubs, subs);
}

bool ryIsDouble(const ryArray* array) { return isClass(array, ryDOUBLE_CLASS); }
bool ryIsSingle(const ryArray* array) { return isClass(array, rySINGLE_CLASS); }
bool ryIsInt8(const ryArray* array) { return isClass(array, ryINT8_CLASS); }
bool ryIsUint8(const ryArray* array) { return isClass(array, ryUINT8_CLASS); }
bool ryIsInt16(const ryArray* array) { return isClass(array, ryINT16_CLASS); }
bool ryIsUint16(const ryArray* array) { return isClass(array, ryUINT16_CLASS); }
bool ryIsInt32(const ryArray* array) { return isClass(array, ryINT32_CLASS); }
bool ryIsUint32(const ryArray* array) { return isClass(array, ryUINT32_CLASS); }
bool ryIsInt64(const ryArray* array) { return isClass(array, ryINT64_CLASS); }
bool ryIsUint64(const ryArray* array) { return isClass(array, ryUINT64_CLASS); }
bool ryIsLogical(const ryArray* array) { return isClass(array, ryLOGICAL_CLASS); }
bool ryIsChar(const ryArray* array) { return isClass(array, ryCHAR_CLASS); }
bool ryIsCell(const ryArray* array) { return isClass(array, ryCELL_CLASS); }
bool ryIsStruct(const ryArray* array) { return isClass(array, rySTRUCT_CLASS); }
bool ryIsFunctionHandle(const ryArray* array) { return isClass(array, ryFUNCTION_CLASS); }
bool ryIsObject(const ryArray* array) { return isClass(array, ryOBJECT_CLASS); }
bool ryIsNumeric(const ryArray* array) { return array && isNumericClass(array->classId()); }
bool ryIsComplex(const ryArray* array) { return array && array->isComplex(); }
bool ryIsEmpty(const ryArray* array) { return array && array->numberOfElements() == 0; }
bool ryIsScalar(const ryArray* array) { return array && array->numberOfElements() == 1; }

bool ryIsLogicalScalarTrue(const ryArray* array) {
    if (!isClass(array, ryLOGICAL_CLASS) || array->numberOfElements() != 1) return false;
    return *static_cast<const ryLogical*>(array->numeric()->real(Access::Read));
}

double ryGetInf(void) { return std::numeric_limits<double>::infinity(); }
double ryGetNaN(void) { return std::numeric_limits<double>::quiet_NaN(); }
double ryGetEps(void) { return DBL_EPSILON; }
bool ryIsInf(double value) { return std::isinf(value); }
bool ryIsNaN(double value) { return std::isnan(value); }
bool ryIsFinite(double value) { return std::isfinite(value); }

// The 800 generation has the same dimension functions under its own names.
rySize ryGetNumberOfDimensions_800(const ryArray* array) __attribute__((alias("ryGetNumberOfDimensions_730"), visibility("default")));
const rySize* ryGetDimensions_800(const ryArray* array) __attribute__((alias("ryGetDimensions_730"), visibility("default")));
int rySetDimensions_800(ryArray* array, const rySize* dims, rySize ndim) __attribute__((alias("rySetDimensions_730"), visibility("default")));
rySize ryCalcSingleSubscript_800(const ryArray* array, rySize nsubs, const rySize* subs) __attribute__((alias("ryCalcSingleSubscript_730"), visibility("default")));

}  // extern "C"
