// Data arrays for C++ modules: owned references to the host's arrays, typed element access and a
// factory. Arrays are shared, not copied: copying an Array copies a reference.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <orb_data.h>

#include "orb_cpp/exception.hpp"

namespace orb::data {

enum class ArrayType : int {
    LOGICAL = 0, CHAR = 1, CELL = 4, STRUCT = 5, DOUBLE = 6, SINGLE = 7, INT8 = 8, UINT8 = 9, INT16 = 10,
    UINT16 = 11, INT32 = 12, UINT32 = 13, INT64 = 14, UINT64 = 15, COMPLEX_DOUBLE = 16, COMPLEX_SINGLE = 17,
    STRING = 18, FUNCTION = 19, VALUE_OBJECT = 27, HANDLE_OBJECT = 28, NONE = -1
};

// The array type that holds elements of C++ type T.
template <class T> struct TypeOf;
template <> struct TypeOf<bool> { static constexpr ArrayType value = ArrayType::LOGICAL; };
template <> struct TypeOf<char16_t> { static constexpr ArrayType value = ArrayType::CHAR; };
template <> struct TypeOf<double> { static constexpr ArrayType value = ArrayType::DOUBLE; };
template <> struct TypeOf<float> { static constexpr ArrayType value = ArrayType::SINGLE; };
template <> struct TypeOf<std::int8_t> { static constexpr ArrayType value = ArrayType::INT8; };
template <> struct TypeOf<std::uint8_t> { static constexpr ArrayType value = ArrayType::UINT8; };
template <> struct TypeOf<std::int16_t> { static constexpr ArrayType value = ArrayType::INT16; };
template <> struct TypeOf<std::uint16_t> { static constexpr ArrayType value = ArrayType::UINT16; };
template <> struct TypeOf<std::int32_t> { static constexpr ArrayType value = ArrayType::INT32; };
template <> struct TypeOf<std::uint32_t> { static constexpr ArrayType value = ArrayType::UINT32; };
template <> struct TypeOf<std::int64_t> { static constexpr ArrayType value = ArrayType::INT64; };
template <> struct TypeOf<std::uint64_t> { static constexpr ArrayType value = ArrayType::UINT64; };
template <> struct TypeOf<std::complex<double>> { static constexpr ArrayType value = ArrayType::COMPLEX_DOUBLE; };
template <> struct TypeOf<std::complex<float>> { static constexpr ArrayType value = ArrayType::COMPLEX_SINGLE; };

// One reference to an array (or none).
class Array {
public:
    Array() noexcept = default;
    // Takes over a reference the caller owns.
    static Array adopt(void* impl) noexcept { Array a; a.m_impl = impl; return a; }
    // Takes a reference of its own.
    static Array share(void* impl) noexcept {
        if (impl) orbDataAddRef(impl);
        return adopt(impl);
    }
    Array(const Array& other) noexcept : m_impl(other.m_impl) { if (m_impl) orbDataAddRef(m_impl); }
    Array(Array&& other) noexcept : m_impl(std::exchange(other.m_impl, nullptr)) {}
    Array& operator=(Array other) noexcept { std::swap(m_impl, other.m_impl); return *this; }
    ~Array() { if (m_impl) orbDataRelease(m_impl); }

    void* impl() const noexcept { return m_impl; }
    explicit operator bool() const noexcept { return m_impl != nullptr; }

    ArrayType getType() const noexcept { return static_cast<ArrayType>(orbDataGetType(m_impl)); }
    std::vector<std::size_t> getDimensions() const {
        if (!m_impl) return {};
        const std::size_t* dims = orbDataGetDimensions(m_impl);
        return std::vector<std::size_t>(dims, dims + orbDataGetNumberOfDimensions(m_impl));
    }
    std::size_t getNumberOfElements() const noexcept { return m_impl ? orbDataGetNumberOfElements(m_impl) : 0; }
    bool isEmpty() const noexcept { return getNumberOfElements() == 0; }

protected:
    void requireType(ArrayType wanted) const {
        if (getType() != wanted) throw orb::cpp::InvalidArrayTypeException(static_cast<int>(wanted), static_cast<int>(getType()));
    }
    void check(int status) const {
        if (status == ORB_DATA_OUT_OF_RANGE) throw orb::cpp::Exception("orb:data:indexOutOfRange", "Index exceeds the number of array elements.");
        if (status != ORB_DATA_OK) throw orb::cpp::Exception("orb:data:failed", "The array operation failed.");
    }

private:
    void* m_impl = nullptr;
};

// A numeric, logical or char array read element by element (column-major).
template <class T>
class TypedArray : public Array {
public:
    TypedArray() = default;
    explicit TypedArray(Array array) : Array(std::move(array)) { requireType(TypeOf<T>::value); }
    T operator[](std::size_t index) const {
        T value{};
        check(orbDataGetElement(impl(), index, &value));
        return value;
    }
    std::vector<T> toVector() const {
        std::vector<T> values(getNumberOfElements());
        for (std::size_t i = 0; i < values.size(); ++i) values[i] = (*this)[i];
        return values;
    }
};

class CharArray : public TypedArray<char16_t> {
public:
    CharArray() = default;
    explicit CharArray(Array array) : TypedArray<char16_t>(std::move(array)) {}
    std::u16string toUTF16() const {
        std::u16string text;
        for (std::size_t i = 0; i < getNumberOfElements(); ++i) text.push_back((*this)[i]);
        return text;
    }
    std::string toUTF8() const;  // in orb_cpp/text.hpp
};

class StringArray : public Array {
public:
    StringArray() = default;
    explicit StringArray(Array array) : Array(std::move(array)) { requireType(ArrayType::STRING); }
    std::u16string operator[](std::size_t index) const {
        const char16_t* text = nullptr;
        std::size_t length = 0;
        check(orbDataGetString(impl(), index, &text, &length));
        return std::u16string(text, length);
    }
};

class CellArray : public Array {
public:
    CellArray() = default;
    explicit CellArray(Array array) : Array(std::move(array)) { requireType(ArrayType::CELL); }
    Array get(std::size_t index) const {
        void* value = nullptr;
        check(orbDataGetCell(impl(), index, &value));
        return Array::adopt(value);
    }
    void set(std::size_t index, const Array& value) { check(orbDataSetCell(impl(), index, value.impl())); }
};

class StructArray : public Array {
public:
    StructArray() = default;
    explicit StructArray(Array array) : Array(std::move(array)) { requireType(ArrayType::STRUCT); }
    std::vector<std::string> getFieldNames() const {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < orbDataGetNumberOfFields(impl()); ++i) names.emplace_back(orbDataGetFieldName(impl(), i));
        return names;
    }
    Array getField(std::size_t index, const std::string& field) const {
        void* value = nullptr;
        check(orbDataGetField(impl(), index, field.c_str(), &value));
        return Array::adopt(value);
    }
    void setField(std::size_t index, const std::string& field, const Array& value) {
        check(orbDataSetField(impl(), index, field.c_str(), value.impl()));
    }
};

class ArrayFactory {
public:
    // An m-by-n array of T from column-major values (zeros when `values` is empty).
    template <class T>
    TypedArray<T> createArray(std::size_t m, std::size_t n, const std::vector<T>& values = {}) const {
        if (!values.empty() && values.size() != m * n) {
            throw orb::cpp::Exception("orb:data:sizeMismatch", "The number of values does not match the dimensions.");
        }
        const void* data = nullptr;
        std::vector<unsigned char> bytes;  // logical values are one byte each
        if constexpr (std::is_same_v<T, bool>) {
            bytes.assign(values.begin(), values.end());
            data = bytes.empty() ? nullptr : bytes.data();
        } else {
            data = values.empty() ? nullptr : values.data();
        }
        return TypedArray<T>(made(orbDataCreateNumericMatrix(static_cast<int>(TypeOf<T>::value), m, n, data)));
    }
    template <class T>
    TypedArray<T> createScalar(T value) const { return createArray<T>(1, 1, std::vector<T>{value}); }
    CharArray createCharArray(const std::u16string& text) const {
        return CharArray(made(orbDataCreateCharArray(text.data(), text.size())));
    }
    CharArray createCharArray(const std::string& utf8) const;  // in orb_cpp/text.hpp
    StringArray createStringArray(const std::vector<std::u16string>& values) const {
        std::vector<const char16_t*> texts;
        std::vector<std::size_t> lengths;
        for (const auto& v : values) {
            texts.push_back(v.data());
            lengths.push_back(v.size());
        }
        return StringArray(made(orbDataCreateStringArray(texts.data(), lengths.data(), values.size())));
    }
    CellArray createCellArray(std::size_t m, std::size_t n) const { return CellArray(made(orbDataCreateCellMatrix(m, n))); }
    StructArray createStructArray(std::size_t m, std::size_t n, const std::vector<std::string>& fields) const {
        std::vector<const char*> names;
        for (const auto& f : fields) names.push_back(f.c_str());
        return StructArray(made(orbDataCreateStructMatrix(m, n, names.data(), names.size())));
    }

private:
    static Array made(void* impl) {
        if (!impl) throw orb::cpp::Exception("orb:data:createFailed", "The array could not be created.");
        return Array::adopt(impl);
    }
};

}  // namespace orb::data
