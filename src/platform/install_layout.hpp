// Where the platform's files sit below the installation root. The runtime forms every
// install-relative path from these names, so a port changes them here and nowhere else.
#pragma once

namespace orb::platform {

#if defined(_WIN32)
// Executables and shared libraries both live in the per-platform binary folder.
inline constexpr const char* kBinaryPlatformDir = "win64";
inline constexpr const char* kExecutableSuffix = ".exe";
inline constexpr const char* kSharedLibraryDir = "bin";
inline constexpr const char* kDataArrayLibraryFile = "libVeltraDataArray.dll";
#else
inline constexpr const char* kBinaryPlatformDir = "linux64";
inline constexpr const char* kExecutableSuffix = "";
inline constexpr const char* kSharedLibraryDir = "lib";
inline constexpr const char* kDataArrayLibraryFile = "libVeltraDataArray.so";
#endif

}  // namespace orb::platform
