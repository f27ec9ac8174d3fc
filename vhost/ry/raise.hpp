// Errors the array library raises for misuse of its interface. Each identifier is
// "VELTRA:ry:<mnemonic>" with a text in the message catalogue.
#pragma once

#include <vector>

#include "host/exceptions.hpp"

namespace vhost::ry {

[[noreturn]] void raise(const char* mnemonic, std::vector<host::MessageArg> args = {});
// Out of memory (or a size that overflows) while allocating `bytes`.
[[noreturn]] void raiseOutOfMemory(std::size_t bytes);

}  // namespace vhost::ry
