// Reference counting, the host-side owner, the factory and the conversions to and from host
// arrays.

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>
#include <utility>

#include "host/ry.hpp"
#include "vhost/dataarray/impl.hpp"
#include "vhost/ry/array.hpp"
#include "vhost/ry/lifetime.hpp"
#include "vhost/ry/thread_block.hpp"
#include "host/poison.hpp"

namespace vhost::data {
namespace {
// Counts changes of content that a container's host form could hold: an element set, or the
// data of an array written while something else may hold it. One counter for all arrays, as an
// element has no way back to the containers holding it.
std::atomic<std::uint64_t> g_contentChanges{0};
void contentChanged() noexcept { g_contentChanges.fetch_add(1, std::memory_order_acq_rel); }
}  // namespace

// Each thread counts what it makes and frees in its own block of the array library; the sum over
// all threads, ended ones included, is exact while none of them makes or frees one.
std::size_t liveArrayCount() noexcept { return static_cast<std::size_t>(vhost::ry::sumOfThreadCounts().dataArrays); }

namespace {
void countArrays(std::int64_t delta) noexcept { vhost::ry::addTo(vhost::ry::threadBlock().dataArrays, delta); }
}  // namespace

}  // namespace vhost::data


namespace host::data {

namespace ry = vhost::ry;

namespace {

// Implementation objects freed on a thread wait there for the next one it makes (up to
// kKeptImpls): a request's output is made and destroyed on the engine's thread, and without the
// store each one cost an allocation and a free. A waiting block is poisoned under the address
// sanitizer, so a use after release is still reported.
constexpr int kKeptImpls = 64;

// Plain data, so that reaching it costs no check of whether it was made yet; the closer, made
// with the first block kept, frees what is left when the thread ends.
struct ImplStore {
    void* blocks[kKeptImpls];
    int count;
    bool closerMade;
    bool closed;  // implementations released by later thread-exit destructors are freed
};
thread_local ImplStore t_implStore;

struct ImplStoreCloser {
    ~ImplStoreCloser() {
        ImplStore& store = t_implStore;
        store.closed = true;
        while (store.count > 0) {
            void* block = store.blocks[--store.count];
            ORB_UNPOISON(block, sizeof(ArrayImpl));
            ::operator delete(block, sizeof(ArrayImpl));
        }
    }
};

void makeCloser() {
    thread_local ImplStoreCloser closer;
    (void)closer;
    t_implStore.closerMade = true;
}

}  // namespace

void* ArrayImpl::operator new(std::size_t bytes) {
    ImplStore& store = t_implStore;
    if (bytes != sizeof(ArrayImpl) || store.count == 0) return ::operator new(bytes);
    void* block = store.blocks[--store.count];
    ORB_UNPOISON(block, sizeof(ArrayImpl));
    return block;
}

namespace {
// The block of an implementation object destroyed: kept for the thread's next one, or freed.
inline void recycle(void* memory) noexcept {
    ImplStore& store = t_implStore;
    if (store.closed || store.count == kKeptImpls) {
        ::operator delete(memory, sizeof(ArrayImpl));
        return;
    }
    ORB_POISON(memory, sizeof(ArrayImpl));
    store.blocks[store.count++] = memory;
    if (!store.closerMade) makeCloser();
}
}  // namespace

void ArrayImpl::operator delete(void* memory, std::size_t bytes) noexcept {
    if (bytes != sizeof(ArrayImpl)) {
        ::operator delete(memory, bytes);
        return;
    }
    recycle(memory);
}

ArrayImpl::ArrayImpl(ArrayType t, ry::Dims d) : type(t), dims(std::move(d)) {
    ry::normalize(dims);
    vhost::data::countArrays(1);
}

// Two dimensions (nearly every host array) are copied in place rather than through the list's
// general copy.
ArrayImpl::ArrayImpl(ArrayType t, const ry::Dims& d, Normalized)
    : type(t), dims(d.size() == 2 ? ry::Dims(d[0], d[1]) : ry::Dims(d)) {
    vhost::data::countArrays(1);
}

ArrayImpl::~ArrayImpl() {
    if (host) {
        ry::destroy(host);
    } else {
        for (ArrayImpl* e : elements) release(e);
        delete ownForm;  // its borrows were let go before the array's last reference
    }
    vhost::data::countArrays(-1);
}

std::size_t ArrayImpl::count() const { return ry::elementCount(dims); }

HostForm::~HostForm() { ry::destroy(array); }

void addRef(ArrayImpl* impl) noexcept {
    if (impl) impl->refs.fetch_add(1, std::memory_order_relaxed);
}

// A count equal to the references let go is the caller's alone, and no thread takes one without
// holding one (an element's through its container's): read with acquire, it frees without the
// locked update.
void release(ArrayImpl* impl, std::uint64_t count) noexcept {
    if (!impl || count == 0) return;
    if (impl->refs.load(std::memory_order_acquire) == count ||
        impl->refs.fetch_sub(count, std::memory_order_acq_rel) == count) {
        impl->~ArrayImpl();  // what delete does, with the store of freed blocks reached in line
        recycle(impl);
    }
}

void release(ArrayImpl* impl) noexcept { release(impl, 1); }

Array Array::adopt(ArrayImpl* impl) noexcept {
    Array a;
    a.m_impl = impl;
    return a;
}

Array Array::share(ArrayImpl* impl) noexcept {
    addRef(impl);
    return adopt(impl);
}

Array::Array(const Array& other) noexcept : m_impl(other.m_impl) { addRef(m_impl); }
Array::Array(Array&& other) noexcept : m_impl(std::exchange(other.m_impl, nullptr)) {}

Array& Array::operator=(Array other) noexcept {
    std::swap(m_impl, other.m_impl);
    return *this;
}

ArrayImpl* Array::newReference() const noexcept {
    addRef(m_impl);
    return m_impl;
}

namespace {

const ArrayImpl& checked(const ArrayImpl* impl) {
    if (!impl) throw std::invalid_argument("empty data array");
    return *impl;
}

bool isNumericType(ArrayType t) {
    return t == ArrayType::LOGICAL || (t >= ArrayType::DOUBLE && t <= ArrayType::UINT64) ||
           t == ArrayType::COMPLEX_DOUBLE || t == ArrayType::COMPLEX_SINGLE;
}

// Wraps an untracked host array that the new implementation takes over.
Array holding(ArrayType type, ryArray* host) {
    host::ryUnique owned(host);  // destroyed if the implementation cannot be made
    auto* impl = new ArrayImpl(type, host->dims(), ArrayImpl::Normalized{});
    impl->host = owned.release();
    return Array::adopt(impl);
}

ArrayImpl& container(Array& array, ArrayType type, std::size_t index) {
    ArrayImpl* impl = array.impl();
    if (!impl || impl->type != type) throw std::invalid_argument("not an array of the required type");
    if (index >= impl->count()) throw std::out_of_range("element index out of range");
    return *impl;
}

}  // namespace

ArrayType Array::getType() const { return checked(m_impl).type; }
std::vector<std::size_t> Array::getDimensions() const { return checked(m_impl).dims; }
std::size_t Array::getNumberOfElements() const { return checked(m_impl).count(); }

Array ArrayFactory::createStructArray(const std::vector<std::size_t>& dims, const std::vector<std::string>& fields) {
    std::set<std::string> seen;
    for (const std::string& f : fields) {
        if (!ry::isValidFieldName(f)) throw std::invalid_argument("invalid field name: " + f);
        if (!seen.insert(f).second) throw std::invalid_argument("duplicate field name: " + f);
    }
    auto* impl = new ArrayImpl(ArrayType::STRUCT, dims);
    Array a = Array::adopt(impl);
    impl->fields = fields;
    impl->elements.assign(impl->count() * fields.size(), nullptr);
    return a;
}

Array ArrayFactory::createCharArray(const std::u16string& text) {
    return holding(ArrayType::CHAR, ry::newCharRow(text));
}

Array ArrayFactory::createCellArray(const std::vector<std::size_t>& dims) {
    auto* impl = new ArrayImpl(ArrayType::CELL, dims);
    Array a = Array::adopt(impl);
    impl->elements.assign(impl->count(), nullptr);
    return a;
}

namespace {
template <typename T>
Array scalar(ArrayType type, T value) {
    Array a = vhost::data::newNumericArray(type, {1, 1});
    std::memcpy(vhost::data::writableElementData(*a.impl()), &value, sizeof value);
    return a;
}
}  // namespace

Array ArrayFactory::createScalarInt32(std::int32_t value) { return scalar(ArrayType::INT32, value); }
Array ArrayFactory::createScalarDouble(double value) { return scalar(ArrayType::DOUBLE, value); }
Array ArrayFactory::createScalarUInt64(std::uint64_t value) { return scalar(ArrayType::UINT64, value); }

Array ArrayFactory::createStringArray(const std::vector<std::u16string>& values) {
    auto* impl = new ArrayImpl(ArrayType::STRING, ry::Dims(1, values.size()));
    Array a = Array::adopt(impl);
    impl->strings = values;
    return a;
}

void ArrayFactory::setField(Array& structArray, std::size_t index, const std::string& field, Array value) {
    ArrayImpl& s = container(structArray, ArrayType::STRUCT, index);
    ArrayImpl*& slot = s.elements[index * s.fields.size() + vhost::data::fieldIndex(s, field)];
    release(std::exchange(slot, value.newReference()));
    vhost::data::contentChanged();
}

void ArrayFactory::setCell(Array& cellArray, std::size_t index, Array value) {
    ArrayImpl& c = container(cellArray, ArrayType::CELL, index);
    release(std::exchange(c.elements[index], value.newReference()));
    vhost::data::contentChanged();
}

namespace {

// The data-array type of a host array that is not a container.
ArrayType leafType(const ryArray* array) {
    const ryClassID cls = array->classId();
    switch (cls) {
    case ryLOGICAL_CLASS: return ArrayType::LOGICAL;
    case ryCHAR_CLASS: return ArrayType::CHAR;
    case ryFUNCTION_CLASS: return ArrayType::FUNCTION;
    case ryOBJECT_CLASS: return array->object()->handle ? ArrayType::HANDLE_OBJECT : ArrayType::VALUE_OBJECT;
    default: break;
    }
    if (cls < ryDOUBLE_CLASS || cls > ryUINT64_CLASS) throw std::invalid_argument("host array class has no data-array type");
    if (!array->isComplex()) return static_cast<ArrayType>(cls);  // the numeric codes coincide
    if (cls != ryDOUBLE_CLASS && cls != rySINGLE_CLASS)
        throw std::invalid_argument("complex integer arrays have no data-array type");
    return cls == ryDOUBLE_CLASS ? ArrayType::COMPLEX_DOUBLE : ArrayType::COMPLEX_SINGLE;
}

bool isContainer(const ryArray* array) {
    return array->classId() == ryCELL_CLASS || array->classId() == rySTRUCT_CLASS;
}

}  // namespace

Array createArrayFromRyArray(const ryArray* array) {
    if (!array) throw std::invalid_argument("no host array to convert");
    switch (array->classId()) {
    case ryCELL_CLASS: {
        Array a = ArrayFactory().createCellArray(array->dims());
        const auto& elements = array->cell()->elements;
        for (std::size_t i = 0; i < elements.size(); ++i)
            if (elements[i]) a.impl()->elements[i] = createArrayFromRyArray(elements[i]).newReference();
        return a;
    }
    case rySTRUCT_CLASS: {
        const ry::StructContent& s = *array->structure();
        Array a = ArrayFactory().createStructArray(array->dims(), s.fields);
        for (std::size_t i = 0; i < s.values.size(); ++i)
            if (s.values[i]) a.impl()->elements[i] = createArrayFromRyArray(s.values[i]).newReference();
        return a;
    }
    default: {
        const ArrayType type = leafType(array);
        return holding(type, ry::sharedCopy(array));
    }
    }
}

Array adoptRyArray(ryArray* array) {
    if (!array) throw std::invalid_argument("no host array to convert");
    // Held as it is only when nothing else has a say in it: a copy would start the same way.
    const bool plain = !array->m_context && !array->m_parent && array->scope() == ryTEMPORARY_SCOPE && !array->reusable();
    // A call's output is nearly always a real numeric array (a double scalar, say): its type is
    // its class's code, with no look-up of the general table.
    const ryClassID cls = array->classId();
    if (plain && cls >= ryDOUBLE_CLASS && cls <= ryUINT64_CLASS && !array->isComplex()) [[likely]]
        return holding(static_cast<ArrayType>(cls), array);
    host::ryUnique owned(array);
    if (!plain || isContainer(array)) return createArrayFromRyArray(array);
    const ArrayType type = leafType(array);  // may refuse it: `owned` destroys it then
    return holding(type, owned.release());
}

namespace {
struct HostGuard {
    ryArray* array;
    ~HostGuard() {
        if (array) ry::destroy(array);
    }
    ryArray* take() { return std::exchange(array, nullptr); }
};
}  // namespace

ryArray* createRyArray(const Array& array) {
    const ArrayImpl& impl = checked(array.impl());
    if (impl.host) return ry::sharedCopy(impl.host);
    if (impl.type == ArrayType::CELL) {
        HostGuard out{ry::newCellArray(impl.dims)};
        for (std::size_t i = 0; i < impl.elements.size(); ++i)
            if (impl.elements[i]) ry::setCell(out.array, i, createRyArray(Array::share(impl.elements[i])));
        return out.take();
    }
    if (impl.type == ArrayType::STRUCT) {
        HostGuard out{ry::newStructArray(impl.dims, impl.fields)};
        const std::size_t nf = impl.fields.size();
        for (std::size_t i = 0; i < impl.elements.size(); ++i)
            if (impl.elements[i])
                ry::setFieldValue(out.array, i / nf, i % nf, createRyArray(Array::share(impl.elements[i])));
        return out.take();
    }
    throw std::invalid_argument("data array type has no host array form");
}

void releaseRyArray(ryArray* array) {
    if (array) ry::destroy(array);
}

namespace {
// Made of `array` as it is now, tagged with `generation`.
HostForm* newForm(const Array& array, std::uint64_t generation) {
    ryArray* made = createRyArray(array);
    try {
        return new HostForm(made, generation);
    } catch (...) {
        ry::destroy(made);
        throw;
    }
}
}  // namespace

const ryArray* borrowRyArray(const Array& array, FormKeep& keep) {
    const ArrayImpl& impl = checked(array.impl());
    if (impl.host) return impl.host;
    if (impl.type != ArrayType::CELL && impl.type != ArrayType::STRUCT)
        throw std::invalid_argument("data array type has no host array form");
    keep.reset();
    // Read before the form is made: a change made meanwhile leaves the form out of date.
    const std::uint64_t generation = vhost::data::g_contentChanges.load(std::memory_order_acquire);
    const void* const self = &ry::threadBlock();
    const void* owner = impl.formOwner.load(std::memory_order_relaxed);
    if (!owner && impl.formOwner.compare_exchange_strong(owner, self, std::memory_order_relaxed)) owner = self;
    if (owner == self) {
        HostForm* form = impl.ownForm;
        if (!form || form->generation != generation) {
            HostForm* fresh = newForm(array, generation);
            if (form && form->holds == 0) delete form;
            else if (form) form->replaced = true;
            impl.ownForm = form = fresh;
        }
        ++form->holds;
        keep.m_own = form;
        return form->array;
    }
    std::shared_ptr<const HostForm> form = impl.hostForm.load(std::memory_order_acquire);
    if (!form || form->generation != generation) {
        form = std::shared_ptr<const HostForm>(newForm(array, generation));
        impl.hostForm.store(form, std::memory_order_release);
    }
    const ryArray* host = form->array;
    keep.m_shared = std::move(form);
    return host;
}

void FormKeep::letGo(HostForm* form) noexcept {
    if (--form->holds == 0 && form->replaced) delete form;
}

}  // namespace host::data

namespace vhost::data {

using host::data::ArrayType;

host::data::Array newNumericArray(ArrayType type, std::vector<std::size_t> dims) {
    if (!host::data::isNumericType(type)) throw std::invalid_argument("not a numeric data-array type");
    bool complex = type == ArrayType::COMPLEX_DOUBLE || type == ArrayType::COMPLEX_SINGLE;
    ryClassID cls = type == ArrayType::LOGICAL          ? ryLOGICAL_CLASS
                    : type == ArrayType::COMPLEX_DOUBLE ? ryDOUBLE_CLASS
                    : type == ArrayType::COMPLEX_SINGLE ? rySINGLE_CLASS
                                                        : static_cast<ryClassID>(type);
    return host::data::holding(type, vhost::ry::newDataArray(std::move(dims), cls, complex, vhost::ry::Layout::Interleaved, true));
}

namespace {
const vhost::ry::NumericData& numeric(const host::data::ArrayImpl& impl) {
    const vhost::ry::NumericData* d = impl.host ? impl.host->numeric() : nullptr;
    if (!d) throw std::invalid_argument("data array has no element data");
    return *d;
}
}  // namespace

std::size_t elementBytes(const host::data::ArrayImpl& impl) {
    const vhost::ry::NumericData& d = numeric(impl);
    return d.elementSize() * (d.isComplex() ? 2 : 1);
}

const void* elementData(const host::data::ArrayImpl& impl) {
    return numeric(impl).interleaved(vhost::ry::Access::Read);
}

void* writableElementData(host::data::ArrayImpl& impl) {
    numeric(impl);
    // Held elsewhere too (by a container, say): a host form made of it goes out of date. A new
    // array being filled is held once.
    if (impl.refs.load(std::memory_order_acquire) > 1) contentChanged();
    return impl.host->writableNumeric()->interleaved(vhost::ry::Access::Write);
}

std::size_t fieldIndex(const host::data::ArrayImpl& impl, const std::string& name) {
    auto it = std::find(impl.fields.begin(), impl.fields.end(), name);
    if (it == impl.fields.end()) throw std::invalid_argument("no field named " + name);
    return static_cast<std::size_t>(it - impl.fields.begin());
}

}  // namespace vhost::data
