// Manifest JSON text as manifest values: anything that is not a strict JSON object, nests too
// deep or repeats a key up to case must end in std::runtime_error.
#include <stdexcept>
#include <string_view>

#include "vhost/bundle/manifest_values.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        (void)vhost::bundle::parseManifest(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const std::runtime_error&) {
    }
    return 0;
}
