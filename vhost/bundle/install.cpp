// Installed bundles: a process-wide set, guarded by one mutex, of bundles read from files.
#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>

#include "host/bundle.hpp"
#include "vhost/bundle/bundle_reader.hpp"

namespace host {

struct Bundle::Data {
    long id;
    std::string location;
    vhost::bundle::BundleContents contents;
    std::atomic<State> state{STATE_INSTALLED};
};

namespace {

struct Registry {
    std::mutex mutex;
    std::map<long, std::shared_ptr<Bundle::Data>> installed;
    long lastId = 0;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

const Bundle::Data& data(const std::shared_ptr<Bundle::Data>& d) {
    if (!d) throw std::invalid_argument("the Bundle is not a bundle (default-constructed)");
    return *d;
}

}  // namespace

long Bundle::GetBundleId() const { return data(m_data).id; }
std::string Bundle::GetLocation() const { return data(m_data).location; }
std::string Bundle::GetName() const { return data(m_data).contents.name; }
std::string Bundle::GetSymbolicName() const { return data(m_data).contents.symbolicName; }
const AnyMap& Bundle::GetHeaders() const { return data(m_data).contents.headers; }
Bundle::State Bundle::GetState() const { return data(m_data).state.load(); }

void Bundle::Uninstall() {
    const long id = data(m_data).id;
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    if (r.installed.erase(id) == 0) {
        throw std::logic_error("bundle " + std::to_string(id) + " (" + m_data->contents.symbolicName + ") is not installed");
    }
    m_data->state = STATE_UNINSTALLED;
}

std::vector<Bundle> install(const std::string& path) {
    // Reading happens outside the lock: only the registry is shared.
    vhost::bundle::FileByteSource source(path);
    auto contents = vhost::bundle::readBundles(source, path);

    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    std::vector<Bundle> bundles;
    bundles.reserve(contents.size());
    for (auto& c : contents) {
        auto d = std::make_shared<Bundle::Data>();
        d->id = ++r.lastId;
        d->location = path;
        d->contents = std::move(c);
        r.installed.emplace(d->id, d);
        bundles.emplace_back(std::move(d));
    }
    return bundles;
}

std::vector<Bundle> installedBundles() {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    std::vector<Bundle> bundles;
    for (const auto& [id, d] : r.installed) bundles.emplace_back(d);
    return bundles;
}

}  // namespace host
