// ry.h: creating, copying and destroying arrays.
#include <algorithm>
#include <string>

#include "host/i18n.hpp"
#include "vhost/ry/capi.hpp"
#include "vhost/ry/class_info.hpp"
#include "vhost/ry/lifetime.hpp"
#include "vhost/ry/raise.hpp"

namespace vhost::ry::capi {

ryArray* created(ryArray* array) {
    try {
        track(array);
    } catch (...) {
        destroy(array);
        throw;
    }
    return array;
}

void raiseNullArray(const char* function) { raise("nullArray", {std::string(function)}); }

ryArray* createNumeric(Dims dims, ryClassID classId, ryComplexity complexity, Layout layout,
                       const char* function) {
    if (!isNumericClass(classId)) raise("notNumericClass", {std::string(function), std::string(builtinClassName(classId))});
    return created(newDataArray(std::move(dims), classId, complexity == ryCOMPLEX, layout, true));
}

namespace {

template <class Size>
std::size_t extent(Size d) {
    if constexpr (std::is_signed_v<Size>) return d < 0 ? std::size_t{0} : static_cast<std::size_t>(d);
    else return static_cast<std::size_t>(d);
}

template <class Size>
Dims matrix(Size m, Size n) {
    return Dims(extent(m), extent(n));
}

[[noreturn, gnu::cold, gnu::noinline]] void raiseNotNumeric(const char* function, ryClassID classId) {
    raise("notNumericClass", {std::string(function), std::string(builtinClassName(classId))});
}

// Inline into each factory, so that a factory of one class is one straight path.
template <class Size>
[[gnu::always_inline]] inline ryArray* createNumericMatrix(Size m, Size n, ryClassID classId, ryComplexity complexity,
                                                           Layout layout, const char* function) {
    if (!isNumericClass(classId)) [[unlikely]]
        raiseNotNumeric(function, classId);
    // Real first, with the complexity a constant: its path has no complex branches at all.
    if (complexity != ryCOMPLEX) [[likely]]
        return newTrackedMatrix(extent(m), extent(n), classId, false, layout, true);
    return newTrackedMatrix(extent(m), extent(n), classId, true, layout, true);
}

template <class T>
[[gnu::noinline]] ryArray* newScalarInGeneral(ryClassID classId, T value) {
    void* data = nullptr;
    ryArray* array = newTrackedMatrixInGeneral(1, 1, classId, false, Layout::Separate, false, &data);
    *static_cast<T*>(data) = value;
    return array;
}

// A 1-by-1 array holding `value`. The value is written on each path, so that the usual one
// keeps its data pointer in a register.
template <class T>
[[gnu::always_inline]] inline ryArray* newScalar(ryClassID classId, T value) {
    void* data;
    if (ryArray* array = newSmallRealMatrix(1, 1, classId, false, &data)) [[likely]] {
        *static_cast<T*>(data) = value;
        return array;
    }
    return newScalarInGeneral(classId, value);
}

std::vector<std::string> fieldList(int nfields, const char** names) {
    std::vector<std::string> fields;
    for (int i = 0; i < nfields; ++i) fields.emplace_back(names && names[i] ? names[i] : "");
    return fields;
}

}  // namespace
}  // namespace vhost::ry::capi

using namespace vhost::ry;
using namespace vhost::ry::capi;

extern "C" {

void ryDestroyArray(ryArray* array) { destroyArray(array); }

ryArray* ryDuplicateArray(const ryArray* array) {
    if (!array) return nullptr;
    return created(sharedCopy(array));
}

ryArray* ryCreateDoubleMatrix_700(ryCompatSize m, ryCompatSize n, ryComplexity complexity) {
    return createNumericMatrix(m, n, ryDOUBLE_CLASS, complexity, Layout::Separate, "ryCreateDoubleMatrix");
}
ryArray* ryCreateDoubleMatrix_730(rySize m, rySize n, ryComplexity complexity) {
    return createNumericMatrix(m, n, ryDOUBLE_CLASS, complexity, Layout::Separate, "ryCreateDoubleMatrix");
}
ryArray* ryCreateDoubleMatrix_800(rySize m, rySize n, ryComplexity complexity) {
    return createNumericMatrix(m, n, ryDOUBLE_CLASS, complexity, Layout::Interleaved, "ryCreateDoubleMatrix");
}

ryArray* ryCreateNumericMatrix_700(ryCompatSize m, ryCompatSize n, ryClassID classId, ryComplexity complexity) {
    return createNumericMatrix(m, n, classId, complexity, Layout::Separate, "ryCreateNumericMatrix");
}
ryArray* ryCreateNumericMatrix_730(rySize m, rySize n, ryClassID classId, ryComplexity complexity) {
    return createNumericMatrix(m, n, classId, complexity, Layout::Separate, "ryCreateNumericMatrix");
}
ryArray* ryCreateNumericMatrix_800(rySize m, rySize n, ryClassID classId, ryComplexity complexity) {
    return createNumericMatrix(m, n, classId, complexity, Layout::Interleaved, "ryCreateNumericMatrix");
}

ryArray* ryCreateNumericArray_700(ryCompatSize ndim, const ryCompatSize* dims, ryClassID classId,
                                  ryComplexity complexity) {
    return createNumeric(dimensionList(ndim, dims), classId, complexity, Layout::Separate, "ryCreateNumericArray");
}
ryArray* ryCreateNumericArray_730(rySize ndim, const rySize* dims, ryClassID classId, ryComplexity complexity) {
    return createNumeric(dimensionList(ndim, dims), classId, complexity, Layout::Separate, "ryCreateNumericArray");
}
ryArray* ryCreateNumericArray_800(rySize ndim, const rySize* dims, ryClassID classId, ryComplexity complexity) {
    return createNumeric(dimensionList(ndim, dims), classId, complexity, Layout::Interleaved, "ryCreateNumericArray");
}

ryArray* ryCreateDoubleScalar(double value) { return newScalar<double>(ryDOUBLE_CLASS, value); }

ryArray* ryCreateLogicalScalar(bool value) { return newScalar<ryLogical>(ryLOGICAL_CLASS, value); }

ryArray* ryCreateLogicalMatrix(rySize m, rySize n) {
    return newTrackedMatrix(m, n, ryLOGICAL_CLASS, false, Layout::Separate, true);
}
ryArray* ryCreateLogicalArray_700(ryCompatSize ndim, const ryCompatSize* dims) {
    return created(newDataArray(dimensionList(ndim, dims), ryLOGICAL_CLASS, false, Layout::Separate, true));
}
ryArray* ryCreateLogicalArray_730(rySize ndim, const rySize* dims) {
    return created(newDataArray(dimensionList(ndim, dims), ryLOGICAL_CLASS, false, Layout::Separate, true));
}

ryArray* ryCreateCharArray_700(ryCompatSize ndim, const ryCompatSize* dims) {
    return created(newDataArray(dimensionList(ndim, dims), ryCHAR_CLASS, false, Layout::Separate, true));
}
ryArray* ryCreateCharArray_730(rySize ndim, const rySize* dims) {
    return created(newDataArray(dimensionList(ndim, dims), ryCHAR_CLASS, false, Layout::Separate, true));
}

ryArray* ryCreateString(const char* text) { return created(newCharRow(host::i18n::to_ustring(text ? text : ""))); }

ryArray* ryCreateCharMatrixFromStrings(rySize m, const char** texts) {
    std::vector<std::u16string> rows;
    std::size_t width = 0;
    for (rySize i = 0; i < m; ++i) {
        rows.push_back(host::i18n::to_ustring(texts && texts[i] ? texts[i] : ""));
        width = std::max(width, rows.back().size());
    }
    ryArray* array = created(newDataArray({m, width}, ryCHAR_CLASS, false, Layout::Separate, false));
    auto* chars = static_cast<char16_t*>(array->writableNumeric()->real(Access::Write));
    for (std::size_t r = 0; r < m; ++r)
        for (std::size_t c = 0; c < width; ++c) chars[r + c * m] = c < rows[r].size() ? rows[r][c] : u' ';
    return array;
}

ryArray* ryCreateCellMatrix(rySize m, rySize n) { return created(newCellArray(matrix(m, n))); }
ryArray* ryCreateCellArray_700(ryCompatSize ndim, const ryCompatSize* dims) {
    return created(newCellArray(dimensionList(ndim, dims)));
}
ryArray* ryCreateCellArray_730(rySize ndim, const rySize* dims) { return created(newCellArray(dimensionList(ndim, dims))); }

ryArray* ryCreateStructMatrix(rySize m, rySize n, int nfields, const char** fieldNames) {
    return created(newStructArray(matrix(m, n), fieldList(nfields, fieldNames)));
}
ryArray* ryCreateStructArray_700(ryCompatSize ndim, const ryCompatSize* dims, int nfields, const char** fieldNames) {
    return created(newStructArray(dimensionList(ndim, dims), fieldList(nfields, fieldNames)));
}
ryArray* ryCreateStructArray_730(rySize ndim, const rySize* dims, int nfields, const char** fieldNames) {
    return created(newStructArray(dimensionList(ndim, dims), fieldList(nfields, fieldNames)));
}

// The 800 generation has the same dimension functions under its own names.
ryArray* ryCreateLogicalArray_800(rySize ndim, const rySize* dims) __attribute__((alias("ryCreateLogicalArray_730"), visibility("default")));
ryArray* ryCreateCharArray_800(rySize ndim, const rySize* dims) __attribute__((alias("ryCreateCharArray_730"), visibility("default")));
ryArray* ryCreateCellArray_800(rySize ndim, const rySize* dims) __attribute__((alias("ryCreateCellArray_730"), visibility("default")));
ryArray* ryCreateStructArray_800(rySize ndim, const rySize* dims, int nfields, const char** fieldNames) __attribute__((alias("ryCreateStructArray_730"), visibility("default")));

}  // extern "C"
