// Host data-array library: the reference-counted arrays C++ modules exchange with the host.
//
// A module sees an array as a raw pointer to its implementation object (`ArrayImpl`), each with
// a 64-bit reference count. `Array` is the host-side owner of one reference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <ry_types.h>

namespace host::data {

// Array type codes of the data-array library. The two object types are fixed: 27 for value
// objects, 28 for handle objects.
enum class ArrayType : int {
    LOGICAL = 0, CHAR = 1, MATRIX = 2, SPARSE = 3, CELL = 4, STRUCT = 5,
    DOUBLE = 6, SINGLE = 7, INT8 = 8, UINT8 = 9, INT16 = 10, UINT16 = 11, INT32 = 12, UINT32 = 13,
    INT64 = 14, UINT64 = 15, COMPLEX_DOUBLE = 16, COMPLEX_SINGLE = 17, STRING = 18,
    FUNCTION = 19, UNKNOWN = 26, VALUE_OBJECT = 27, HANDLE_OBJECT = 28
};

struct ArrayImpl;  // opaque; reference counted

void addRef(ArrayImpl* impl) noexcept;
void release(ArrayImpl* impl) noexcept;  // destroys at zero
// Lets go of `count` references at once (a thread that counted the ones it dropped).
void release(ArrayImpl* impl, std::uint64_t count) noexcept;

// One owned reference. Wrapping an existing implementation adds a reference.
class Array {
public:
    Array() noexcept = default;
    static Array adopt(ArrayImpl* impl) noexcept;  // takes over a reference the caller owns
    static Array share(ArrayImpl* impl) noexcept;  // adds a reference
    Array(const Array& other) noexcept;
    Array(Array&& other) noexcept;
    Array& operator=(Array other) noexcept;
    // An empty owner (most of a request's inline argument room) costs no call.
    ~Array() {
        if (m_impl) release(m_impl);
    }

    ArrayImpl* impl() const noexcept { return m_impl; }
    // Hands out the implementation with one added reference that belongs to the receiver.
    ArrayImpl* newReference() const noexcept;
    // Hands out the implementation with the reference this owner held, leaving it empty.
    ArrayImpl* handOver() noexcept { return std::exchange(m_impl, nullptr); }
    ArrayType getType() const;
    std::vector<std::size_t> getDimensions() const;
    std::size_t getNumberOfElements() const;
    explicit operator bool() const noexcept { return m_impl != nullptr; }

private:
    ArrayImpl* m_impl = nullptr;
};

// Factory of new arrays (dimensions as a row-major list of sizes).
class ArrayFactory {
public:
    Array createStructArray(const std::vector<std::size_t>& dims, const std::vector<std::string>& fields);
    Array createCharArray(const std::u16string& text);
    Array createCellArray(const std::vector<std::size_t>& dims);
    Array createScalarInt32(std::int32_t value);
    Array createScalarDouble(double value);
    Array createScalarUInt64(std::uint64_t value);
    Array createStringArray(const std::vector<std::u16string>& values);
    void setField(Array& structArray, std::size_t index, const std::string& field, Array value);
    void setCell(Array& cellArray, std::size_t index, Array value);
};

// Conversion to and from the array library's arrays, sharing data where the types allow.
// createArrayFromRyArray keeps `array` owned by the caller; createRyArray returns a new array
// that the caller owns and destroys (or hands to the host); releaseRyArray destroys one.
Array createArrayFromRyArray(const ryArray* array);
// Like createArrayFromRyArray, but takes `array` over (an untracked array of the caller's, gone
// after the call however it ends): a non-container array is held as it is instead of copied.
Array adoptRyArray(ryArray* array);
ryArray* createRyArray(const Array& array);
void releaseRyArray(ryArray* array);
struct HostForm;

// What keeps a borrowed host form alive (see borrowRyArray). Let go of on the thread that
// borrowed, before the array's last reference goes: the borrows of the thread that owns an
// array's form count in plain words only that thread touches.
class FormKeep {
public:
    FormKeep() noexcept = default;
    FormKeep(FormKeep&& other) noexcept
        : m_own(std::exchange(other.m_own, nullptr)), m_shared(std::move(other.m_shared)) {}
    FormKeep& operator=(FormKeep&& other) noexcept {
        reset();
        m_own = std::exchange(other.m_own, nullptr);
        m_shared = std::move(other.m_shared);
        return *this;
    }
    ~FormKeep() { reset(); }
    void reset() noexcept {
        if (m_own) letGo(std::exchange(m_own, nullptr));
        m_shared.reset();
    }

private:
    friend const ryArray* borrowRyArray(const Array& array, FormKeep& keep);
    static void letGo(HostForm* form) noexcept;
    HostForm* m_own = nullptr;                 // a form of the owning thread's
    std::shared_ptr<const HostForm> m_shared;  // any other thread's
};

// The host form of `array` to read during one call, without a copy: the host array a numeric,
// char, object or function array holds, or for a cell or struct a form made once and kept while
// no data array's content changes. Valid while `array` lives and `keep` is held; the caller
// reads it and never takes it over (destroys, stores or returns it). Passing the same input to
// many requests converts it once.
const ryArray* borrowRyArray(const Array& array, FormKeep& keep);

}  // namespace host::data
