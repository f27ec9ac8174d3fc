#include "vhost/ry/array.hpp"

#include <climits>

#include <algorithm>
#include <cstring>

#include "vhost/ry/class_info.hpp"
#include "vhost/ry/lifetime.hpp"
#include "vhost/ry/raise.hpp"
#include "vhost/ry/slots.hpp"
#include "vhost/ry/thread_block.hpp"

namespace vhost::ry {

// --- dimension lists ---------------------------------------------------------------------------

bool Dims::equal(const Dims& a, const std::size_t* b, std::size_t n) noexcept {
    return a.size() == n && std::equal(a.begin(), a.end(), b);
}

void Dims::reserve(std::size_t count) {
    if (count <= m_capacity) return;
    const std::size_t capacity = std::max(count, 2 * m_capacity);
    auto* grown = new std::size_t[capacity];
    std::copy(begin(), end(), grown);
    if (onHeap()) delete[] m_data;
    m_data = grown;
    m_capacity = capacity;
}

void Dims::assign(const std::size_t* values, std::size_t count) {
    reserve(count);
    // `values` is never this list's own: self-assignment is excluded.
    std::size_t* to = data();
    for (std::size_t i = 0; i < count; ++i) to[i] = values[i];
    m_size = count;
}

std::vector<std::size_t> normalizeDimensions(std::vector<std::size_t> dims) {
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
    if (dims.empty()) dims = {0, 0};
    if (dims.size() == 1) dims.push_back(1);
    return dims;
}

void normalize(Dims& dims) {
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
    if (dims.empty()) dims = {0, 0};
    if (dims.size() == 1) dims.push_back(1);
}

std::size_t elementCount(const std::size_t* dims, std::size_t n) {
    std::size_t count = 1;
    for (std::size_t i = 0; i < n; ++i) {
        // The overflow test without a division: every array made pays for this.
        if (__builtin_mul_overflow(count, dims[i], &count)) raise("tooManyElements");
    }
    return count;
}

ObjectState::~ObjectState() {
    for (auto& element : properties)
        for (auto& [name, value] : element) destroy(value);
}

std::shared_ptr<ObjectState> ObjectState::clone(bool deep) const {
    auto copy = std::make_shared<ObjectState>(properties.size());
    for (std::size_t i = 0; i < properties.size(); ++i)
        for (const auto& [name, value] : properties[i]) {
            if (!value) continue;
            ryArray* v = deep ? deepCopy(value) : sharedCopy(value);
            copy->properties[i].emplace(name, v);
        }
    return copy;
}

namespace {

// Elements of a container that is going away or shrinking: they are no longer anyone's element.
void destroyElements(std::vector<ryArray*>& elements, std::size_t from) {
    for (std::size_t i = from; i < elements.size(); ++i) {
        if (ryArray* element = elements[i]) {
            element->m_parent = nullptr;
            destroy(element);
        }
    }
    if (from < elements.size()) elements.resize(from);
}

}  // namespace

}  // namespace vhost::ry

using namespace vhost::ry;

namespace vhost::ry {

void formFreeArraySlot(void* slot) noexcept {
    auto* hosted = ::new (hostedRecordIn(slot)) NumericData(NumericData::FreeForm{}, slot);
    ::new (slot) ryArray(ryArray::FreeForm{}, hosted);
}

void hostTookBlocks(void* hostSlot) noexcept {
    // The host may have been released already (the record outlives it with a sharer): its slot
    // is still the record's until the record goes, and is formed again then.
    std::launder(static_cast<ryArray*>(hostSlot))->notPlain();
}

void giveArraySlot(ThreadBlock& thread, void* slot) noexcept {
    formFreeArraySlot(slot);
    slots::give(thread, slots::Kind::Array, slot);
}

}  // namespace vhost::ry

void* ryArray_tag::operator new(std::size_t) { return slots::take(slots::Kind::Array); }
void ryArray_tag::operator delete(void* slot) noexcept { giveArraySlot(threadBlock(), slot); }

ryArray_tag::ryArray_tag(ryClassID classId, Dims dims, std::size_t count, DataRef data)
    : m_count(count), m_class(classId), m_dims(std::move(dims)), m_data(std::move(data)) {
    m_hostsData = m_data.get() && m_data->hostSlot() == this;
    m_plain = m_hostsData && !m_data->hasBlocks() && m_dims.size() == 2 && !m_dims.onHeap();
    addTo(threadBlock().counts, kArrayUnit);
}

ryArray_tag::ryArray_tag(ryClassID classId, Dims dims, std::size_t count, Content content)
    : m_count(count), m_class(classId), m_dims(std::move(dims)), m_content(std::move(content)) {
    addTo(threadBlock().counts, kArrayUnit);
}

void ryArray_tag::releaseElements() noexcept {
    if (auto* c = cell()) destroyElements(c->elements, 0);
    if (auto* s = structure()) destroyElements(s->values, 0);
}

const int* ryArray_tag::compatDims() const {
    notPlain();
    m_compatDims.resize(m_dims.size());
    for (std::size_t i = 0; i < m_dims.size(); ++i)
        m_compatDims[i] = m_dims[i] > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(m_dims[i]);
    return m_compatDims.data();
}

void ryArray_tag::setDimensions(Dims dims) {
    normalize(dims);
    const std::size_t count = elementCount(dims);
    notPlain();
    if (NumericData* data = m_data.get()) {
        if (count > data->count()) writableNumeric()->reserve(count);
    } else if (auto* c = cell()) {
        destroyElements(c->elements, count);
        c->elements.resize(count, nullptr);
    } else if (auto* s = structure()) {
        const std::size_t slots = count * s->fields.size();
        destroyElements(s->values, slots);
        s->values.resize(slots, nullptr);
    } else if (auto* o = object()) {
        if (!o->handle && o->state.use_count() > 1) o->state = o->state->clone(false);
        for (std::size_t i = count; i < o->state->properties.size(); ++i)
            for (auto& [name, value] : o->state->properties[i]) destroy(value);
        o->state->properties.resize(count);
    }
    m_dims = std::move(dims);
    m_count = count;
}

std::string ryArray_tag::className() const {
    if (auto* o = object()) return o->className;
    return builtinClassName(m_class);
}

NumericData* ryArray_tag::detachedNumeric() {
    if (!m_data.get()) return nullptr;
    if (m_data.use_count() > 1) {
        m_data = DataRef(new NumericData(*m_data));
        notPlain();
    }
    return m_data.get();
}
