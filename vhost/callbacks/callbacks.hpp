// The reference host's callback table: how a running module reaches the host's workspaces,
// graphics objects, language, dispatcher and error handling.
#pragma once

#include "capi/callback_table.hpp"
#include "host/host_api.hpp"

namespace vhost {

// Slots 0 to 13 and 17 to 21 installed; 14, 15 and 16 empty.
HOST_API OrbCallbackTable callbackTable();

}  // namespace vhost
