#include "platform/signal_name.hpp"

#include <cstring>

namespace orb::platform {

std::string signalName(int signal) {
    const char* name = ::strsignal(signal);
    return name ? name : "unknown";
}

}  // namespace orb::platform
