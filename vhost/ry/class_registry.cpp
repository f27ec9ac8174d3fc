#include "vhost/ry/class_registry.hpp"

#include <map>
#include <mutex>
#include <set>

namespace vhost::ry {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::vector<std::string>> superclasses{{"handle", {}}};
};

Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

// Depth-first over the superclass graph; `seen` guards against cycles in careless definitions.
bool derives(const Registry& r, const std::string& name, const std::string& ancestor, std::set<std::string>& seen) {
    if (name == ancestor) return true;
    if (!seen.insert(name).second) return false;
    auto found = r.superclasses.find(name);
    if (found == r.superclasses.end()) return false;
    for (const std::string& parent : found->second)
        if (derives(r, parent, ancestor, seen)) return true;
    return false;
}

}  // namespace

void registerClass(ClassDefinition definition) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.superclasses[definition.name] = std::move(definition.superclasses);
}

void unregisterClass(const std::string& name) {
    if (name == "handle") return;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.superclasses.erase(name);
}

bool isRegisteredClass(const std::string& name) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.superclasses.count(name) != 0;
}

bool classDerivesFrom(const std::string& className, const std::string& ancestor) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::set<std::string> seen;
    return derives(r, className, ancestor, seen);
}

bool isHandleClass(const std::string& className) { return classDerivesFrom(className, "handle"); }

}  // namespace vhost::ry
