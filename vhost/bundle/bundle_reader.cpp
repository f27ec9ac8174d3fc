#include "vhost/bundle/bundle_reader.hpp"

#include <set>
#include <stdexcept>

#include "vhost/bundle/manifest_values.hpp"
#include "vhost/bundle/zip_archive.hpp"
#include "vhost/bundle/zip_locator.hpp"

namespace vhost::bundle {
namespace {

constexpr const char* kSymbolicNameKey = "bundle.symbolic_name";

// Top-level directory names in order of first appearance.
std::vector<std::string> topLevelDirectories(const std::vector<std::string>& names) {
    std::vector<std::string> directories;
    std::set<std::string> seen;
    for (const auto& name : names) {
        const auto slash = name.find('/');
        if (slash == std::string::npos || slash == 0) continue;
        std::string directory = name.substr(0, slash);
        if (seen.insert(directory).second) directories.push_back(std::move(directory));
    }
    return directories;
}

}  // namespace

std::vector<BundleContents> readBundles(ByteSource& source, const std::string& location) {
    const auto window = locateZip(source);
    if (!window) return {};
    std::vector<BundleContents> bundles;
    try {
        ZipArchive zip(source, *window);
        const std::set<std::string> names(zip.names().begin(), zip.names().end());
        std::size_t budget = kManifestMaxBytes;
        for (auto& directory : topLevelDirectories(zip.names())) {
            const std::string manifestName = directory + "/manifest.json";
            if (!names.count(manifestName)) throw std::runtime_error("bundle '" + directory + "' has no manifest.json");

            const std::string text = zip.read(manifestName, budget);
            budget -= text.size();
            BundleContents bundle{directory, {}, parseManifest(text)};
            const auto* symbolicName = bundle.headers.count(kSymbolicNameKey)
                                           ? host::any_cast<std::string>(&bundle.headers.at(kSymbolicNameKey))
                                           : nullptr;
            if (symbolicName == nullptr || symbolicName->empty()) {
                throw std::runtime_error("the manifest of bundle '" + directory + "' has no text \"" + kSymbolicNameKey + "\"");
            }
            bundle.symbolicName = *symbolicName;
            bundles.push_back(std::move(bundle));
        }
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("cannot read the bundles of '" + location + "': " + e.what());
    }
    return bundles;
}

}  // namespace vhost::bundle
