// A bundle manifest's JSON text as manifest values.
#pragma once

#include <cstddef>
#include <string_view>

#include "host/bundle.hpp"
#include "host/host_api.hpp"

namespace vhost::bundle {

// Deeper nesting than this is refused: the values nest as deeply as the text, and freeing them
// recurses once per level.
inline constexpr std::size_t kManifestMaxDepth = 128;

// The JSON object `text` as a map (values typed as host/bundle.hpp describes). Throws
// std::runtime_error when the text is not strict JSON, is not an object, nests deeper than
// kManifestMaxDepth, or has two keys in one object that differ only in case.
HOST_API host::AnyMap parseManifest(std::string_view text);

}  // namespace vhost::bundle
