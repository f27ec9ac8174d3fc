// Creating, copying, tracking, parenting and destroying arrays (see array.hpp for the ownership
// rules). Factories return untracked arrays that are live (tagged live); track() hands
// one to the current array-list context of the calling thread's engine.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <ry_types.h>

#include "host/host_api.hpp"
#include "vhost/ry/array.hpp"
#include "vhost/ry/class_info.hpp"
#include "vhost/ry/contexts.hpp"
#include "vhost/ry/leaks.hpp"

namespace vhost::ry {

// Data arrays (numeric, logical, char). Complex is for numeric classes only.
HOST_API ryArray* newDataArray(Dims dims, ryClassID classId, bool complex, Layout layout, bool zeroed);
// An m-by-n data array (two dimensions need no normalising), already tracked by the current
// array-list context; `buffer`, when given, receives its data (NumericData::madeBuffer).
// `complex` only for numeric classes. The matrix and scalar factories of the module interface,
// which nearly every module call uses, come here: inline, so that each is one straight path.
[[gnu::always_inline]] inline ryArray* newTrackedMatrix(std::size_t m, std::size_t n, ryClassID classId, bool complex,
                                                        Layout layout, bool zeroed, void** buffer = nullptr);
// The same, untracked: newDataArray's straight path for two dimensions (the host language's
// numbers, made on every call of a built-in that answers one).
[[gnu::always_inline]] inline ryArray* newMatrix(std::size_t m, std::size_t n, ryClassID classId, bool complex,
                                                 Layout layout, bool zeroed);
HOST_API ryArray* newCharRow(std::u16string_view text);
HOST_API ryArray* newCellArray(Dims dims);
// Raises "VELTRA:ry:invalidFieldName" / "VELTRA:ry:duplicateFieldName" for bad field lists.
HOST_API ryArray* newStructArray(Dims dims, std::vector<std::string> fields);
// Handle or value semantics follow the class registry.
HOST_API ryArray* newObjectArray(std::string className, Dims dims);
HOST_API ryArray* newFunctionHandle(std::string text, std::shared_ptr<void> payload);

// A copy sharing data (copy on write) / an independent copy. Handle objects stay the same
// object in both. Untracked.
HOST_API ryArray* sharedCopy(const ryArray* array);
ryArray* deepCopy(const ryArray* array);

HOST_API bool isLive(const ryArray* array) noexcept;
// Releases a live array with everything it owns: unlinks it from its context or removes it from
// its parent first. Not live (destroyed already, never ours): nothing happens and false is
// returned. What was freed is added to `report` when given. Never looks up the engine, so it
// is safe while an engine's contexts are being torn down. (destroyArray: the same, inline.)
HOST_API bool destroy(ryArray* array, ContextReport* report = nullptr) noexcept;
inline bool destroyArray(ryArray* array, ContextReport* report = nullptr) noexcept;
// Bytes of data the array holds alone (shared data counts once it is no longer shared).
std::size_t ownedBytes(const ryArray* array) noexcept;

// Into the current array-list context (untracking first); untrack makes an array owned by the
// caller.
void track(ryArray* array);
void untrack(ryArray* array) noexcept;

// Elements. Setting transfers ownership of `value` (null empties the slot); an element that is
// replaced goes back to the current array-list context, where the caller may still destroy it.
// Raises "VELTRA:ry:alreadyElement" when value is an element of an array already,
// "VELTRA:ry:selfContaining" when it would contain itself, "VELTRA:ry:indexOutOfRange".
HOST_API void setCell(ryArray* cell, std::size_t index, ryArray* value);
HOST_API void setFieldValue(ryArray* structure, std::size_t index, std::size_t field, ryArray* value);
// Letters, digits and underscores, starting with a letter, at most 63 characters.
HOST_API bool isValidFieldName(const std::string& name) noexcept;
// Field numbers; -1 when absent.
int fieldNumber(const ryArray* structure, std::string_view name) noexcept;
// Adds a field (empty in every element); returns its number, or the existing number.
int addField(ryArray* structure, const std::string& name);
void removeField(ryArray* structure, std::size_t field);

// Object properties. propertyOf returns the stored value (null when absent or out of range);
// setProperty takes ownership of an untracked `value`.
const ryArray* propertyOf(const ryArray* object, std::size_t index, const std::string& name) noexcept;
void setProperty(ryArray* object, std::size_t index, const std::string& name, ryArray* value);

// --- the inline parts ---------------------------------------------------------------------------

[[noreturn]] void raiseTooManyElements();
// Clears the parent's slot holding `child` (the child stays alive).
void leaveParent(ryArray* child) noexcept;
// destroyArray of a live array, in general.
[[gnu::noinline]] void destroyLive(ryArray* array, ContextReport* report) noexcept;

// newTrackedMatrix in general; out of line.
[[gnu::noinline]] ryArray* newTrackedMatrixInGeneral(std::size_t m, std::size_t n, ryClassID classId, bool complex,
                                                     Layout layout, bool zeroed, void** buffer);
// The same with no buffer asked for: six arguments, all in registers, so that a factory's way
// there is a jump and its usual path aligns no stack.
[[gnu::noinline]] ryArray* newTrackedMatrixInGeneral(std::size_t m, std::size_t n, ryClassID classId, bool complex,
                                                     Layout layout, bool zeroed);

// The usual matrix: real, its data in its record's own room, made on a thread that has its
// engine's contexts and a free array slot at hand. One straight path with no call, so that the
// factories that come here save no registers; null, with nothing done, for any other.
[[gnu::always_inline]] inline ryArray* newSmallRealMatrix(std::size_t m, std::size_t n, ryClassID classId, bool zeroed,
                                                          void** buffer) {
    ThreadBlock* thread = t_threadBlock;
    vhost::Engine* engine = vhost::detail::t_boundEngine;
    // No engine at all is tested only off the usual path, where the thread has one bound.
    if (!engine) [[unlikely]] {
        engine = vhost::detail::g_defaultEngine.load(std::memory_order_acquire);
        if (!engine) return nullptr;
    }
    const std::size_t size = elementSize(classId);
    // Both extents below 128 (one test of the two or'd): their product cannot overflow, and an
    // element is at least a byte (data classes only come here), so the bytes alone bound the count.
    std::size_t count = 0;
    std::size_t bytes = 0;
    if (!thread || thread->engine.load(std::memory_order_relaxed) != engine ||
        (m | n) >= 128 || (bytes = (count = m * n) * size) > NumericData::kInlineBytes) [[unlikely]]
        return nullptr;
    void* slot = slots::takeIfFree(*thread, slots::Kind::Array);
    if (!slot) [[unlikely]]
        return nullptr;
    ArrayContext& context = thread->contexts.load(std::memory_order_relaxed)->arrays();
    // A free slot holds the free form of an array and its record: each is revived in place.
    NumericData* data = NumericData::revive(hostedRecordIn(slot), size, count, bytes, zeroed);
    ryArray* array = ryArray::revive(slot, classId, m, n, count);
    addTo(thread->counts, kArrayUnit + static_cast<std::int64_t>(bytes));
    // Before the links are written, which the compiler cannot tell from the record's fields.
    if (buffer) *buffer = data->realOnly();
    context.link(array);
    return array;
}

inline ryArray* newTrackedMatrix(std::size_t m, std::size_t n, ryClassID classId, bool complex, Layout layout,
                                 bool zeroed, void** buffer) {
    if (!complex) {
        if (ryArray* array = newSmallRealMatrix(m, n, classId, zeroed, buffer)) [[likely]]
            return array;
    }
    if (!buffer) return newTrackedMatrixInGeneral(m, n, classId, complex, layout, zeroed);
    return newTrackedMatrixInGeneral(m, n, classId, complex, layout, zeroed, buffer);
}

// newMatrix on a given thread's block; its record is hosted in the array's slot.
[[gnu::always_inline]] inline ryArray* newMatrixOn(ThreadBlock& thread, std::size_t m, std::size_t n,
                                                   ryClassID classId, bool complex, Layout layout, bool zeroed) {
    std::size_t count = 0;
    if (__builtin_mul_overflow(m, n, &count)) [[unlikely]]
        raiseTooManyElements();
    void* slot = slots::take(thread, slots::Kind::Array);
    NumericData* data = nullptr;
    try {
        data = ::new (hostedRecordIn(slot))
            NumericData(elementSize(classId), count, complex, layout, zeroed, slot, thread);
    } catch (...) {
        // Its first word never held the live tag: it goes back as a free slot.
        giveArraySlot(thread, slot);
        throw;
    }
    return ::new (slot) ryArray(classId, m, n, count, data, thread);
}

inline ryArray* newMatrix(std::size_t m, std::size_t n, ryClassID classId, bool complex, Layout layout,
                          bool zeroed) {
    return newMatrixOn(threadBlock(), m, n, classId, complex, layout, zeroed);
}

}  // namespace vhost::ry

inline bool ryArray_tag::releasePlain() noexcept {
    using namespace vhost::ry;
    auto* hosted = static_cast<NumericData*>(hostedRecordIn(this));
    // Plain: what the array holds is the record in its slot, which nobody else holds, and
    // nothing on the heap; the slot is in the free form but for what a new matrix writes anyway
    // (tag, links, class, extents, the record's sizes and flags). A thread that has no block yet
    // takes the general path, which makes one: this one has no call of its own, so it saves no
    // registers.
    ThreadBlock* thread = t_threadBlock;
    if (!m_plain || !thread) return false;
    clearTag();
    if (ArrayContext* context = m_context) ArrayContext::forget(this, context);
    addTo(thread->counts, -(kArrayUnit + hosted->inlineBytes()));
    slots::give(*thread, slots::Kind::Array, this);
    return true;
}

namespace vhost::ry {

inline bool destroyArray(ryArray* array, ContextReport* report) noexcept {
    if (!isLiveArray(array)) return false;
    // Nearly every array a call releases is one made by a matrix factory and never shared or
    // reshaped: its slot goes back with no destructor run (see releasePlain). The rest is out of
    // line, so that this path saves no registers.
    if (!report && array->releasePlain()) [[likely]]
        return true;
    destroyLive(array, report);
    return true;
}

}  // namespace vhost::ry
