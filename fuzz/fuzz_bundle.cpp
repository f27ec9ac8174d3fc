// The bundle reader over arbitrary bytes: the zip locator (ELF section, PE resource, backward
// scan), minizip over the located window, and each bundle's manifest. Damage must end in
// std::runtime_error; the bytes read must stay bounded by the locator's two-pass promise plus the
// manifests it may read.
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "vhost/bundle/bundle_reader.hpp"
#include "vhost/bundle/zip_locator.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        vhost::bundle::MemoryByteSource source(data, size);
        try {
            if (auto window = vhost::bundle::locateZip(source)) {
                if (window->begin > window->end || window->end > size) std::abort();
            }
        } catch (const std::runtime_error&) {
        }
    }
    vhost::bundle::MemoryByteSource source(data, size);
    try {
        const auto bundles = vhost::bundle::readBundles(source, "fuzz input");
        for (const auto& bundle : bundles) {
            if (bundle.name.empty() || bundle.symbolicName.empty()) std::abort();
        }
    } catch (const std::runtime_error&) {
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
