// Facts about the built-in array classes.
#pragma once

#include <cstddef>
#include <string>

#include <ry_types.h>

namespace vhost::ry {

// double, single and the eight integer classes.
inline bool isNumericClass(ryClassID id) noexcept { return id >= ryDOUBLE_CLASS && id <= ryUINT64_CLASS; }
// Classes whose elements live in a plain data buffer: numeric, logical and char.
inline bool isDataClass(ryClassID id) noexcept {
    return isNumericClass(id) || id == ryLOGICAL_CLASS || id == ryCHAR_CLASS;
}
inline bool isIntegerClass(ryClassID id) noexcept { return id >= ryINT8_CLASS && id <= ryUINT64_CLASS; }
// Bytes of one (real) element of a data class; 0 for the others. Inline: every array made asks.
// Indexed by class identifier, ryUNKNOWN_CLASS to ryOBJECT_CLASS.
inline constexpr unsigned char kElementSizes[] = {0, 0, 0, sizeof(ryLogical), sizeof(ryChar), 0, 8, 4, 1, 1, 2, 2, 4, 4, 8, 8, 0, 0};
static_assert(sizeof kElementSizes == ryOBJECT_CLASS + 1);
constexpr std::size_t elementSize(ryClassID id) noexcept {
    const auto i = static_cast<std::size_t>(id);
    return i < sizeof kElementSizes ? kElementSizes[i] : 0;
}
// The class name users see: "double", "int8", "logical", "char", "cell", "struct",
// "function_handle"; "unknown" for anything else (objects answer their own class name).
const char* builtinClassName(ryClassID id) noexcept;
// The built-in class of a name, or ryUNKNOWN_CLASS when the name is no built-in class.
ryClassID builtinClassOf(const std::string& name) noexcept;

}  // namespace vhost::ry
