// Built-in functions of the host language, and how any function is called by name.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "host/host_api.hpp"
#include "vhost/lang/values.hpp"

namespace vhost::lang {

using Arguments = std::vector<const ryArray*>;
// A function's outputs. Nearly every function answers one or two, held in place: a queue of
// requests calling built-ins would otherwise allocate a list for each call.
using Values = boost::container::small_vector<Value, 2>;
// A built-in: `nargout` outputs asked for (0 when the caller takes at most one), the inputs
// (borrowed); answers its outputs (may be more than asked for; extra ones are dropped).
using Builtin = std::function<Values(int nargout, const Arguments& inputs)>;

// Process-wide; a later registration of the same name replaces the earlier one.
void registerBuiltin(const std::string& name, Builtin function);
HOST_API const Builtin* findBuiltin(const std::string& name);
// The names of every built-in, sorted (for completion and help in interactive tools).
HOST_API std::vector<std::string> builtinNames();

// Whether `name` is a built-in or a file on the path.
bool isFunction(const std::string& name);
// Calls a built-in, else a function on the path; raises "VELTRA:undefinedFunction". At least max(nargout, 1) entries when the function gave that many.
HOST_API Values callFunction(const std::string& name, int nargout, const Arguments& inputs);
// Calls `builtin`, found under `name` already: callFunction without the second look-up.
HOST_API Values callBuiltin(const std::string& name, const Builtin& builtin, int nargout,
                                        const Arguments& inputs);
// What a function-handle array made by this host carries as its payload.
struct HandleTarget {
    virtual ~HandleTarget() = default;
    virtual Values call(int nargout, const Arguments& inputs) = 0;
};
// Calls the function behind a function-handle array.
Values callHandle(const ryArray* handle, int nargout, const Arguments& inputs);

// Evaluates statements in `workspace` (made current while they run).
class Workspace;
void evaluateIn(Workspace& workspace, std::string_view statements);

// The language's text for a value (used by display, disp and the error helpers).
HOST_API std::string render(const std::string& name, const ryArray* value);

// Registers the built-ins and test classes once per process (called by the language on first use).
void ensureBuiltins();
void registerCoreBuiltins();
void registerClassBuiltins();

}  // namespace vhost::lang
