// Raising the library's errors toward the host: the error goes through the host's legacy error
// raiser, which records it and throws it; should the host choose to return instead, it is thrown
// here. Either way these never return.
#pragma once

#include <utility>

#include "host/exceptions.hpp"
#include "platform/export.hpp"

namespace orb::capi {

[[noreturn]] ORB_API void raiseError(const host::UserException& error);

// Raises the catalogue error named by Tag (see capi/message_ids.hpp) with its arguments:
//     raiseError<VELTRA::orb::ErrOutOfMem>(path);
template <class Tag, class... Args>
[[noreturn]] void raiseError(Args&&... args) {
    raiseError(host::MsgIdException<Tag>(std::forward<Args>(args)...));
}

}  // namespace orb::capi
