// The classes of object arrays: each has a name, its direct superclasses and whether its objects
// have handle semantics (copies refer to the same object) or value semantics (copies are
// independent). Classes are registered by whoever defines them (the host language, tests);
// "handle" is always there and is the root of every handle class.
#pragma once

#include <string>
#include <vector>

#include "host/host_api.hpp"

namespace vhost::ry {

struct ClassDefinition {
    std::string name;
    std::vector<std::string> superclasses;
};

// Registers or replaces a class. A class is a handle class when "handle" is among its ancestors.
// Any thread.
HOST_API void registerClass(ClassDefinition definition);
HOST_API void unregisterClass(const std::string& name);
bool isRegisteredClass(const std::string& name);

// Whether `className` is `ancestor` or derives from it (through registered superclasses).
bool classDerivesFrom(const std::string& className, const std::string& ancestor);
bool isHandleClass(const std::string& className);

}  // namespace vhost::ry
