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
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include <ry_types.h>

#include "host/host_api.hpp"
#include "vhost/ry/numeric_data.hpp"

namespace vhost::ry {

class ArrayContext;

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

using Content = std::variant<std::shared_ptr<NumericData>, CellContent, StructContent, ObjectContent, FunctionContent>;

// Dimensions as the library keeps them: at least two, trailing ones beyond the second dropped.
HOST_API std::vector<std::size_t> normalizeDimensions(std::vector<std::size_t> dims);
// Product of the dimensions; raises "VELTRA:ry:tooManyElements" on overflow.
HOST_API std::size_t elementCount(const std::vector<std::size_t>& dims);

}  // namespace vhost::ry

struct HOST_API ryArray_tag {
public:
    ryArray_tag(ryClassID classId, std::vector<std::size_t> dims, vhost::ry::Content content);
    ~ryArray_tag();
    ryArray_tag(const ryArray_tag&) = delete;
    ryArray_tag& operator=(const ryArray_tag&) = delete;

    ryClassID classId() const noexcept { return m_class; }
    const std::vector<std::size_t>& dims() const noexcept { return m_dims; }
    // The dimensions as 32-bit integers, for the compatibility interface (values beyond its range
    // are cut to INT_MAX).
    const int* compatDims() const;
    std::size_t numberOfElements() const noexcept { return m_count; }
    // Reshapes; data arrays grow their buffers when needed (new elements zero), containers
    // destroy elements that no longer fit and add empty ones.
    void setDimensions(std::vector<std::size_t> dims);

    std::string className() const;
    bool isComplex() const noexcept;

    // Data arrays only (null otherwise). `numeric()` reads; `writableNumeric()` detaches shared
    // data first.
    const vhost::ry::NumericData* numeric() const noexcept;
    vhost::ry::NumericData* writableNumeric();
    const std::shared_ptr<vhost::ry::NumericData>& sharedNumeric() const;

    vhost::ry::CellContent* cell() noexcept { return std::get_if<vhost::ry::CellContent>(&m_content); }
    const vhost::ry::CellContent* cell() const noexcept { return std::get_if<vhost::ry::CellContent>(&m_content); }
    vhost::ry::StructContent* structure() noexcept { return std::get_if<vhost::ry::StructContent>(&m_content); }
    const vhost::ry::StructContent* structure() const noexcept { return std::get_if<vhost::ry::StructContent>(&m_content); }
    vhost::ry::ObjectContent* object() noexcept { return std::get_if<vhost::ry::ObjectContent>(&m_content); }
    const vhost::ry::ObjectContent* object() const noexcept { return std::get_if<vhost::ry::ObjectContent>(&m_content); }
    const vhost::ry::FunctionContent* function() const noexcept { return std::get_if<vhost::ry::FunctionContent>(&m_content); }
    const vhost::ry::Content& content() const noexcept { return m_content; }

    ryScope scope() const noexcept { return m_scope; }
    void setScopeValue(ryScope scope) noexcept { m_scope = scope; }
    bool reusable() const noexcept { return m_reusable; }
    void setReusable(bool reusable) noexcept { m_reusable = reusable; }

    // Ownership links, maintained by the contexts and the ownership functions of lifetime.hpp.
    vhost::ry::ArrayContext* m_context = nullptr;
    ryArray_tag* m_trackPrev = nullptr;
    ryArray_tag* m_trackNext = nullptr;
    ryArray_tag* m_parent = nullptr;

private:
    ryClassID m_class;
    std::vector<std::size_t> m_dims;
    std::size_t m_count;
    mutable std::vector<int> m_compatDims;
    vhost::ry::Content m_content;
    ryScope m_scope = ryTEMPORARY_SCOPE;
    bool m_reusable = false;
};
