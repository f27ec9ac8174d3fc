// The host's data-array library, whose arrays C++ modules exchange with the host. It is loaded
// when this library loads and never released, so it stays mapped for the life of the process.
#pragma once

#include <string>

#include "platform/export.hpp"

namespace orb::startup {

// <root>/<shared library folder>/<data-array library file>, UTF-16.
ORB_API std::u16string dataArrayLibraryPath();
// The handle loaded at start-up; null when the library could not be loaded (the runtime still
// loads; only the C++ module paths that need data arrays are unavailable).
ORB_API void* dataArrayLibrary() noexcept;
// Loads `path` with the host's loader. Never throws: any failure is a null handle.
ORB_API void* loadDataArrayLibrary(const std::u16string& path) noexcept;

}  // namespace orb::startup
