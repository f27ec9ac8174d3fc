// Values fixed when the library loads: the install-relative paths the build-time steps need and
// the placeholders of the manifest template. The paths are formed once from the installation
// root; a later change of the root is not seen while the library stays loaded.
#pragma once

#include <string>

#include "platform/export.hpp"

namespace orb::startup {

// Text markers inside the manifest template that the manifest step replaces.
inline constexpr const char* kBundleSymbolicNamePlaceholder = "KV_BUNDLE_SYMBOLIC_NAME";
inline constexpr const char* kApiVersionPlaceholder = "KV_RY_API_VERSION";
inline constexpr const char* kThreadPoolSafePlaceholder = "KV_CPPORB_THREADPOOL_SAFE";

// <root>/extern/version/orbMetadata.json, 8-bit.
ORB_API const std::string& manifestTemplatePath();
// <root>/bin/<platform>/usResourceCompiler3 with the platform's executable suffix, UTF-16.
ORB_API const std::u16string& resourceCompilerPath();

}  // namespace orb::startup
