// Fields, properties and indexing of structs and objects, and classes whose indexing is
// overloaded (their own code answers s.name, s(i) and s{i}, for reading and for assignment).
#pragma once

#include <functional>
#include <string>

#include "vhost/lang/functions.hpp"

namespace vhost::lang {

// One level of indexing: type "." with a name, or "()" / "{}" with index arrays.
struct IndexStep {
    std::string type;
    std::string name;
    Arguments indices;
};

struct IndexingOverload {
    std::function<Value(const ryArray* object, const IndexStep& step)> read;
    // Answers the object after the assignment.
    std::function<Value(const ryArray* object, const IndexStep& step, const ryArray* value)> assign;
};

// Process-wide; applies to objects of exactly that class.
void registerIndexingOverload(const std::string& className, IndexingOverload overload);
bool overloadsIndexing(const ryArray* object);

// s.name of a scalar struct (field) or object (property, through the class's overload if any);
// raises "VELTRA:noSuchField".
Value fieldOf(const ryArray* value, const std::string& name);
// The container with s.name = value (a struct gains the field; [] becomes a struct).
Value assignField(Value container, const std::string& name, Value value);

// Indexing of objects whose class overloads it, and the general forms used by subsref/subsasgn.
Value overloadedRead(const ryArray* object, const std::string& type, const Arguments& indices);
Value readStep(const ryArray* value, const IndexStep& step);
Value assignStep(Value container, const IndexStep& step, Value value);

}  // namespace vhost::lang
