// Classes the host defines for testing modules against objects, and the graphics built-ins.
//
//   ValueBox(v)    value class; property Value
//   HandleBox(v)   handle class; property Value (copies are the same object)
//   IndexedBox()   value class that overloads indexing: b.name reads and b.name = v writes
//                  entries of a struct kept in its property Data, so b.x is not a property
//                  of the object itself; b(1) is b, and b(1) = c replaces it by another box
//   figure(...), veltra.graphics.line(...)   graphics objects; arguments are name, value pairs
//   get(h, name), set(h, name, value)         properties of a graphics object by object or handle
#include "host/ry.hpp"
#include "vhost/graphics/graphics.hpp"
#include "vhost/lang/classes.hpp"
#include "vhost/ry/class_registry.hpp"
#include "vhost/ry/lifetime.hpp"

namespace vhost::lang {
namespace {

Values one(Value v) {
    Values result;
    result.push_back(std::move(v));
    return result;
}

Value box(const std::string& className, const Arguments& in) {
    if (in.size() > 1) fail("VELTRA:invalidArgument", "Usage: " + className + "(value).");
    Value object(ry::newObjectArray(className, {1, 1}));
    ry::setProperty(object.get(), 0, "Value", in.empty() ? makeEmpty().release() : ry::sharedCopy(in[0]));
    return object;
}

Value indexedRead(const ryArray* object, const IndexStep& step) {
    if (step.type == "()") {
        if (step.indices.size() != 1 || scalarOf(step.indices[0], "The index") != 1)
            fail("VELTRA:indexOutOfBounds", "An IndexedBox has one element.");
        return copyOf(object);
    }
    if (step.type != ".") fail("VELTRA:badIndex", "IndexedBox does not support brace indexing.");
    const ryArray* data = ry::propertyOf(object, 0, "Data");
    return fieldOf(data, step.name);
}

Value indexedAssign(const ryArray* object, const IndexStep& step, const ryArray* value) {
    if (step.type == "()") {
        // b(1) = c replaces the box by another box; b(1).name = v arrives here that way.
        if (step.indices.size() != 1 || scalarOf(step.indices[0], "The index") != 1)
            fail("VELTRA:indexOutOfBounds", "An IndexedBox has one element.");
        if (value->className() != "IndexedBox") fail("VELTRA:badIndex", "Only an IndexedBox can replace an IndexedBox.");
        return copyOf(value);
    }
    if (step.type != ".") fail("VELTRA:badIndex", "IndexedBox only supports assignment to b.name and b(1).");
    Value result = copyOf(object);
    Value data = assignField(copyOf(ry::propertyOf(object, 0, "Data")), step.name, copyOf(value));
    ry::setProperty(result.get(), 0, "Data", data.release());
    return result;
}

ryArray* graphicsTarget(const ryArray* h) {
    if (graphics::isGraphics(h)) return const_cast<ryArray*>(h);
    const double handle = scalarOf(h, "The graphics handle");
    ryArray* object = graphics::find(handle);
    if (!object) fail("VELTRA:invalidGraphicsHandle", "There is no graphics object with handle " + render("", h));
    return object;
}

Value makeGraphics(const std::string& className, const Arguments& in) {
    if (in.size() % 2) fail("VELTRA:invalidArgument", "Graphics properties come in name, value pairs.");
    Value object(graphics::create(className));
    for (std::size_t k = 0; k < in.size(); k += 2)
        ry::setProperty(object.get(), 0, textOf(in[k], "A property name"), ry::sharedCopy(in[k + 1]));
    return object;
}

}  // namespace

void registerClassBuiltins() {
    ry::registerClass({"ValueBox", {}});
    ry::registerClass({"HandleBox", {"handle"}});
    ry::registerClass({"IndexedBox", {}});
    graphics::registerClasses();
    registerIndexingOverload("IndexedBox", {indexedRead, indexedAssign});

    registerBuiltin("ValueBox", [](int, const Arguments& in) { return one(box("ValueBox", in)); });
    registerBuiltin("HandleBox", [](int, const Arguments& in) { return one(box("HandleBox", in)); });
    registerBuiltin("IndexedBox", [](int, const Arguments&) {
        Value object(ry::newObjectArray("IndexedBox", {1, 1}));
        ry::setProperty(object.get(), 0, "Data", ry::newStructArray({1, 1}, {}));
        return one(std::move(object));
    });

    registerBuiltin("figure", [](int, const Arguments& in) { return one(makeGraphics("veltra.graphics.Figure", in)); });
    registerBuiltin("veltra.graphics.line",
                    [](int, const Arguments& in) { return one(makeGraphics("veltra.graphics.Line", in)); });
    registerBuiltin("get", [](int, const Arguments& in) {
        if (in.size() != 2) fail("VELTRA:invalidArgument", "Usage: get(h, name).");
        return one(fieldOf(graphicsTarget(in[0]), textOf(in[1], "The property name")));
    });
    registerBuiltin("set", [](int, const Arguments& in) {
        if (in.size() != 3) fail("VELTRA:invalidArgument", "Usage: set(h, name, value).");
        ry::setProperty(graphicsTarget(in[0]), 0, textOf(in[1], "The property name"), ry::sharedCopy(in[2]));
        return Values{};
    });
}

}  // namespace vhost::lang
