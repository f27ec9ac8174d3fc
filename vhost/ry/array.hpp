// The array of the reference host (ryArray): class, dimensions, content, scope, and the links
// by which an array is tracked by a context or owned by a parent array.
//
// Ownership: an array is owned by exactly one of
//   - an array-list context (it is tracked: m_context is set), freed when the context is left;
//   - a parent array (a cell element or a struct field value: m_parent is set);
//   - its creator or nobody (untracked): arrays from the factory functions below before they are
//     tracked, persistent and global arrays, and arrays held by a unique handle.
// Content: numeric, logical and char arrays hold NumericData in shared ownership, so a shared
// copy costs no data copy; anything that may write (every data pointer handed to a module)
// detaches first (copy on write). Containers own their elements; a shared copy of a container
// is a new container of shared copies.
// Memory: an array lives in an array slot (slots.hpp), whose first word is the array's tag:
// kLiveTag from construction until the array is released, so that a handle released already,
// or never one of ours, is recognised without a shared record of live arrays. A data array made
// with new data holds it in the same slot, after the array (kHostedOffset): one slot for the
// array, its data record and small data. The slot is free once the array is released and no
// sharer of the hosted record is left (the record counts its host array among its holders).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <variant>
#include <vector>

#include <ry_types.h>

#include "host/host_api.hpp"
#include "vhost/ry/numeric_data.hpp"

namespace vhost::ry {

class ArrayContext;

// A dimension list; up to four dimensions are held without an allocation of their own.
class HOST_API Dims {
public:
    Dims() noexcept = default;
    Dims(std::initializer_list<std::size_t> values) { assign(values.begin(), values.size()); }
    // Only the two used: every matrix made comes here.
    Dims(std::size_t m, std::size_t n) noexcept : m_size(2) {
        m_inline[0] = m;
        m_inline[1] = n;
    }
    // Sets the extents of a list of two dimensions held inline (an array revived in a free slot).
    void setMatrix(std::size_t m, std::size_t n) noexcept {
        m_inline[0] = m;
        m_inline[1] = n;
    }
    Dims(const std::size_t* values, std::size_t count) { assign(values, count); }
    Dims(const std::vector<std::size_t>& values) { assign(values.data(), values.size()); }
    Dims(const Dims& other) { assign(other.data(), other.size()); }
    Dims(Dims&& other) noexcept { take(other); }
    Dims& operator=(const Dims& other) {
        if (this != &other) assign(other.data(), other.size());
        return *this;
    }
    Dims& operator=(Dims&& other) noexcept {
        if (this != &other) {
            if (onHeap()) delete[] m_data;
            take(other);
        }
        return *this;
    }
    ~Dims() {
        if (onHeap()) delete[] m_data;
    }

    std::size_t size() const noexcept { return m_size; }
    bool empty() const noexcept { return m_size == 0; }
    // Whether the list took an allocation of its own (more than four dimensions, ever).
    bool onHeap() const noexcept { return m_data != m_inline; }
    const std::size_t* data() const noexcept { return m_data; }
    std::size_t* data() noexcept { return m_data; }
    const std::size_t* begin() const noexcept { return data(); }
    const std::size_t* end() const noexcept { return data() + m_size; }
    std::size_t operator[](std::size_t i) const noexcept { return data()[i]; }
    std::size_t& operator[](std::size_t i) noexcept { return data()[i]; }
    std::size_t back() const noexcept { return data()[m_size - 1]; }
    void pop_back() noexcept { --m_size; }
    void push_back(std::size_t value) {
        reserve(m_size + 1);
        data()[m_size++] = value;
    }
    operator std::vector<std::size_t>() const { return std::vector<std::size_t>(begin(), end()); }

    friend bool operator==(const Dims& a, const Dims& b) noexcept { return equal(a, b.data(), b.size()); }
    friend bool operator==(const Dims& a, const std::vector<std::size_t>& b) noexcept {
        return equal(a, b.data(), b.size());
    }

    using value_type = std::size_t;
    using const_iterator = const std::size_t*;
    using iterator = const std::size_t*;

private:
    static constexpr std::size_t kInline = 4;
    static bool equal(const Dims& a, const std::size_t* b, std::size_t n) noexcept;
    void assign(const std::size_t* values, std::size_t count);
    void reserve(std::size_t count);
    // Moves the list out of `other` (this one holds no allocation): the inline room is copied
    // whole, which is cheaper than copying what it holds.
    void take(Dims& other) noexcept {
        m_size = other.m_size;
        m_capacity = other.m_capacity;
        if (other.onHeap()) {
            m_data = other.m_data;
            other.m_data = other.m_inline;
        } else {
            m_data = m_inline;
            for (std::size_t i = 0; i < kInline; ++i) m_inline[i] = other.m_inline[i];
        }
        other.m_size = 0;
        other.m_capacity = kInline;
    }

    // The inline room first: a matrix's two extents are the list's first two words.
    std::size_t m_inline[kInline];
    std::size_t m_size = 0;
    std::size_t m_capacity = kInline;
    // The inline room or the allocation: read with no test (every query of a shape reads it).
    // A list is never moved as bytes, so it may point into itself.
    std::size_t* m_data = m_inline;
};

struct CellContent {
    std::vector<ryArray*> elements;  // null: an empty element
};

struct StructContent {
    std::vector<std::string> fields;
    std::vector<ryArray*> values;  // element-major: values[element * fields.size() + field]
};

// Property values of the elements of one object array. Values are owned and never handed out
// (readers get copies), so they are neither tracked nor parented.
struct ObjectState {
    explicit ObjectState(std::size_t elements) : properties(elements) {}
    ObjectState(const ObjectState&) = delete;
    ObjectState& operator=(const ObjectState&) = delete;
    ~ObjectState();
    // A new state whose values are shared copies of these.
    std::shared_ptr<ObjectState> clone(bool deep) const;

    std::vector<std::map<std::string, ryArray*>> properties;
};

struct ObjectContent {
    std::string className;
    bool handle = false;
    // Handle objects: every copy shares the state. Value objects: shared until one copy is
    // written (copy on write).
    std::shared_ptr<ObjectState> state;
};

// A function handle: an opaque payload its creator interprets, and a text for display.
struct FunctionContent {
    std::string text;
    std::shared_ptr<void> payload;
};

// What an array holds besides data: nothing for a data array (its data is apart, see
// ryArray_tag::numeric), or its elements, fields, object state or function.
using Content = std::variant<std::monostate, CellContent, StructContent, ObjectContent, FunctionContent>;

// Dimensions as the library keeps them: at least two, trailing ones beyond the second dropped.
HOST_API std::vector<std::size_t> normalizeDimensions(std::vector<std::size_t> dims);
HOST_API void normalize(Dims& dims);
// Product of the dimensions; raises "VELTRA:ry:tooManyElements" on overflow.
HOST_API std::size_t elementCount(const std::size_t* dims, std::size_t count);
inline std::size_t elementCount(const std::vector<std::size_t>& dims) { return elementCount(dims.data(), dims.size()); }
inline std::size_t elementCount(const Dims& dims) { return elementCount(dims.data(), dims.size()); }

inline constexpr std::uint64_t kLiveTag = 0x6c69766561727279;  // "yrraevil"

}  // namespace vhost::ry

struct HOST_API ryArray_tag {
public:
    // `dims` normalised already.
    ryArray_tag(ryClassID classId, vhost::ry::Dims dims, std::size_t count, vhost::ry::DataRef data);
    ryArray_tag(ryClassID classId, vhost::ry::Dims dims, std::size_t count, vhost::ry::Content content);
    // An m-by-n data array holding `data` (its reference taken over), which its slot hosts; count
    // is m * n.
    ryArray_tag(ryClassID classId, std::size_t m, std::size_t n, std::size_t count, vhost::ry::NumericData* data,
                vhost::ry::ThreadBlock& thread) noexcept
        : m_count(count), m_class(classId), m_plain(!data->hasBlocks()), m_hostsData(true), m_dims(m, n), m_data(data) {
        vhost::ry::addTo(thread.counts, vhost::ry::kArrayUnit);
    }
    // The form every free array slot holds (see vhost::ry::formFreeArraySlot): not live, holding
    // the reference to the record in its slot, two dimensions inline, no links, nothing else.
    struct FreeForm {};
    ryArray_tag(FreeForm, vhost::ry::NumericData* hosted) noexcept : m_tag(0), m_dims(std::size_t{0}, std::size_t{0}), m_data(hosted) {}
    // The m-by-n data array of the record hosted in a free `slot` (made there already with
    // NumericData::revive): only what differs from the free form is written, so that the usual
    // new matrix costs a few stores. The caller counts the array.
    static ryArray_tag* revive(void* slot, ryClassID classId, std::size_t m, std::size_t n, std::size_t count) noexcept {
        auto* array = std::launder(static_cast<ryArray_tag*>(slot));
        __atomic_store_n(&array->m_tag, vhost::ry::kLiveTag, __ATOMIC_RELAXED);
        array->m_count = count;
        array->m_class = classId;
        array->m_scope = ryTEMPORARY_SCOPE;
        array->m_reusable = false;
        array->m_plain = true;
        array->m_hostsData = true;
        array->m_dims.setMatrix(m, n);
        return array;
    }
    ~ryArray_tag() {
        clearTag();
        if (m_content.index() != 0) [[unlikely]]
            releaseElements();
        vhost::ry::addTo(vhost::ry::threadBlock().counts, -vhost::ry::kArrayUnit);
    }
    ryArray_tag(const ryArray_tag&) = delete;
    ryArray_tag& operator=(const ryArray_tag&) = delete;
    static void* operator new(std::size_t size);
    static void operator delete(void* slot) noexcept;
    // Destroys the array and frees its slot, unless a sharer of the record it hosts is left (the
    // last one frees it). Instead of delete, for every array.
    void release() noexcept;
    // release() of a live plain array (see plain()) whose record nobody else holds and which has
    // no buffer outside it: unlinks it from its context and frees the slot, leaving it in the
    // free form; false, with nothing done, for any other. (Inline, in lifetime.hpp.)
    inline bool releasePlain() noexcept;

    // kLiveTag while the array is live; cleared when it is released.
    std::uint64_t tag() const noexcept { return __atomic_load_n(&m_tag, __ATOMIC_RELAXED); }
    void clearTag() noexcept { __atomic_store_n(&m_tag, 0, __ATOMIC_RELAXED); }

    ryClassID classId() const noexcept { return m_class; }
    const vhost::ry::Dims& dims() const noexcept { return m_dims; }
    // The dimensions as 32-bit integers, for the compatibility interface (values beyond its range
    // are cut to INT_MAX).
    const int* compatDims() const;
    std::size_t numberOfElements() const noexcept { return m_count; }
    // Reshapes; data arrays grow their buffers when needed (new elements zero), containers
    // destroy elements that no longer fit and add empty ones.
    void setDimensions(vhost::ry::Dims dims);

    std::string className() const;
    bool isComplex() const noexcept {
        const vhost::ry::NumericData* data = numeric();
        return data && data->isComplex();
    }

    // Data arrays only (null otherwise). `numeric()` reads; `writableNumeric()` detaches shared
    // data first.
    const vhost::ry::NumericData* numeric() const noexcept { return m_data.get(); }
    vhost::ry::NumericData* writableNumeric() {
        // Inline for data no other array shares, which is nearly all of it.
        vhost::ry::NumericData* data = m_data.get();
        if (data && data->heldByOneReference()) [[likely]]
            return data;
        return detachedNumeric();
    }
    // The data record itself, shared or not (for tests of sharing).
    vhost::ry::NumericData* sharedNumeric() const noexcept { return m_data.get(); }
    // Another reference to the data record, for a shared copy; the only way one is made.
    vhost::ry::DataRef shareData() const noexcept {
        notPlain();
        return m_data;
    }

    vhost::ry::CellContent* cell() noexcept { return std::get_if<vhost::ry::CellContent>(&m_content); }
    const vhost::ry::CellContent* cell() const noexcept { return std::get_if<vhost::ry::CellContent>(&m_content); }
    vhost::ry::StructContent* structure() noexcept { return std::get_if<vhost::ry::StructContent>(&m_content); }
    const vhost::ry::StructContent* structure() const noexcept { return std::get_if<vhost::ry::StructContent>(&m_content); }
    vhost::ry::ObjectContent* object() noexcept { return std::get_if<vhost::ry::ObjectContent>(&m_content); }
    const vhost::ry::ObjectContent* object() const noexcept { return std::get_if<vhost::ry::ObjectContent>(&m_content); }
    const vhost::ry::FunctionContent* function() const noexcept { return std::get_if<vhost::ry::FunctionContent>(&m_content); }

    ryScope scope() const noexcept { return static_cast<ryScope>(m_scope); }
    void setScopeValue(ryScope scope) noexcept { m_scope = static_cast<std::uint8_t>(scope); }
    bool reusable() const noexcept { return m_reusable; }
    void setReusable(bool reusable) noexcept { m_reusable = reusable; }

    // Plain: the array holds the record its slot hosts and nobody else ever did (so the record's
    // holders are the array and its one reference), the record never took a block, the array
    // has two dimensions inline and no list of 32-bit ones, and it has never been anyone's
    // element. Every operation that could change one of these clears it for good (notPlain);
    // releasePlain and a free slot's form rely on it.
    bool plain() const noexcept { return m_plain; }
    // Written only while it is set: then the array is its record's only holder, so only its own
    // user can get here, or several threads sharing it at once, whose stores are atomic. Once
    // clear, it is only read.
    void notPlain() const noexcept {
        if (__atomic_load_n(&m_plain, __ATOMIC_RELAXED)) __atomic_store_n(&m_plain, false, __ATOMIC_RELAXED);
    }
    // Makes the array an element of `parent` (or of nobody, with null).
    void setParent(ryArray_tag* parent) noexcept {
        m_parent = parent;
        if (parent) notPlain();
    }

private:
    vhost::ry::NumericData* detachedNumeric();
    // Elements of a container that is going away: they are no longer anyone's element.
    void releaseElements() noexcept;

    // The fields a new matrix writes come first, in the slot's first 64 bytes; the rest keep
    // their free form in a free slot.
    // First: the slot's first word (see slots.hpp).
    std::uint64_t m_tag = vhost::ry::kLiveTag;

public:
    // Ownership links, maintained by the contexts and the ownership functions of lifetime.hpp.
    // The first is a free slot's list link (slots::linkOf).
    vhost::ry::ArrayContext* m_context = nullptr;
    ryArray_tag* m_trackPrev = nullptr;
    ryArray_tag* m_trackNext = nullptr;

private:
    std::size_t m_count = 0;
    ryClassID m_class = ryUNKNOWN_CLASS;
    std::uint8_t m_scope = ryTEMPORARY_SCOPE;
    bool m_reusable = false;
    mutable bool m_plain = false;
    // Whether a data record lives in this array's slot (whether or not the array still uses it).
    bool m_hostsData = false;
    vhost::ry::Dims m_dims;
    vhost::ry::DataRef m_data;

public:
    ryArray_tag* m_parent = nullptr;

private:
    mutable std::vector<int> m_compatDims;
    vhost::ry::Content m_content;
};

namespace vhost::ry {

// Where a record hosted by an array slot begins.
inline constexpr std::size_t kHostedOffset = (sizeof(ryArray_tag) + 15) & ~std::size_t{15};
static_assert(kHostedOffset + sizeof(NumericData) <= slots::kArraySlot && alignof(ryArray_tag) <= 16 &&
              alignof(NumericData) <= 16);
inline void* hostedRecordIn(void* slot) noexcept { return static_cast<char*>(slot) + kHostedOffset; }

// Null is on no slot.
inline bool isLiveArray(const ryArray* array) noexcept {
    return slots::isArraySlot(array) && array->tag() == kLiveTag;
}

}  // namespace vhost::ry

inline void ryArray_tag::release() noexcept {
    using namespace vhost::ry;
    if (!m_hostsData) {
        this->~ryArray_tag();
        giveArraySlot(threadBlock(), this);
        return;
    }
    auto* hosted = static_cast<NumericData*>(hostedRecordIn(this));
    if (m_data.get() == hosted && hosted->heldByHostAlone()) [[likely]] {
        // Nobody else holds the record or can take it up: one disposal, no atomic update.
        m_data.release();
        ThreadBlock& thread = threadBlock();
        if (!m_dims.onHeap() && m_compatDims.capacity() == 0) [[likely]] {
            // Then nothing the array holds needs its destructor: the data reference is let go,
            // the lists hold no memory. Only the count is the destructor's work.
            clearTag();
            addTo(thread.counts, -kArrayUnit);
        } else {
            this->~ryArray_tag();
        }
        NumericData::dispose(hosted, thread);
        return;
    }
    this->~ryArray_tag();
    NumericData::releaseHost(hosted);
}
