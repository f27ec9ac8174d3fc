// The plain C interface of the data arrays. Nothing escapes as an exception: failures become
// status codes or null results.

#include <orb_data.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "vhost/dataarray/impl.hpp"

using host::data::Array;
using host::data::ArrayFactory;
using host::data::ArrayImpl;
using host::data::ArrayType;

namespace {

const ArrayImpl* asImpl(const void* p) { return static_cast<const ArrayImpl*>(p); }
ArrayImpl* asImpl(void* p) { return static_cast<ArrayImpl*>(p); }

template <typename F>
int status(F&& body) noexcept {
    try {
        body();
        return ORB_DATA_OK;
    } catch (const std::out_of_range&) {
        return ORB_DATA_OUT_OF_RANGE;
    } catch (const std::invalid_argument&) {
        return ORB_DATA_BAD_ARGUMENT;
    } catch (...) {
        return ORB_DATA_FAILED;
    }
}

template <typename F>
void* created(F&& make) noexcept {
    try {
        return make().newReference();
    } catch (...) {
        return nullptr;
    }
}

void require(bool condition) {
    if (!condition) throw std::invalid_argument("bad argument");
}

const ArrayImpl& of(const void* p, ArrayType type) {
    require(p && asImpl(p)->type == type);
    return *asImpl(p);
}

void checkIndex(const ArrayImpl& impl, std::size_t index) {
    if (index >= impl.count()) throw std::out_of_range("index");
}

}  // namespace

extern "C" {

void orbDataAddRef(void* array) { host::data::addRef(asImpl(array)); }
void orbDataRelease(void* array) { host::data::release(asImpl(array)); }

int orbDataGetType(const void* array) { return array ? static_cast<int>(asImpl(array)->type) : -1; }
size_t orbDataGetNumberOfDimensions(const void* array) { return array ? asImpl(array)->dims.size() : 0; }
const size_t* orbDataGetDimensions(const void* array) { return array ? asImpl(array)->dims.data() : nullptr; }
size_t orbDataGetNumberOfElements(const void* array) {
    size_t n = 0;
    status([&] { n = array ? asImpl(array)->count() : 0; });
    return n;
}

size_t orbDataGetElementSize(const void* array) {
    size_t n = 0;
    status([&] {
        require(array);
        n = vhost::data::elementBytes(*asImpl(array));
    });
    return n;
}

int orbDataGetElement(const void* array, size_t index, void* out) {
    return status([&] {
        require(array && out);
        const ArrayImpl& impl = *asImpl(array);
        const std::size_t size = vhost::data::elementBytes(impl);
        checkIndex(impl, index);
        std::memcpy(out, static_cast<const char*>(vhost::data::elementData(impl)) + index * size, size);
    });
}

int orbDataGetString(const void* array, size_t index, const char16_t** text, size_t* length) {
    return status([&] {
        const ArrayImpl& impl = of(array, ArrayType::STRING);
        require(text && length);
        checkIndex(impl, index);
        *text = impl.strings[index].c_str();
        *length = impl.strings[index].size();
    });
}

void* orbDataCreateNumericMatrix(int type, size_t m, size_t n, const void* data) {
    return created([&] {
        Array a = vhost::data::newNumericArray(static_cast<ArrayType>(type), {m, n});
        if (data) std::memcpy(vhost::data::writableElementData(*a.impl()), data, a.impl()->count() * vhost::data::elementBytes(*a.impl()));
        return a;
    });
}

void* orbDataCreateCharArray(const char16_t* text, size_t length) {
    return created([&] {
        require(text || length == 0);
        return ArrayFactory().createCharArray(length ? std::u16string(text, length) : std::u16string());
    });
}

void* orbDataCreateStringArray(const char16_t* const* texts, const size_t* lengths, size_t count) {
    return created([&] {
        require(count == 0 || (texts && lengths));
        std::vector<std::u16string> values;
        for (size_t i = 0; i < count; ++i) {
            require(texts[i] || lengths[i] == 0);
            values.emplace_back(lengths[i] ? std::u16string(texts[i], lengths[i]) : std::u16string());
        }
        return ArrayFactory().createStringArray(values);
    });
}

void* orbDataCreateCellMatrix(size_t m, size_t n) {
    return created([&] { return ArrayFactory().createCellArray({m, n}); });
}

void* orbDataCreateStructMatrix(size_t m, size_t n, const char* const* fields, size_t fieldCount) {
    return created([&] {
        require(fieldCount == 0 || fields);
        std::vector<std::string> names;
        for (size_t i = 0; i < fieldCount; ++i) {
            require(fields[i]);
            names.emplace_back(fields[i]);
        }
        return ArrayFactory().createStructArray({m, n}, names);
    });
}

int orbDataGetCell(const void* cell, size_t index, void** value) {
    return status([&] {
        const ArrayImpl& impl = of(cell, ArrayType::CELL);
        require(value);
        checkIndex(impl, index);
        host::data::addRef(impl.elements[index]);
        *value = impl.elements[index];
    });
}

int orbDataSetCell(void* cell, size_t index, void* value) {
    return status([&] {
        Array a = Array::share(asImpl(cell));
        ArrayFactory().setCell(a, index, Array::share(asImpl(value)));
    });
}

size_t orbDataGetNumberOfFields(const void* structArray) {
    return structArray && asImpl(structArray)->type == ArrayType::STRUCT ? asImpl(structArray)->fields.size() : 0;
}

const char* orbDataGetFieldName(const void* structArray, size_t field) {
    if (field >= orbDataGetNumberOfFields(structArray)) return nullptr;
    return asImpl(structArray)->fields[field].c_str();
}

int orbDataGetField(const void* structArray, size_t index, const char* field, void** value) {
    return status([&] {
        const ArrayImpl& impl = of(structArray, ArrayType::STRUCT);
        require(field && value);
        checkIndex(impl, index);
        ArrayImpl* e = impl.elements[index * impl.fields.size() + vhost::data::fieldIndex(impl, field)];
        host::data::addRef(e);
        *value = e;
    });
}

int orbDataSetField(void* structArray, size_t index, const char* field, void* value) {
    return status([&] {
        require(field);
        Array a = Array::share(asImpl(structArray));
        ArrayFactory().setField(a, index, field, Array::share(asImpl(value)));
    });
}

}  // extern "C"
