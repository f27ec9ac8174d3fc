// Host installation facts.
#pragma once

#include <string>

#include "host/host_api.hpp"

namespace host {

// The installation root: $VELTRA_ROOT when set and not empty, else the folder above the one that
// holds the host library. Layout below it: bin/, lib/, include/, extern/, resources/.
HOST_API std::string get_install_path();

}  // namespace host
