// Sorting symbol names ascending in byte order, as std::sort of the views would, but faster on the
// names libraries export: mangled names share long beginnings ("_ZN4llvm..."), which a comparison
// sort compares again at every comparison. This sort looks at one byte position at a time and
// never looks at a shared beginning twice.
#pragma once

#include <string_view>
#include <vector>

#include "platform/export.hpp"

namespace orbfile {

// Sorts `names` ascending: byte by byte as unsigned values, a name before every longer name it
// begins. Equal names are adjacent, in no particular order. Never allocates; the stack depth grows
// with the logarithm of the count only, whatever the names.
ORB_API void sortNames(std::vector<std::string_view>& names) noexcept;

}  // namespace orbfile
