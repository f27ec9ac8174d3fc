// Placeholder of the host's data-array library: for now it only reports its version, so that the
// runtime has a real library to load at start-up. The arrays themselves come later.

#include <cstdint>

extern "C" __attribute__((visibility("default"))) std::uint32_t veltraDataArrayVersion() {
    // Major version in the high half, minor in the low half.
    return 0x00000001;
}
