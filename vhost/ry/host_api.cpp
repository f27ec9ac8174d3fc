// The array-library operations the runtime calls (host/ry.hpp).
#include <algorithm>
#include <cstring>
#include <limits>

#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "vhost/ry/class_info.hpp"
#include "vhost/ry/class_registry.hpp"
#include "vhost/ry/contexts.hpp"
#include "vhost/ry/lifetime.hpp"
#include "vhost/ry/memory.hpp"
#include "vhost/ry/raise.hpp"
#include "vhost/ut/interrupt.hpp"

namespace host {

using namespace vhost::ry;

// --- memory ------------------------------------------------------------------------------------

void* ryCalloc(std::size_t count, std::size_t size) {
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size) return nullptr;
    return callerAllocate(count * size, true);
}
void ryFree(void* pointer) { callerFree(pointer); }
void ryFreeEx(void* pointer) { callerFree(pointer); }
void removeFromAllocList(void* pointer) { makePersistent(pointer); }

// --- contexts ----------------------------------------------------------------------------------

ryContextToken ryEnterNewAllocListContext() { return engineContexts().enterAllocList(); }
ryContextToken ryEnterNewArrayListContext() { return engineContexts().enterArrayList(); }
void ryExitArrayListContext(ryContextToken token, ryArray** outputs, int count, bool keep) {
    engineContexts().exitArrayList(token, outputs, count, keep);
}
void ryRestorePreviousAllocListContext(ryContextToken token) { engineContexts().restoreAllocList(token); }
namespace {

// What both ends of a module call do with its inputs and identity.
void markEntryInputs(ryArray* const* entryInputs, int count) noexcept {
    if (count <= 0) return;
    // The first input on its own: most calls have one, and the loop's bookkeeping is then all
    // there is to it.
    if (ryArray* input = entryInputs[0]) input->setReusable(false);
    for (int i = 1; i < count; ++i) {
        if (ryArray* input = entryInputs[i]) input->setReusable(false);
    }
}

[[gnu::noinline]] void enterModuleCallInGeneral(ryModuleCall& call, ryArray* const* entryInputs, int count) {
    // The engine found once, for its contexts and its pinned record alike.
    ThreadBlock& thread = threadBlock();
    vhost::Engine& engine = vhost::currentEngine();
    EngineContexts& contexts = engineContexts(thread);
    call.contexts.engine = &contexts;
    call.contexts.blocks = contexts.enterAllocList();
    try {
        call.contexts.arrays = contexts.enterArrayList();
    } catch (...) {
        contexts.restoreAllocList(call.contexts.blocks);
        throw;
    }
    call.pinned = engine.storage().pinned();
    call.interruptRequest = &vhost::ut::g_interruptRequest;
    // No impersonation on POSIX hosts: nothing to revert, nothing to restore.
    call.identity = nullptr;
    if (entryInputs) markEntryInputs(entryInputs, count);
}

[[gnu::noinline]] void leaveModuleCallInGeneral(const ryModuleCall& call, ryArray** outputs, int count) {
    auto& contexts = *static_cast<EngineContexts*>(call.contexts.engine);
    contexts.exitArrayList(call.contexts.arrays, outputs, count, true);
    contexts.restoreAllocList(call.contexts.blocks);
}

}  // namespace

// Both ends are made for every module call: the usual case, a thread that made arrays on its
// engine before and a call that leaves nothing to free, is one straight path without a call of
// its own; anything else goes the general way.
void ryEnterModuleCall(ryModuleCall& call, ryArray* const* entryInputs, int count) {
    ThreadBlock* thread = t_threadBlock;
    vhost::Engine* engine = vhost::detail::t_boundEngine;
    // No engine at all is tested only off the usual path, where the thread has one bound.
    if (!engine) [[unlikely]] {
        engine = vhost::detail::g_defaultEngine.load(std::memory_order_acquire);
        if (!engine) return enterModuleCallInGeneral(call, entryInputs, count);
    }
    if (!thread || thread->engine.load(std::memory_order_relaxed) != engine) [[unlikely]]
        return enterModuleCallInGeneral(call, entryInputs, count);
    EngineContexts& contexts = *thread->contexts.load(std::memory_order_relaxed);
    if (!contexts.enterCallFromSpares(call.contexts.blocks, call.contexts.arrays)) [[unlikely]]
        return enterModuleCallInGeneral(call, entryInputs, count);
    call.contexts.engine = &contexts;
    call.pinned = engine->storage().pinned();
    call.interruptRequest = &vhost::ut::g_interruptRequest;
    // The identity is left unwritten: with no impersonation the leave never reads it.
    if (entryInputs) markEntryInputs(entryInputs, count);
}

void ryLeaveModuleCall(const ryModuleCall& call, ryArray** outputs, int count) {
    auto& contexts = *static_cast<EngineContexts*>(call.contexts.engine);
    if (contexts.leaveCallQuickly(call.contexts.blocks, call.contexts.arrays, outputs, count)) [[likely]]
        return;
    leaveModuleCallInGeneral(call, outputs, count);
}

// --- arrays ------------------------------------------------------------------------------------

void ryArrayDeleter::operator()(ryArray* a) const noexcept { destroy(a); }

ryArray* to_veltra(ryUnique array) {
    if (!array) return nullptr;
    track(array.get());
    return array.release();
}

ryUnique from_veltra(ryArray* array) {
    untrack(array);
    return ryUnique(array);
}

ryArray* ryCreateString(const char* text) {
    ryArray* array = newCharRow(i18n::to_ustring(text ? text : ""));
    try {
        track(array);
    } catch (...) {
        destroy(array);
        throw;
    }
    return array;
}

std::u16string get_ustring(const ryArray* array) {
    if (!array || array->classId() != ryCHAR_CLASS) return {};
    const auto* chars = static_cast<const char16_t*>(array->numeric()->real(Access::Read));
    return std::u16string(chars, array->numberOfElements());
}

char16_t* ryArrayToString_UTF16(const ryArray* array) {
    if (!array || array->classId() != ryCHAR_CLASS) return nullptr;
    const std::u16string text = get_ustring(array);
    const std::size_t bytes = (text.size() + 1) * sizeof(char16_t);
    auto* copy = static_cast<char16_t*>(callerAllocateUntracked(bytes, false));
    if (!copy) raiseOutOfMemory(bytes);
    std::memcpy(copy, text.c_str(), bytes);
    return copy;
}

ryArray* ryGetField(const ryArray* array, std::size_t index, const char* field) {
    if (!array || !field) return nullptr;
    const StructContent* content = array->structure();
    const int number = fieldNumber(array, field);
    if (!content || number < 0 || index >= array->numberOfElements()) return nullptr;
    return content->values[index * content->fields.size() + static_cast<std::size_t>(number)];
}

ryArray* ryGetProperty(const ryArray* array, std::size_t index, const char* property) {
    const ryArray* value = property ? propertyOf(array, index, property) : nullptr;
    if (!value) return nullptr;
    ryArray* copy = sharedCopy(value);
    try {
        track(copy);
    } catch (...) {
        destroy(copy);
        throw;
    }
    return copy;
}

ryArray* ryGetPropertyShared(const ryArray* array, std::size_t index, const std::u16string& property) {
    return ryGetProperty(array, index, i18n::to_string(property).c_str());
}

void rySetPropertyShared(ryArray* array, std::size_t index, const std::u16string& property, const ryArray* value) {
    if (!array) raise("nullArray", {std::string("rySetPropertyShared")});
    setProperty(array, index, i18n::to_string(property), value ? sharedCopy(value) : nullptr);
}

bool ryIsA(const ryArray* array, const char* className) {
    if (!array || !className) return false;
    if (const ObjectContent* object = array->object()) return classDerivesFrom(object->className, className);
    return array->className() == className;
}

bool ryIsClass(const ryArray* array, const char* className) {
    return array && className && array->className() == className;
}

ryClassID ryGetClassID(const ryArray* array) { return array ? array->classId() : ryUNKNOWN_CLASS; }
std::size_t ryGetNumberOfElements(const ryArray* array) { return array ? array->numberOfElements() : 0; }
ryScope ryGetArrayScope(const ryArray* array) { return array ? array->scope() : ryTEMPORARY_SCOPE; }

void rySetArrayScope(ryArray* array, ryScope scope) {
    if (!array) return;
    array->setScopeValue(scope);
    if (scope == ryTEMPORARY_SCOPE) track(array);
    else untrack(array);
}

void rySetReusable(ryArray* array, bool reusable) {
    if (array) array->setReusable(reusable);
}

void destroyArray(ryArray* array) { destroy(array); }

ryUnique do_create_uninitnumeric(const std::vector<std::size_t>& dims, ryClassID classId, ryComplexity complexity) {
    if (!isDataClass(classId)) raise("notNumericClass", {std::string("do_create_uninitnumeric"), std::string(builtinClassName(classId))});
    return ryUnique(newDataArray(dims, classId, complexity == ryCOMPLEX, Layout::Interleaved, false));
}

ryUnique do_shared_copy(const ryArray* array) { return ryUnique(array ? sharedCopy(array) : nullptr); }
ryUnique do_deep_copy(const ryArray* array) { return ryUnique(array ? deepCopy(array) : nullptr); }

void updateInterleavedData(ryArray* array) {
    if (!array) return;
    if (array->numeric()) {
        // Both layouts describe the same values, so bringing them in step is no write: sharers
        // of the data see the same values before and after.
        array->sharedNumeric()->sync();
    } else if (CellContent* cell = array->cell()) {
        for (ryArray* element : cell->elements) updateInterleavedData(element);
    } else if (StructContent* structure = array->structure()) {
        for (ryArray* value : structure->values) updateInterleavedData(value);
    } else if (ObjectContent* object = array->object()) {
        for (auto& element : object->state->properties)
            for (auto& [name, value] : element) updateInterleavedData(value);
    }
}

}  // namespace host
