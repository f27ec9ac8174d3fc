// The system's name for a signal number, for the text that describes a module's fault.
#pragma once

#include <string>

namespace orb::platform {

// The system's description of `signal` ("Segmentation fault"), or "unknown" when it has none.
std::string signalName(int signal);

}  // namespace orb::platform
