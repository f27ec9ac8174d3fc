// Version of the host's data-array library, for whoever loads it by name.

#include <cstdint>

extern "C" __attribute__((visibility("default"))) std::uint32_t veltraDataArrayVersion() {
    // Major version in the high half, minor in the low half.
    return 0x00000001;
}
