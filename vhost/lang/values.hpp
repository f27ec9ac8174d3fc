// Values of the host language: owned arrays, and the few operations the language performs on
// them itself (numbers, text, concatenation, indexing).
#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "host/host_api.hpp"
#include "host/ry.hpp"
#include "vhost/ry/array.hpp"

namespace vhost::lang {

// Throws host::UserException(identifier, message).
[[noreturn]] void fail(const std::string& identifier, const std::string& message);

// An array the language owns: untracked, destroyed with the handle.
using Value = host::ryUnique;

HOST_API Value makeDouble(double value);
Value makeComplex(std::complex<double> value);
Value makeMatrix(std::size_t rows, std::size_t columns, std::span<const std::complex<double>> columnMajor,
                 bool complex, ryClassID classId = ryDOUBLE_CLASS);
Value makeText(const std::string& utf8);
Value makeLogical(bool value);
Value makeEmpty();
// An independent shared copy (copy on write) owned by the caller.
Value copyOf(const ryArray* array);

bool isNumericClass(ryClassID classId);
// Data arrays: numeric, logical and char.
bool isDataArray(const ryArray* array);
// Element `index` of a data array as a complex double.
HOST_API std::complex<double> elementAt(const ryArray* array, std::size_t index);
std::size_t rows(const ryArray* array);
std::size_t columns(const ryArray* array);

// The text of a character array (UTF-8); raises "VELTRA:invalidArgument" naming `what` otherwise.
std::string textOf(const ryArray* array, const std::string& what);
// A real numeric or logical scalar; raises "VELTRA:invalidArgument" otherwise.
double scalarOf(const ryArray* array, const std::string& what);

// [a b] and [a; b] of data arrays (char wins over numbers, logical stays logical only when all
// are); raises "VELTRA:dimensionMismatch".
Value concatenate(const std::vector<std::vector<const ryArray*>>& rows);

// a(i) / a(i, j) with numeric or logical indices ("VELTRA:badIndex", "VELTRA:indexOutOfBounds").
// Works on data arrays, cells, structs and object arrays.
Value indexParen(const ryArray* array, const std::vector<const ryArray*>& indices);
// The element c{i} of a cell array, as a copy.
Value indexBrace(const ryArray* array, const std::vector<const ryArray*>& indices);

// a + b, a - b (elementwise with scalar expansion) and -a on numeric data.
Value arithmetic(char op, const ryArray* left, const ryArray* right);
Value negate(const ryArray* operand);

}  // namespace vhost::lang
