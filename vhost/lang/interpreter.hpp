// The host language, run on the calling thread's engine.
//
// Errors are host::UserException. Identifiers the language itself raises:
//   VELTRA:parse               the text is not a valid statement or expression
//   VELTRA:undefinedFunction   a name is neither a variable, a built-in nor a file on the path
//   VELTRA:tooManyOutputs      more outputs asked for than the function gives
//   VELTRA:unassignedOutput    the function left a requested output unset
//   VELTRA:badIndex, VELTRA:indexOutOfBounds, VELTRA:dimensionMismatch
//   VELTRA:noSuchField         s.f where s has no field (or object no property) f
//   VELTRA:invalidArgument     a built-in got an argument it cannot use
//   VELTRA:unknownWorkspace    a workspace name other than base, caller, global
//   VELTRA:invalidGraphicsHandle  a number that names no live graphics object
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <ry_types.h>

#include "host/host_api.hpp"

namespace vhost::lang {

// Runs statements in the current workspace (base at top level). A statement not ended by ';'
// shows its result ("x = ..."); an expression statement stores its value in "ans". When an
// outermost evaluation ends, on the engine's signal thread, the requests queued for the engine
// meanwhile run (the host is idle then).
HOST_API void evaluate(std::string_view statements);

// One literal expression (number, complex number, [1 2; 3 4], 'char', "text", true, false,
// {a, b}) into a new array the caller owns (destroy with ryDestroyArray). Names other than
// true, false, pi, Inf and NaN are refused.
HOST_API ryArray* parseLiteral(std::string_view text);

// Calls a built-in or a function on the path as [o1..on] = name(inputs...) would. The outputs
// are new arrays the caller owns; with nlhs 0 there is one output when the function gave one.
HOST_API std::vector<ryArray*> call(const std::string& name, int nlhs, const std::vector<ryArray*>& inputs);

// Prints a value as the language shows it: "name = value", or the value alone when name is empty.
HOST_API void display(const std::string& name, const ryArray* value);

}  // namespace vhost::lang
