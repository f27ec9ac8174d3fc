// Shared pieces of the module-facing C interface (ry.h) as the host implements it. The host
// declares every versioned name itself, so the plain-name mapping is off here.
#pragma once

#define RY_NO_NAME_MAPPING 1
#define RY_BUILDING_HOST 1
#include <ry.h>

#include <cstddef>
#include <type_traits>
#include <vector>

#include "vhost/ry/array.hpp"

namespace vhost::ry::capi {

// Hands a new array to the current array-list context (it then belongs to the running call).
ryArray* created(ryArray* array);
// The array to work on; raises "VELTRA:ry:nullArray" naming `function` when it is null.
[[noreturn]] void raiseNullArray(const char* function);
inline ryArray* need(const ryArray* array, const char* function) {
    if (!array) [[unlikely]]
        raiseNullArray(function);
    return const_cast<ryArray*>(array);
}
// raiseNullArray for the getters a module calls on every call, reached by a jump that ends the
// getter: a call that never returns would make each of them align its stack on its usual path
// too. Returns nothing, but is not known to the compiler as never returning; R is the getter's.
template <class R>
[[gnu::cold, gnu::noipa]] R nullArrayOf(const char* function) {
    raiseNullArray(function);
}

template <class Size>
Dims dimensionList(Size ndim, const Size* dims) {
    Dims list;
    if (ndim > 0 && dims) {
        for (Size i = 0; i < ndim; ++i) {
            if constexpr (std::is_signed_v<Size>) {
                list.push_back(dims[i] < 0 ? 0 : static_cast<std::size_t>(dims[i]));
            } else {
                list.push_back(static_cast<std::size_t>(dims[i]));
            }
        }
    }
    return list;
}

// Numeric arrays of zeros; raises for classes that are not numeric.
ryArray* createNumeric(Dims dims, ryClassID classId, ryComplexity complexity, Layout layout,
                       const char* function);

}  // namespace vhost::ry::capi
