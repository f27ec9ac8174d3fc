// Which linker drivers take a module's metadata bundle as linked-in binary data (the GNU-style
// drivers) rather than as a compiled Windows resource. Windows resources exist only on Windows;
// everywhere else every driver (gcc, g++, gfortran, clang, clang++) links the bundle as data.
#pragma once

namespace orb::platform {

#if defined(_WIN32)
inline constexpr bool kEveryLinkerTakesBinaryData = false;
#else
inline constexpr bool kEveryLinkerTakesBinaryData = true;
#endif

}  // namespace orb::platform
