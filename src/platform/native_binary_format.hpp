// The binary format of shared libraries on the platform the runtime is built for. The module
// binary reader reads every format it knows on every platform, but asked for native files only
// it refuses the others with the message below.
#pragma once

namespace orb::platform {

enum class BinaryFamily { Elf, Pe, MachO };

#if defined(_WIN32)
inline constexpr BinaryFamily kNativeBinaryFamily = BinaryFamily::Pe;
inline constexpr const char* kNotNativeFormatMessage = "Not native format: not a PE binary";
#else
inline constexpr BinaryFamily kNativeBinaryFamily = BinaryFamily::Elf;
inline constexpr const char* kNotNativeFormatMessage = "Not native format: not an ELF binary";
#endif

}  // namespace orb::platform
