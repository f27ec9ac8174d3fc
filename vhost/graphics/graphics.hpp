// Graphics objects: handle objects of subclasses of "veltra.graphics.Graphics", each with a
// numeric handle by which modules reach its properties. The registry is per engine and keeps
// every object alive until the engine goes (there is no delete).
#pragma once

#include <string>

#include <ry_types.h>

namespace vhost::graphics {

inline constexpr const char* kGraphicsClass = "veltra.graphics.Graphics";

// Registers the graphics classes (idempotent).
void registerClasses();

bool isGraphics(const ryArray* array);
// The numeric handle of a graphics object; raises "VELTRA:invalidGraphicsHandle" when the object
// is not registered on this engine.
double handleOf(const ryArray* object);
// A new object of `className` (a registered subclass of the graphics class), without
// properties, registered under the next handle (1, 2, ...). Answers a new array (a reference to
// the object) that the caller owns.
ryArray* create(const std::string& className);
// The object with numeric handle `handle` (the registry's own reference), or null.
ryArray* find(double handle);

}  // namespace vhost::graphics
