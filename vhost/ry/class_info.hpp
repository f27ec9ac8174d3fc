// Facts about the built-in array classes.
#pragma once

#include <cstddef>
#include <string>

#include <ry_types.h>

namespace vhost::ry {

// double, single and the eight integer classes.
bool isNumericClass(ryClassID id) noexcept;
// Classes whose elements live in a plain data buffer: numeric, logical and char.
bool isDataClass(ryClassID id) noexcept;
bool isIntegerClass(ryClassID id) noexcept;
// Bytes of one (real) element of a data class; 0 for the others.
std::size_t elementSize(ryClassID id) noexcept;
// The class name users see: "double", "int8", "logical", "char", "cell", "struct",
// "function_handle"; "unknown" for anything else (objects answer their own class name).
const char* builtinClassName(ryClassID id) noexcept;
// The built-in class of a name, or ryUNKNOWN_CLASS when the name is no built-in class.
ryClassID builtinClassOf(const std::string& name) noexcept;

}  // namespace vhost::ry
