#include "vhost/graphics/graphics.hpp"

#include <map>
#include <mutex>

#include "host/exceptions.hpp"
#include "host/storage.hpp"
#include "vhost/ry/class_registry.hpp"
#include "vhost/ry/lifetime.hpp"

namespace vhost::graphics {
namespace {

struct Registry {
    ~Registry() {
        for (auto& [handle, object] : objects) ry::destroy(object);
    }
    double next = 1;
    std::map<double, ryArray*> objects;  // owned references
};

Registry& registry() {
    static const host::storage::Key key = host::storage::getNextID(typeid(Registry));
    return host::storage::getOrCreate<Registry>(key);
}

}  // namespace

void registerClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        ry::registerClass({kGraphicsClass, {"handle"}});
        ry::registerClass({"veltra.graphics.Figure", {kGraphicsClass}});
        ry::registerClass({"veltra.graphics.Line", {kGraphicsClass}});
    });
}

bool isGraphics(const ryArray* array) {
    return array && array->object() && ry::classDerivesFrom(array->object()->className, kGraphicsClass);
}

double handleOf(const ryArray* object) {
    if (isGraphics(object))
        for (const auto& [handle, stored] : registry().objects)
            if (stored->object()->state == object->object()->state) return handle;
    throw host::UserException("VELTRA:invalidGraphicsHandle", "The value is not a live graphics object.");
}

ryArray* create(const std::string& className) {
    registerClasses();
    if (!ry::classDerivesFrom(className, kGraphicsClass))
        throw host::UserException("VELTRA:invalidArgument", className + " is not a graphics class.");
    ryArray* object = ry::newObjectArray(className, {1, 1});
    Registry& all = registry();
    all.objects[all.next++] = object;
    return ry::sharedCopy(object);
}

ryArray* find(double handle) {
    auto& objects = registry().objects;
    auto found = objects.find(handle);
    return found == objects.end() ? nullptr : found->second;
}

}  // namespace vhost::graphics
