#include "vhost/lang/classes.hpp"

#include <map>
#include <mutex>

#include "host/engine.hpp"
#include "vhost/ry/class_registry.hpp"
#include "vhost/ry/lifetime.hpp"

namespace vhost::lang {
namespace {

struct OverloadRegistry {
    std::mutex mutex;
    std::map<std::string, IndexingOverload> overloads;
};

OverloadRegistry& overloadRegistry() {
    static OverloadRegistry registry;
    return registry;
}

const IndexingOverload* overloadOf(const ryArray* object) {
    if (!object || !object->object()) return nullptr;
    OverloadRegistry& registry = overloadRegistry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.overloads.find(object->object()->className);
    return found == registry.overloads.end() ? nullptr : &found->second;
}

[[noreturn]] void noSuchField(const ryArray* value, const std::string& name) {
    fail("VELTRA:noSuchField", "No field or property '" + name + "' in a value of class " + value->className() + ".");
}

}  // namespace

void registerIndexingOverload(const std::string& className, IndexingOverload overload) {
    OverloadRegistry& registry = overloadRegistry();
    std::lock_guard lock(registry.mutex);
    registry.overloads[className] = std::move(overload);
}

bool overloadsIndexing(const ryArray* object) { return overloadOf(object) != nullptr; }

Value fieldOf(const ryArray* value, const std::string& name) {
    if (const IndexingOverload* overload = overloadOf(value)) return overload->read(value, {".", name, {}});
    if (value->structure()) {
        if (value->numberOfElements() != 1) fail("VELTRA:badIndex", "Field access needs a scalar struct.");
        const int field = ry::fieldNumber(value, name);
        if (field < 0) noSuchField(value, name);
        const ryArray* stored = value->structure()->values[static_cast<std::size_t>(field)];
        return stored ? copyOf(stored) : makeEmpty();
    }
    if (value->object()) {
        if (value->numberOfElements() < 1) fail("VELTRA:badIndex", "The object array is empty.");
        const ryArray* stored = ry::propertyOf(value, 0, name);
        if (!stored) noSuchField(value, name);
        return copyOf(stored);
    }
    noSuchField(value, name);
}

Value assignField(Value container, const std::string& name, Value value) {
    if (const IndexingOverload* overload = overloadOf(container.get()))
        return overload->assign(container.get(), {".", name, {}}, value.get());
    if (isDataArray(container.get()) && container->numberOfElements() == 0)
        container = Value(ry::newStructArray({1, 1}, {}));
    if (container->structure()) {
        if (container->numberOfElements() != 1) fail("VELTRA:badIndex", "Field assignment needs a scalar struct.");
        if (!ry::isValidFieldName(name)) fail("VELTRA:invalidArgument", "'" + name + "' is not a valid field name.");
        const int field = ry::addField(container.get(), name);
        ry::setFieldValue(container.get(), 0, static_cast<std::size_t>(field), value.release());
        return container;
    }
    if (container->object()) {
        ry::setProperty(container.get(), 0, name, value.release());
        return container;
    }
    fail("VELTRA:invalidArgument", "Cannot set field '" + name + "' of a value of class " + container->className() + ".");
}

Value overloadedRead(const ryArray* object, const std::string& type, const Arguments& indices) {
    return overloadOf(object)->read(object, {type, {}, indices});
}

Value readStep(const ryArray* value, const IndexStep& step) {
    if (const IndexingOverload* overload = overloadOf(value)) return overload->read(value, step);
    if (step.type == ".") return fieldOf(value, step.name);
    if (step.type == "()") return indexParen(value, step.indices);
    if (step.type == "{}") return indexBrace(value, step.indices);
    fail("VELTRA:invalidArgument", "Unknown indexing type '" + step.type + "'.");
}

Value assignStep(Value container, const IndexStep& step, Value value) {
    if (const IndexingOverload* overload = overloadOf(container.get()))
        return overload->assign(container.get(), step, value.get());
    if (step.type == ".") return assignField(std::move(container), step.name, std::move(value));
    // c(k) = v and c{k} = v for one linear index.
    if (step.indices.size() != 1 || step.indices[0]->numberOfElements() != 1)
        fail("VELTRA:badIndex", "Indexed assignment takes one scalar index.");
    const double position = elementAt(step.indices[0], 0).real();
    if (position < 1 || position != static_cast<double>(static_cast<std::size_t>(position)))
        fail("VELTRA:badIndex", "Array indices must be positive integers.");
    const std::size_t index = static_cast<std::size_t>(position) - 1;
    if (index >= container->numberOfElements())
        fail("VELTRA:indexOutOfBounds", "Indexed assignment beyond the end of the array is not supported.");
    if (step.type == "{}" && container->cell()) {
        ry::setCell(container.get(), index, value.release());
        return container;
    }
    if (step.type == "()" && isDataArray(container.get()) && isDataArray(value.get()) && value->numberOfElements() == 1) {
        std::vector<std::complex<double>> data;
        for (std::size_t i = 0; i < container->numberOfElements(); ++i) data.push_back(elementAt(container.get(), i));
        data[index] = elementAt(value.get(), 0);
        const bool complex = container->isComplex() || data[index].imag() != 0;
        return makeMatrix(rows(container.get()), columns(container.get()), data, complex, container->classId());
    }
    if (step.type == "()" && container->object() && value->object() && container->numberOfElements() == 1)
        return value;
    fail("VELTRA:badIndex", "This indexed assignment is not supported.");
}

}  // namespace vhost::lang

namespace host {

bool omDoesClassImplementSubsref(const ryArray* object, bool) { return vhost::lang::overloadsIndexing(object); }
bool omDoesClassImplementSubsasgn(const ryArray* object, bool, bool) { return vhost::lang::overloadsIndexing(object); }

}  // namespace host
