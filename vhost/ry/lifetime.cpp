#include "vhost/ry/lifetime.hpp"

#include <algorithm>
#include <cctype>
#include <new>

#include "vhost/ry/class_info.hpp"
#include "vhost/ry/class_registry.hpp"
#include "vhost/ry/contexts.hpp"
#include "vhost/ry/raise.hpp"
#include "vhost/ry/slots.hpp"
#include "vhost/ry/thread_block.hpp"

namespace vhost::ry {

ryArray* newTrackedMatrixInGeneral(std::size_t m, std::size_t n, ryClassID classId, bool complex, Layout layout,
                                   bool zeroed) {
    return newTrackedMatrixInGeneral(m, n, classId, complex, layout, zeroed, nullptr);
}

ryArray* newTrackedMatrixInGeneral(std::size_t m, std::size_t n, ryClassID classId, bool complex, Layout layout,
                                   bool zeroed, void** buffer) {
    // Found first: nothing is left to undo when it fails.
    ThreadBlock& thread = threadBlock();
    ArrayContext& context = engineContexts(thread).arrays();
    ryArray* array = newMatrixOn(thread, m, n, classId, complex, layout, zeroed);
    auto* data = static_cast<NumericData*>(hostedRecordIn(array));
    context.link(array);
    if (buffer) *buffer = complex ? data->madeBuffer() : data->realOnly();
    return array;
}

bool isValidFieldName(const std::string& name) noexcept {
    constexpr std::size_t kMaxLength = 63;
    if (name.empty() || name.size() > kMaxLength) return false;
    if (!std::isalpha(static_cast<unsigned char>(name[0]))) return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

namespace {

// A container whose elements are copies (shared or deep) of `from`'s, parented to the new array.
std::vector<ryArray*> copyElements(const std::vector<ryArray*>& from, bool deep, ryArray* parent) {
    std::vector<ryArray*> copies(from.size(), nullptr);
    try {
        for (std::size_t i = 0; i < from.size(); ++i) {
            if (!from[i]) continue;
            copies[i] = deep ? deepCopy(from[i]) : sharedCopy(from[i]);
            copies[i]->setParent(parent);
        }
    } catch (...) {
        for (ryArray* c : copies)
            if (c) {
                c->m_parent = nullptr;
                destroy(c);
            }
        throw;
    }
    return copies;
}

ryArray* copyOf(const ryArray* array, bool deep) {
    ryArray* copy = nullptr;
    const std::size_t count = array->numberOfElements();
    if (const NumericData* data = array->numeric()) {
        DataRef numeric = deep ? DataRef(new NumericData(*data)) : array->shareData();
        copy = new ryArray(array->classId(), array->dims(), count, std::move(numeric));
    } else if (auto* c = array->cell()) {
        copy = new ryArray(ryCELL_CLASS, array->dims(), count, CellContent{});
        try {
            copy->cell()->elements = copyElements(c->elements, deep, copy);
        } catch (...) {
            destroy(copy);
            throw;
        }
    } else if (auto* s = array->structure()) {
        copy = new ryArray(rySTRUCT_CLASS, array->dims(), count, StructContent{s->fields, {}});
        try {
            copy->structure()->values = copyElements(s->values, deep, copy);
        } catch (...) {
            destroy(copy);
            throw;
        }
    } else if (auto* o = array->object()) {
        ObjectContent object{o->className, o->handle, o->state};
        if (deep && !o->handle) object.state = o->state->clone(true);
        copy = new ryArray(ryOBJECT_CLASS, array->dims(), count, std::move(object));
    } else {
        copy = new ryArray(array->classId(), array->dims(), count, *array->function());
    }
    return copy;
}

std::vector<ryArray*>& slotsOf(ryArray* parent) {
    if (auto* c = parent->cell()) return c->elements;
    return parent->structure()->values;
}

void checkNewElement(const ryArray* container, const ryArray* value) {
    if (!value) return;
    if (!isLive(value)) raise("invalidArray");
    if (value->m_parent) raise("alreadyElement");
    for (const ryArray* a = container; a; a = a->m_parent)
        if (a == value) raise("selfContaining");
}

void replaceSlot(ryArray* container, ryArray*& slot, ryArray* value) {
    ryArray* old = slot;
    if (old == value) return;
    if (value) {
        untrack(value);
        value->setParent(container);
    }
    slot = value;
    if (old) {
        old->m_parent = nullptr;
        track(old);
    }
}

}  // namespace

void raiseTooManyElements() { raise("tooManyElements"); }

void leaveParent(ryArray* child) noexcept {
    ryArray* parent = child->m_parent;
    if (!parent) return;
    for (ryArray*& slot : slotsOf(parent))
        if (slot == child) slot = nullptr;
    child->m_parent = nullptr;
}

ryArray* newDataArray(Dims dims, ryClassID classId, bool complex, Layout layout, bool zeroed) {
    normalize(dims);
    const std::size_t count = elementCount(dims);
    void* slot = slots::take(slots::Kind::Array);
    NumericData* data = nullptr;
    try {
        data = ::new (hostedRecordIn(slot))
            NumericData(elementSize(classId), count, complex && isNumericClass(classId), layout, zeroed, slot);
    } catch (...) {
        giveArraySlot(threadBlock(), slot);
        throw;
    }
    return ::new (slot) ryArray(classId, std::move(dims), count, DataRef(data));
}

ryArray* newCharRow(std::u16string_view text) {
    ryArray* array = newDataArray({1, text.size()}, ryCHAR_CLASS, false, Layout::Separate, false);
    std::copy(text.begin(), text.end(), static_cast<char16_t*>(array->writableNumeric()->real(Access::Write)));
    return array;
}

ryArray* newCellArray(Dims dims) {
    normalize(dims);
    const std::size_t count = elementCount(dims);
    return new ryArray(ryCELL_CLASS, std::move(dims), count, CellContent{std::vector<ryArray*>(count, nullptr)});
}

ryArray* newStructArray(Dims dims, std::vector<std::string> fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (!isValidFieldName(fields[i])) raise("invalidFieldName", {fields[i]});
        if (std::find(fields.begin(), fields.begin() + static_cast<std::ptrdiff_t>(i), fields[i]) !=
            fields.begin() + static_cast<std::ptrdiff_t>(i))
            raise("duplicateFieldName", {fields[i]});
    }
    normalize(dims);
    const std::size_t count = elementCount(dims);
    // Checked before the multiplication by the field count can overflow.
    std::size_t slots = 0;
    if (__builtin_mul_overflow(count, fields.size(), &slots)) raise("tooManyElements");
    StructContent content{std::move(fields), std::vector<ryArray*>(slots, nullptr)};
    return new ryArray(rySTRUCT_CLASS, std::move(dims), count, std::move(content));
}

ryArray* newObjectArray(std::string className, Dims dims) {
    normalize(dims);
    const std::size_t count = elementCount(dims);
    const bool handle = isHandleClass(className);
    auto state = std::make_shared<ObjectState>(count);
    ObjectContent content{std::move(className), handle, std::move(state)};
    return new ryArray(ryOBJECT_CLASS, std::move(dims), count, std::move(content));
}

ryArray* newFunctionHandle(std::string text, std::shared_ptr<void> payload) {
    return new ryArray(ryFUNCTION_CLASS, {1, 1}, 1, FunctionContent{std::move(text), std::move(payload)});
}

ryArray* sharedCopy(const ryArray* array) { return copyOf(array, false); }
ryArray* deepCopy(const ryArray* array) { return copyOf(array, true); }

bool isLive(const ryArray* array) noexcept { return isLiveArray(array); }

std::size_t ownedBytes(const ryArray* array) noexcept {
    if (const NumericData* data = array->numeric()) return data->references() == 1 ? data->bytes() : 0;
    std::size_t bytes = 0;
    auto sum = [&bytes](const std::vector<ryArray*>& elements) {
        for (const ryArray* e : elements)
            if (e) bytes += ownedBytes(e);
    };
    if (auto* c = array->cell()) sum(c->elements);
    if (auto* s = array->structure()) sum(s->values);
    if (auto* o = array->object(); o && o->state.use_count() == 1)
        for (const auto& element : o->state->properties)
            for (const auto& [name, value] : element) bytes += ownedBytes(value);
    return bytes;
}

bool destroy(ryArray* array, ContextReport* report) noexcept { return destroyArray(array, report); }

void destroyLive(ryArray* array, ContextReport* report) noexcept {
    array->clearTag();
    ArrayContext::unlink(array);
    if (array->m_parent) [[unlikely]]
        leaveParent(array);
    if (report) {
        report->arrays += 1;
        report->bytes += ownedBytes(array);
    }
    array->release();
}

void track(ryArray* array) {
    if (!array || array->m_parent) return;
    ArrayContext& current = engineContexts().arrays();
    ArrayContext::unlink(array);
    current.link(array);
}

void untrack(ryArray* array) noexcept {
    if (array) ArrayContext::unlink(array);
}

void setCell(ryArray* cell, std::size_t index, ryArray* value) {
    CellContent* content = cell->cell();
    if (!content) raise("wrongClass", {std::string("cell"), cell->className()});
    if (index >= content->elements.size())
        raise("indexOutOfRange", {static_cast<std::uint64_t>(index), static_cast<std::uint64_t>(content->elements.size())});
    checkNewElement(cell, value);
    replaceSlot(cell, content->elements[index], value);
}

void setFieldValue(ryArray* structure, std::size_t index, std::size_t field, ryArray* value) {
    StructContent* content = structure->structure();
    if (!content) raise("wrongClass", {std::string("struct"), structure->className()});
    if (index >= structure->numberOfElements())
        raise("indexOutOfRange", {static_cast<std::uint64_t>(index), static_cast<std::uint64_t>(structure->numberOfElements())});
    if (field >= content->fields.size())
        raise("fieldOutOfRange", {static_cast<std::uint64_t>(field), static_cast<std::uint64_t>(content->fields.size())});
    checkNewElement(structure, value);
    replaceSlot(structure, content->values[index * content->fields.size() + field], value);
}

int fieldNumber(const ryArray* structure, std::string_view name) noexcept {
    const StructContent* content = structure->structure();
    if (!content) return -1;
    for (std::size_t i = 0; i < content->fields.size(); ++i)
        if (content->fields[i] == name) return static_cast<int>(i);
    return -1;
}

int addField(ryArray* structure, const std::string& name) {
    StructContent* content = structure->structure();
    if (!content) raise("wrongClass", {std::string("struct"), structure->className()});
    if (int existing = fieldNumber(structure, name); existing >= 0) return existing;
    if (!isValidFieldName(name)) raise("invalidFieldName", {name});
    const std::size_t before = content->fields.size();
    std::vector<ryArray*> values;
    values.reserve(structure->numberOfElements() * (before + 1));
    for (std::size_t e = 0; e < structure->numberOfElements(); ++e) {
        values.insert(values.end(), content->values.begin() + static_cast<std::ptrdiff_t>(e * before),
                      content->values.begin() + static_cast<std::ptrdiff_t>((e + 1) * before));
        values.push_back(nullptr);
    }
    content->fields.push_back(name);
    content->values = std::move(values);
    return static_cast<int>(before);
}

void removeField(ryArray* structure, std::size_t field) {
    StructContent* content = structure->structure();
    if (!content || field >= content->fields.size()) return;
    const std::size_t before = content->fields.size();
    std::vector<ryArray*> values;
    std::vector<ryArray*> dropped;
    for (std::size_t i = 0; i < content->values.size(); ++i)
        (i % before == field ? dropped : values).push_back(content->values[i]);
    content->fields.erase(content->fields.begin() + static_cast<std::ptrdiff_t>(field));
    content->values = std::move(values);
    for (ryArray* value : dropped)
        if (value) {
            value->m_parent = nullptr;
            destroy(value);
        }
}

const ryArray* propertyOf(const ryArray* object, std::size_t index, const std::string& name) noexcept {
    const ObjectContent* content = object ? object->object() : nullptr;
    if (!content || index >= content->state->properties.size()) return nullptr;
    const auto& element = content->state->properties[index];
    auto found = element.find(name);
    return found == element.end() ? nullptr : found->second;
}

void setProperty(ryArray* object, std::size_t index, const std::string& name, ryArray* value) {
    ObjectContent* content = object->object();
    if (!content) {
        destroy(value);
        raise("wrongClass", {std::string("object"), object->className()});
    }
    if (index >= content->state->properties.size()) {
        destroy(value);
        raise("indexOutOfRange", {static_cast<std::uint64_t>(index),
                                  static_cast<std::uint64_t>(content->state->properties.size())});
    }
    if (!content->handle && content->state.use_count() > 1) content->state = content->state->clone(false);
    untrack(value);
    ryArray*& slot = content->state->properties[index][name];
    ryArray* old = slot;
    slot = value;
    if (old != value) destroy(old);
}

}  // namespace vhost::ry
