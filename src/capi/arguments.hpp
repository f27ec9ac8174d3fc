// Checks of the arguments a service is given, made before the service uses any of them.
//
// Each check answers what is wrong, as a phrase for the message of "VELTRA:orbapi:invalidArgument"
// ("the function name is not valid UTF-8"), or an empty text when nothing is. The services report
// a refusal their own way: the C services raise it (capi::refuseArgument), the C++ services write
// error code 1 and the error structure, or complete an asynchronous request with it. The phrases
// show the offending text only as far as it is printable ASCII, so a report never fails on the
// text it reports.
#pragma once

#include <string>

#include "platform/export.hpp"

namespace orb::capi {

// A text that must be there and be UTF-8: `what` names it ("the function name").
ORB_API std::string textProblem(const char* what, const char* text);
// A variable name: a letter, then letters, digits and underscores, at most 63 characters. A name
// is never evaluated, so anything else ("q; zz = 5") is refused before the host sees it.
ORB_API std::string variableNameProblem(const char* name);
ORB_API std::string variableNameProblem(const char16_t* name);
// A property name, which must be there and be UTF-16.
ORB_API std::string propertyNameProblem(const char16_t* name);
// `count` arrays in `list` (which may be null only when count is 0); `what` names the list.
ORB_API std::string arrayListProblem(const char* what, int count, const void* list);

// Raises "VELTRA:orbapi:invalidArgument" for `service` with the problem; does not return.
[[noreturn]] ORB_API void refuseArgument(const char* service, const std::string& problem);

}  // namespace orb::capi
