// The last error raised through the legacy C error path, kept per engine so that a host tool can
// show it after the call that raised it has unwound.
#pragma once

#include <memory>

#include "host/exceptions.hpp"
#include "host/host_api.hpp"

namespace vhost {

// Stores a copy (dynamic type kept) as the current engine's last error.
HOST_API void recordLastError(const host::UserException& error);
// The current engine's last error, or null when none was raised there.
HOST_API std::shared_ptr<const host::UserException> lastError();
// Forgets the current engine's last error.
HOST_API void clearLastError();

}  // namespace vhost
