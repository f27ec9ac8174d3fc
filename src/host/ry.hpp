// Host array library: the operations the runtime calls on arrays, allocation contexts, errors and
// interface versions. The module-facing C array API (ryCreateDoubleMatrix, ryGetPr, ...) is in
// the SDK header <ry.h>; this header is what the runtime itself relies on.
//
// Arrays and memory belong to the engine of the calling thread; call these on that engine's
// thread (the module call thread) unless stated otherwise.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <ry_types.h>

#include "host/exceptions.hpp"
#include "host/host_api.hpp"
#include "host/storage.hpp"

namespace host {

// --- memory tracked by allocation-list contexts -------------------------------------------------

// Zeroed memory owned by the current allocation-list context: freed when that context is left
// unless removeFromAllocList was called on it. Null when count*size overflows or memory runs out.
HOST_API void* ryCalloc(std::size_t count, std::size_t size);
// Frees memory from ryCalloc (tracked or persistent). Null is a no-op.
HOST_API void ryFree(void* pointer);
// Frees memory the host allocated for the caller (strings converted from arrays).
HOST_API void ryFreeEx(void* pointer);
// Makes tracked memory persistent: it is no longer freed when its context is left.
HOST_API void removeFromAllocList(void* pointer);

// Allocation-list and array-list contexts. Entering returns a token for the context that was
// current before; everything allocated (memory, arrays) while the new context is current is
// recorded in it. Contexts nest strictly; leaving one also leaves every context entered after it
// that is still open (as when an error skipped an inner exit), freeing what those hold.
using ryContextToken = void*;
HOST_API ryContextToken ryEnterNewAllocListContext();
HOST_API ryContextToken ryEnterNewArrayListContext();
// Leaves the array-list context entered when `token` was returned: destroys every array created
// in it except the `count` arrays in `outputs` (null entries ignored; outputs may be null when
// count is 0) and arrays made persistent. With keep true the kept outputs move to the enclosing
// context (they become the caller's temporaries); with keep false they are destroyed too. Arrays
// the context does not track (an enclosing context's, persistent ones) are never destroyed here.
// A kept output that is an element of another array (a cell element, a field value) is replaced
// in `outputs` by a copy that the enclosing context owns, so the caller never owns an element.
HOST_API void ryExitArrayListContext(ryContextToken token, ryArray** outputs, int count, bool keep);
// Leaves the allocation-list context: frees every tracked block allocated in it that was not made
// persistent, and makes the context of `token` current again.
HOST_API void ryRestorePreviousAllocListContext(ryContextToken token);
// The host's part of one module call, in one step each way: the call frame makes these around
// every module call. Entering enters an allocation-list context, then an array-list context (as
// the two calls above would), and answers, in `call`, what the frame reads during the call:
// the calling engine's pinned record (host::storage::pinned) and the host's interrupt request. With `entryInputs` set, the frame calls the module's entry itself right after: the
// `count` inputs (null entries skipped) are marked not reusable (rySetReusable(input, false)),
// and the thread runs with the process's own identity, not an impersonated one, until the leave
// (as RevertImpersonationGuard would around the entry call). With `entryInputs` null, the
// strategy that calls the entry does both itself. Leaving restores the identity when entering
// reverted it, then is ryExitArrayListContext(arrays, outputs, count, true), then
// ryRestorePreviousAllocListContext(blocks). An exception from entering leaves nothing entered.
struct ryCallContexts {
    ryContextToken blocks;
    ryContextToken arrays;
    // The host's own: where the contexts were entered (an engine outlives every call on it).
    void* engine;
};
struct ryModuleCall {
    ryCallContexts contexts;
    // host::storage::pinned() of the calling engine.
    void* pinned;
    // True while a user interrupt is pending (utInterruptState::IsInterruptPending): a safe point
    // reads it and, when set, calls utInterruptState::ThrowIfInterruptPending. Process-wide.
    const std::atomic<bool>* interruptRequest;
    // The host's own: what the leave restores (the identity the thread had).
    void* identity;
};
HOST_API void ryEnterModuleCall(ryModuleCall& call, ryArray* const* entryInputs, int count);
HOST_API void ryLeaveModuleCall(const ryModuleCall& call, ryArray** outputs, int count);

// --- arrays ------------------------------------------------------------------------------------

// An owned array; the deleter destroys it. `to_veltra` hands ownership to the current array-list
// context as a plain handle; `from_veltra` takes a plain handle out of context tracking.
struct HOST_API ryArrayDeleter {
    void operator()(ryArray* a) const noexcept;
};
using ryUnique = std::unique_ptr<ryArray, ryArrayDeleter>;
HOST_API ryArray* to_veltra(ryUnique array);
HOST_API ryUnique from_veltra(ryArray* array);

// A new 8-bit text converted to a 1-by-n character array (UTF-8 in, UTF-16 stored).
HOST_API ryArray* ryCreateString(const char* text);
// UTF-16 text of a character array; allocated by the host, free with ryFreeEx. Null when the
// array is not a character array.
HOST_API char16_t* ryArrayToString_UTF16(const ryArray* array);
HOST_API std::u16string get_ustring(const ryArray* array);

// Struct fields and object properties; null when absent. ryGetField returns the element's field
// as stored (not a copy). The property getters return a shared copy owned by the caller's
// array-list context; rySetPropertyShared stores a shared copy of value.
HOST_API ryArray* ryGetField(const ryArray* array, std::size_t index, const char* field);
HOST_API ryArray* ryGetProperty(const ryArray* array, std::size_t index, const char* property);
HOST_API ryArray* ryGetPropertyShared(const ryArray* array, std::size_t index, const std::u16string& property);
HOST_API void rySetPropertyShared(ryArray* array, std::size_t index, const std::u16string& property, const ryArray* value);

// Class membership: ryIsA also answers true for superclasses; ryIsClass only for the exact class.
HOST_API bool ryIsA(const ryArray* array, const char* className);
HOST_API bool ryIsClass(const ryArray* array, const char* className);
HOST_API ryClassID ryGetClassID(const ryArray* array);
HOST_API std::size_t ryGetNumberOfElements(const ryArray* array);
HOST_API ryScope ryGetArrayScope(const ryArray* array);
// Persistent arrays survive the end of the call that created them.
HOST_API void rySetArrayScope(ryArray* array, ryScope scope);
HOST_API void rySetReusable(ryArray* array, bool reusable);

// Releases an array the caller created (and owns); null is a no-op.
HOST_API void destroyArray(ryArray* array);

HOST_API ryUnique do_create_uninitnumeric(const std::vector<std::size_t>& dims, ryClassID classId, ryComplexity complexity);
HOST_API ryUnique do_shared_copy(const ryArray* array);
HOST_API ryUnique do_deep_copy(const ryArray* array);
// Brings the interleaved complex storage of `array` in step with its separate real and imaginary
// parts (or the other way round) after a module of the other layout wrote to it.
HOST_API void updateInterleavedData(ryArray* array);

// --- errors and warnings -------------------------------------------------------------------------

// Raises the host error `identifier` (may be empty) with the formatted text. Does not return.
[[noreturn]] HOST_API void ryErrMsgIdAndTxt(const char* identifier, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Issues a warning: printed as "Warning: " + text and recorded for the engine.
HOST_API void ryWarningMsgIdAndTxt(const char* identifier, const char* format, ...) __attribute__((format(printf, 2, 3)));
HOST_API void ryVWarningMsgIdAndTxt(const char* identifier, const char* format, va_list args);
HOST_API void ryWarningMsgId(const MessageIdException& warning);

// The host's standard argument-count errors. Do not return.
[[noreturn]] HOST_API void error_maxlhs();
[[noreturn]] HOST_API void error_maxrhs();
[[noreturn]] HOST_API void error_minrhs();

// --- interface versions --------------------------------------------------------------------------

HOST_API bool is_interleaved_complex_version(std::uint32_t apinum);
HOST_API bool is_64bit_version(std::uint32_t apinum);
HOST_API bool is_current_version(std::uint32_t apinum);
HOST_API bool is_compatible_version(std::uint32_t apinum);
// Display names with static lifetime; an unknown number gets a name that says so.
HOST_API const char16_t* get_version_name(std::uint32_t apinum);
HOST_API const char16_t* get_current_version_name();

}  // namespace host
