// The bundles a file carries, read but not installed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/bundle.hpp"
#include "host/host_api.hpp"
#include "vhost/bundle/byte_source.hpp"

namespace vhost::bundle {

// The manifests of one file together may hold this many bytes (a bundle manifest is a few
// hundred); more is refused, which bounds the memory a file can make the reader use.
inline constexpr std::size_t kManifestMaxBytes = 1024 * 1024;

struct BundleContents {
    std::string name;  // the top-level directory
    std::string symbolicName;
    host::AnyMap headers;
};

// One bundle per top-level directory of the zip the source carries, in the order the zip's
// central directory first names each. Entries outside any directory belong to no bundle. Empty
// when the source carries no zip. Throws std::runtime_error (naming `location`) when the zip is
// damaged, or a bundle's "<name>/manifest.json" is missing, too large, not a JSON object, or
// without a non-empty text "bundle.symbolic_name".
HOST_API std::vector<BundleContents> readBundles(ByteSource& source, const std::string& location);

}  // namespace vhost::bundle
