// Failed assertions reported by modules.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include <boost/format.hpp>

#include <orb.h>

#include "capi/message_ids.hpp"
#include "capi/raise.hpp"
#include "host/exceptions.hpp"

namespace orb::capi {
namespace {

// An assertion macro hands over its condition as ": condition,"; the user sees " (condition)".
// Anything else is shown in the same parentheses, and nothing at all when no text is left.
std::string annotation(std::string_view test) {
    if (test.starts_with(": ")) test.remove_prefix(2);
    if (test.ends_with(',')) test.remove_suffix(1);
    if (test.empty()) return {};
    return " (" + std::string(test) + ")";
}

}  // namespace
}  // namespace orb::capi

extern "C" {

ORB_API void orbPrintAssertion(const char* test, const char* fileName, int line, const char* message) {
    const std::string file = fileName ? fileName : "";
    const std::string text = message ? message : "";
    const std::string note = orb::capi::annotation(test ? test : "");

    // A second error cannot be raised while one is unwinding through the module: the process
    // ends with the diagnostic instead.
    if (std::uncaught_exceptions() > 0) {
        host::terminate((boost::format("Assertion failed%1%.\n%2%\n") % note % text).str(), file.c_str(), line,
                        nullptr);
    }
    orb::capi::raiseError<VELTRA::orb::assertion>(note, text, file, static_cast<std::int64_t>(line),
                                                  host::captureStackTrace());
}

ORB_API void orbPrintAssertion_800(const char*, const char*, int, const char*) ORB_ALIAS(orbPrintAssertion);

}  // extern "C"
