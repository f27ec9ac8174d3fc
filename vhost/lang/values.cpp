#include "vhost/lang/values.hpp"

#include <cstdint>
#include <cstring>

#include "host/i18n.hpp"
#include "vhost/ry/lifetime.hpp"

namespace vhost::lang {

using ry::Access;

void fail(const std::string& identifier, const std::string& message) { throw host::UserException(identifier, message); }

namespace {

template <class T>
std::complex<double> readAs(const ry::NumericData& data, std::size_t index) {
    if (!data.isComplex()) return {static_cast<double>(static_cast<const T*>(data.real(Access::Read))[index]), 0.0};
    const T* pairs = static_cast<const T*>(data.interleaved(Access::Read));
    return {static_cast<double>(pairs[2 * index]), static_cast<double>(pairs[2 * index + 1])};
}

template <class T>
void writeAs(ry::NumericData& data, std::size_t index, std::complex<double> value) {
    if (!data.isComplex()) {
        static_cast<T*>(data.real(Access::Write))[index] = static_cast<T>(value.real());
        return;
    }
    T* pairs = static_cast<T*>(data.interleaved(Access::Write));
    pairs[2 * index] = static_cast<T>(value.real());
    pairs[2 * index + 1] = static_cast<T>(value.imag());
}

void setElement(ryArray* array, std::size_t index, std::complex<double> value) {
    ry::NumericData& data = *array->writableNumeric();
    switch (array->classId()) {
    case ryDOUBLE_CLASS: return writeAs<double>(data, index, value);
    case rySINGLE_CLASS: return writeAs<float>(data, index, value);
    case ryLOGICAL_CLASS: return writeAs<bool>(data, index, value.real() != 0 ? 1.0 : 0.0);
    case ryCHAR_CLASS: return writeAs<std::uint16_t>(data, index, value);
    case ryINT8_CLASS: return writeAs<std::int8_t>(data, index, value);
    case ryUINT8_CLASS: return writeAs<std::uint8_t>(data, index, value);
    case ryINT16_CLASS: return writeAs<std::int16_t>(data, index, value);
    case ryUINT16_CLASS: return writeAs<std::uint16_t>(data, index, value);
    case ryINT32_CLASS: return writeAs<std::int32_t>(data, index, value);
    case ryUINT32_CLASS: return writeAs<std::uint32_t>(data, index, value);
    case ryINT64_CLASS: return writeAs<std::int64_t>(data, index, value);
    case ryUINT64_CLASS: return writeAs<std::uint64_t>(data, index, value);
    default: fail("VELTRA:invalidArgument", "Cannot store a number in an array of class " + array->className() + ".");
    }
}

}  // namespace

Value makeMatrix(std::size_t rowCount, std::size_t columnCount, std::span<const std::complex<double>> columnMajor,
                 bool complex, ryClassID classId) {
    Value result(ry::newDataArray({rowCount, columnCount}, classId, complex && isNumericClass(classId),
                                  ry::Layout::Interleaved, true));
    for (std::size_t i = 0; i < columnMajor.size(); ++i) setElement(result.get(), i, columnMajor[i]);
    return result;
}

Value makeDouble(double value) {
    // Most built-ins answer one real number: written straight in, without zeroing it first or
    // going through the general element setter.
    Value result(ry::newMatrix(1, 1, ryDOUBLE_CLASS, false, ry::Layout::Interleaved, false));
    *static_cast<double*>(result->writableNumeric()->real(Access::Write)) = value;
    return result;
}
Value makeComplex(std::complex<double> value) {
    const std::complex<double> element[] = {value};
    return makeMatrix(1, 1, element, true);
}
Value makeLogical(bool value) {
    const std::complex<double> element[] = {value ? 1.0 : 0.0};
    return makeMatrix(1, 1, element, false, ryLOGICAL_CLASS);
}
Value makeEmpty() { return makeMatrix(0, 0, {}, false); }
Value makeText(const std::string& utf8) { return Value(ry::newCharRow(host::i18n::to_ustring(utf8))); }
Value copyOf(const ryArray* array) { return Value(ry::sharedCopy(array)); }

bool isNumericClass(ryClassID classId) { return classId >= ryDOUBLE_CLASS && classId <= ryUINT64_CLASS; }

bool isDataArray(const ryArray* array) { return array && array->numeric() != nullptr; }

std::complex<double> elementAt(const ryArray* array, std::size_t index) {
    const ry::NumericData& data = *array->numeric();
    switch (array->classId()) {
    case ryDOUBLE_CLASS: return readAs<double>(data, index);
    case rySINGLE_CLASS: return readAs<float>(data, index);
    case ryLOGICAL_CLASS: return readAs<bool>(data, index);
    case ryCHAR_CLASS: return readAs<std::uint16_t>(data, index);
    case ryINT8_CLASS: return readAs<std::int8_t>(data, index);
    case ryUINT8_CLASS: return readAs<std::uint8_t>(data, index);
    case ryINT16_CLASS: return readAs<std::int16_t>(data, index);
    case ryUINT16_CLASS: return readAs<std::uint16_t>(data, index);
    case ryINT32_CLASS: return readAs<std::int32_t>(data, index);
    case ryUINT32_CLASS: return readAs<std::uint32_t>(data, index);
    case ryINT64_CLASS: return readAs<std::int64_t>(data, index);
    case ryUINT64_CLASS: return readAs<std::uint64_t>(data, index);
    default: return {};
    }
}

std::size_t rows(const ryArray* array) { return array->dims()[0]; }
std::size_t columns(const ryArray* array) { return array->numberOfElements() / std::max<std::size_t>(rows(array), 1); }

std::string textOf(const ryArray* array, const std::string& what) {
    if (!array || array->classId() != ryCHAR_CLASS) fail("VELTRA:invalidArgument", what + " must be text.");
    return host::i18n::to_string(host::get_ustring(array));
}

double scalarOf(const ryArray* array, const std::string& what) {
    if (!isDataArray(array) || array->classId() == ryCHAR_CLASS || array->numberOfElements() != 1 ||
        array->isComplex())
        fail("VELTRA:invalidArgument", what + " must be a real number.");
    return elementAt(array, 0).real();
}

Value concatenate(const std::vector<std::vector<const ryArray*>>& rowList) {
    // A lone non-data value ([s], [c]) is itself.
    std::size_t count = 0;
    const ryArray* lone = nullptr;
    for (const auto& row : rowList)
        for (const ryArray* item : row) ++count, lone = item;
    if (count == 1 && !isDataArray(lone)) return copyOf(lone);

    bool anyChar = false, allLogical = true, anyComplex = false;
    for (const auto& row : rowList)
        for (const ryArray* item : row) {
            if (!isDataArray(item))
                fail("VELTRA:invalidArgument", "Cannot concatenate values of class " + item->className() + ".");
            anyChar |= item->classId() == ryCHAR_CLASS;
            allLogical &= item->classId() == ryLOGICAL_CLASS;
            anyComplex |= item->isComplex();
        }
    const ryClassID resultClass = anyChar ? ryCHAR_CLASS : (allLogical && count > 0) ? ryLOGICAL_CLASS : ryDOUBLE_CLASS;

    // Each row: arrays of equal height side by side (empties skipped).
    struct Block {
        std::size_t height = 0, width = 0;
        std::vector<std::complex<double>> data;  // column major
    };
    std::vector<Block> blocks;
    for (const auto& row : rowList) {
        Block block;
        for (const ryArray* item : row) {
            if (item->numberOfElements() == 0) continue;
            if (block.width == 0) block.height = rows(item);
            else if (rows(item) != block.height)
                fail("VELTRA:dimensionMismatch", "Dimensions of arrays being concatenated are not consistent.");
            for (std::size_t i = 0; i < item->numberOfElements(); ++i) block.data.push_back(elementAt(item, i));
            block.width += columns(item);
        }
        if (block.width) blocks.push_back(std::move(block));
    }
    if (blocks.empty()) return makeMatrix(0, 0, {}, false, resultClass);
    const std::size_t width = blocks[0].width;
    std::size_t height = 0;
    for (const Block& block : blocks) {
        if (block.width != width)
            fail("VELTRA:dimensionMismatch", "Dimensions of arrays being concatenated are not consistent.");
        height += block.height;
    }
    std::vector<std::complex<double>> data(height * width);
    std::size_t top = 0;
    for (const Block& block : blocks) {
        for (std::size_t c = 0; c < width; ++c)
            for (std::size_t r = 0; r < block.height; ++r) data[c * height + top + r] = block.data[c * block.height + r];
        top += block.height;
    }
    return makeMatrix(height, width, data, anyComplex, resultClass);
}

namespace {

// The positions (0-based) selected by one index over a dimension of `extent` elements.
std::vector<std::size_t> positions(const ryArray* index, std::size_t extent) {
    std::vector<std::size_t> result;
    if (index->classId() == ryCHAR_CLASS && textOf(index, "An index") == ":") {
        for (std::size_t i = 0; i < extent; ++i) result.push_back(i);
        return result;
    }
    if (!isDataArray(index) || index->classId() == ryCHAR_CLASS) fail("VELTRA:badIndex", "Indices must be numbers.");
    if (index->classId() == ryLOGICAL_CLASS) {
        for (std::size_t i = 0; i < index->numberOfElements(); ++i)
            if (elementAt(index, i).real() != 0) result.push_back(i);
    } else {
        for (std::size_t i = 0; i < index->numberOfElements(); ++i) {
            const double value = elementAt(index, i).real();
            if (value < 1 || value != static_cast<double>(static_cast<std::size_t>(value)))
                fail("VELTRA:badIndex", "Array indices must be positive integers or logical values.");
            result.push_back(static_cast<std::size_t>(value) - 1);
        }
    }
    for (std::size_t position : result)
        if (position >= extent)
            fail("VELTRA:indexOutOfBounds", "Index exceeds the number of array elements (" + std::to_string(extent) + ").");
    return result;
}

// Linear positions and the shape of the result.
std::vector<std::size_t> selection(const ryArray* array, const std::vector<const ryArray*>& indices,
                                   std::vector<std::size_t>& shape) {
    if (indices.size() == 1) {
        auto picked = positions(indices[0], array->numberOfElements());
        const bool column = rows(array) != 1 && columns(array) == 1;
        shape = column ? std::vector<std::size_t>{picked.size(), 1} : std::vector<std::size_t>{1, picked.size()};
        return picked;
    }
    if (indices.size() != 2) fail("VELTRA:badIndex", "Only one or two indices are supported.");
    const auto r = positions(indices[0], rows(array));
    const auto c = positions(indices[1], columns(array));
    shape = {r.size(), c.size()};
    std::vector<std::size_t> picked;
    for (std::size_t column : c)
        for (std::size_t row : r) picked.push_back(column * rows(array) + row);
    return picked;
}

}  // namespace

Value indexParen(const ryArray* array, const std::vector<const ryArray*>& indices) {
    std::vector<std::size_t> shape;
    const auto picked = selection(array, indices, shape);
    if (isDataArray(array)) {
        std::vector<std::complex<double>> data;
        for (std::size_t position : picked) data.push_back(elementAt(array, position));
        return makeMatrix(shape[0], shape[1], data, array->isComplex(), array->classId());
    }
    if (picked.size() == 1 && array->numberOfElements() == 1) return copyOf(array);
    if (const auto* cell = array->cell()) {
        Value result(ry::newCellArray(shape));
        for (std::size_t i = 0; i < picked.size(); ++i)
            if (const ryArray* element = cell->elements[picked[i]]) ry::setCell(result.get(), i, ry::sharedCopy(element));
        return result;
    }
    if (const auto* structure = array->structure()) {
        Value result(ry::newStructArray(shape, structure->fields));
        const std::size_t fields = structure->fields.size();
        for (std::size_t i = 0; i < picked.size(); ++i)
            for (std::size_t f = 0; f < fields; ++f)
                if (const ryArray* value = structure->values[picked[i] * fields + f])
                    ry::setFieldValue(result.get(), i, f, ry::sharedCopy(value));
        return result;
    }
    fail("VELTRA:badIndex", "Indexing into a value of class " + array->className() + " is not supported.");
}

Value indexBrace(const ryArray* array, const std::vector<const ryArray*>& indices) {
    const auto* cell = array->cell();
    if (!cell) fail("VELTRA:badIndex", "Brace indexing is only for cell arrays.");
    std::vector<std::size_t> shape;
    const auto picked = selection(array, indices, shape);
    if (picked.size() != 1) fail("VELTRA:badIndex", "Brace indexing must select exactly one element.");
    const ryArray* element = cell->elements[picked[0]];
    return element ? copyOf(element) : makeEmpty();
}

Value arithmetic(char op, const ryArray* left, const ryArray* right) {
    for (const ryArray* operand : {left, right})
        if (!isDataArray(operand))
            fail("VELTRA:invalidArgument", "Arithmetic needs numbers, not a value of class " + operand->className() + ".");
    const std::size_t nl = left->numberOfElements(), nr = right->numberOfElements();
    if (nl != nr && nl != 1 && nr != 1) fail("VELTRA:dimensionMismatch", "Arrays have incompatible sizes for this operation.");
    const ryArray* shapeOf = nl == 1 ? right : left;
    std::vector<std::complex<double>> data(shapeOf->numberOfElements());
    bool complex = false;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto a = elementAt(left, nl == 1 ? 0 : i), b = elementAt(right, nr == 1 ? 0 : i);
        data[i] = op == '+' ? a + b : op == '-' ? a - b : a * b;
        complex |= data[i].imag() != 0;
    }
    return makeMatrix(rows(shapeOf), columns(shapeOf), data, complex);
}

Value negate(const ryArray* operand) {
    Value zero = makeDouble(0);
    return arithmetic('-', zero.get(), operand);
}

}  // namespace vhost::lang
