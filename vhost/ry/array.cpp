#include "vhost/ry/array.hpp"

#include <climits>

#include "vhost/ry/class_info.hpp"
#include "vhost/ry/lifetime.hpp"
#include "vhost/ry/raise.hpp"

namespace vhost::ry {

std::vector<std::size_t> normalizeDimensions(std::vector<std::size_t> dims) {
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
    if (dims.empty()) dims = {0, 0};
    if (dims.size() == 1) dims.push_back(1);
    return dims;
}

std::size_t elementCount(const std::vector<std::size_t>& dims) {
    std::size_t count = 1;
    for (std::size_t d : dims) {
        // The overflow test without a division: every array made pays for this.
        if (__builtin_mul_overflow(count, d, &count)) raise("tooManyElements");
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

ryArray_tag::ryArray_tag(ryClassID classId, std::vector<std::size_t> dims, Content content)
    : m_class(classId),
      m_dims(normalizeDimensions(std::move(dims))),
      m_count(elementCount(m_dims)),
      m_content(std::move(content)) {}

ryArray_tag::~ryArray_tag() {
    if (auto* c = cell()) destroyElements(c->elements, 0);
    if (auto* s = structure()) destroyElements(s->values, 0);
}

const int* ryArray_tag::compatDims() const {
    m_compatDims.resize(m_dims.size());
    for (std::size_t i = 0; i < m_dims.size(); ++i)
        m_compatDims[i] = m_dims[i] > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(m_dims[i]);
    return m_compatDims.data();
}

void ryArray_tag::setDimensions(std::vector<std::size_t> dims) {
    dims = normalizeDimensions(std::move(dims));
    const std::size_t count = elementCount(dims);
    if (auto* data = std::get_if<std::shared_ptr<NumericData>>(&m_content)) {
        if (count > (*data)->count()) writableNumeric()->reserve(count);
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

bool ryArray_tag::isComplex() const noexcept {
    const NumericData* data = numeric();
    return data && data->isComplex();
}

const NumericData* ryArray_tag::numeric() const noexcept {
    auto* data = std::get_if<std::shared_ptr<NumericData>>(&m_content);
    return data ? data->get() : nullptr;
}

NumericData* ryArray_tag::writableNumeric() {
    auto* data = std::get_if<std::shared_ptr<NumericData>>(&m_content);
    if (!data) return nullptr;
    if (data->use_count() > 1) *data = std::make_shared<NumericData>(**data);
    return data->get();
}

const std::shared_ptr<NumericData>& ryArray_tag::sharedNumeric() const {
    return std::get<std::shared_ptr<NumericData>>(m_content);
}
