#include "vhost/services/features.hpp"

#include <algorithm>
#include <map>
#include <mutex>

#include "host/services.hpp"

namespace vhost {
namespace {

struct Feature {
    int flags = 0;
    host::FeatureSetter setter = nullptr;
    host::FeatureQuery query = nullptr;
    int registrations = 0;
};

std::mutex g_featureMutex;
std::map<std::string, Feature> g_features;

// Handlers are called outside the lock: a setter may well register or query features itself.
Feature lookup(const std::string& name) {
    std::lock_guard lock(g_featureMutex);
    auto it = g_features.find(name);
    return it == g_features.end() ? Feature{} : it->second;
}

}  // namespace

std::optional<int> queryFeature(const std::string& name) {
    Feature feature = lookup(name);
    if (!feature.query) return std::nullopt;
    return feature.query();
}

std::vector<std::string> registeredFeatures() {
    std::lock_guard lock(g_featureMutex);
    std::vector<std::string> names;
    for (const auto& [name, feature] : g_features) names.push_back(name);
    return names;
}

}  // namespace vhost

namespace host {

void svRegisterFeature(const std::string& name, int flags, FeatureSetter setter, FeatureQuery query) {
    std::lock_guard lock(vhost::g_featureMutex);
    auto& feature = vhost::g_features[name];
    feature.flags = flags;
    feature.setter = setter;
    feature.query = query;
    ++feature.registrations;
}

bool svSetFeature(const std::string& name, int value) {
    vhost::Feature feature = vhost::lookup(name);
    if (feature.registrations == 0) return false;
    if (feature.setter) feature.setter(value);
    return true;
}

int svFeatureRegistrationCount(const std::string& name) { return vhost::lookup(name).registrations; }

}  // namespace host
