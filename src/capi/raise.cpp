#include "capi/raise.hpp"

#include <exception>

namespace orb::capi {

void raiseError(const host::UserException& error) {
    host::do_legacy_ry_error(error);
    // rethrow keeps the dynamic type, so a typed catch still matches.
    error.rethrow();
    // Not reached; the compiler does not carry rethrow's noreturn through the virtual call.
    std::terminate();
}

}  // namespace orb::capi
