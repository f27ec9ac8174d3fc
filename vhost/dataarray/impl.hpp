// The implementation object behind every data array, and the pieces of the library that the C
// interface and the conversions share.
//
// Numeric, logical, char, object and function arrays keep their content in an untracked host
// array that this object owns, so that converting to and from host arrays shares data (copy on
// write) instead of copying it. Cell and struct arrays keep their elements as implementation
// pointers, each owning one reference (null: an empty element). String arrays have no host
// counterpart and keep their texts here.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <ry_types.h>

#include "host/dataarray.hpp"
#include "vhost/ry/array.hpp"

namespace host::data {

// The host form of a container made for reading (borrowRyArray), with the content generation it
// was made at; destroyed with its last holder.
struct HostForm {
    HostForm(ryArray* made, std::uint64_t at) noexcept : array(made), generation(at) {}
    ~HostForm();
    HostForm(const HostForm&) = delete;
    HostForm& operator=(const HostForm&) = delete;
    ryArray* const array;
    const std::uint64_t generation;
    // A form of the owning thread's (ArrayImpl::ownForm): its borrows not let go yet, and whether
    // a newer form took its place (the last of them destroys it then). That thread's alone.
    std::uint32_t holds = 0;
    bool replaced = false;
};

struct ArrayImpl {
    // The dimensions are normalised (no trailing ones past the second, at least two).
    explicit ArrayImpl(ArrayType t, vhost::ry::Dims d);
    // Dimensions normalised already (a host array's): copied as they are.
    struct Normalized {};
    ArrayImpl(ArrayType t, const vhost::ry::Dims& d, Normalized);
    ~ArrayImpl();
    ArrayImpl(const ArrayImpl&) = delete;
    ArrayImpl& operator=(const ArrayImpl&) = delete;
    // From the thread's store of freed ones first (see arrays.cpp).
    static void* operator new(std::size_t bytes);
    static void operator delete(void* memory, std::size_t bytes) noexcept;

    std::size_t count() const;

    std::atomic<std::uint64_t> refs{1};
    // The count is written by every thread that shares the array; what the others only read
    // starts at least a cache line further on, so that reading an array (the engine borrowing a
    // request's input) does not lose the line to a thread taking or dropping a reference.
    std::byte countApart[64 - sizeof(refs)];
    ArrayType type;
    // Up to four held inline: most arrays cost no allocation for them.
    vhost::ry::Dims dims;
    ryArray* host = nullptr;
    std::vector<ArrayImpl*> elements;  // cells; struct values element-major
    std::vector<std::string> fields;
    std::vector<std::u16string> strings;
    // Cells and structs: their host form once one was borrowed, kept while no content changes.
    // The first thread to borrow one owns `ownForm` and counts its borrows in the form, in plain
    // words: the engine's thread borrowing each request's inputs takes no locked operation. Other
    // threads share `hostForm`. Either way a form replaced while a call reads it lives until that
    // call lets it go.
    mutable std::atomic<const void*> formOwner{nullptr};
    mutable HostForm* ownForm = nullptr;
    mutable std::atomic<std::shared_ptr<const HostForm>> hostForm;
};

}  // namespace host::data

namespace vhost::data {

// Implementation objects alive in the process (for leak checks).
__attribute__((visibility("default"))) std::size_t liveArrayCount() noexcept;

// A numeric (or logical) array of `dims`, zero-filled; refuses types without numeric data.
host::data::Array newNumericArray(host::data::ArrayType type, std::vector<std::size_t> dims);
// Bytes of one element of a numeric, logical or char array (complex: both parts).
std::size_t elementBytes(const host::data::ArrayImpl& impl);
const void* elementData(const host::data::ArrayImpl& impl);
void* writableElementData(host::data::ArrayImpl& impl);
// The struct field number of `name`; throws std::invalid_argument when absent.
std::size_t fieldIndex(const host::data::ArrayImpl& impl, const std::string& name);

}  // namespace vhost::data
