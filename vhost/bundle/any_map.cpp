// Manifest values: the case-insensitive map, compound keys and the failed-cast error.
#include <boost/core/demangle.hpp>

#include "host/bundle.hpp"

namespace host {

BadAnyCastException::BadAnyCastException(const std::type_info& held, const std::type_info& requested)
    : m_message("any_cast: the value is a " + (held == typeid(void) ? std::string("empty Any") : boost::core::demangle(held.name())) +
                ", not a " + boost::core::demangle(requested.name())) {}

namespace {

unsigned char lower(unsigned char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c; }

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const noexcept {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = lower(static_cast<unsigned char>(a[i]));
        const unsigned char y = lower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

const Any& AnyMap::at(const std::string& key) const {
    const auto found = m_values.find(key);
    if (found == m_values.end()) throw std::out_of_range("no key '" + key + "'");
    return found->second;
}

bool AnyMap::insert(std::string key, Any value) { return m_values.emplace(std::move(key), std::move(value)).second; }

const Any& AnyMap::AtCompoundKey(const std::string& key) const {
    const AnyMap* map = this;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = key.find('.', start);
        const std::string component = key.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        const auto found = map->m_values.find(component);
        if (found == map->m_values.end()) {
            throw std::out_of_range("no key '" + key.substr(0, dot) + "' (looking up '" + key + "')");
        }
        if (dot == std::string::npos) return found->second;
        map = any_cast<AnyMap>(&found->second);
        if (map == nullptr) throw std::out_of_range("'" + key.substr(0, dot) + "' is not a map (looking up '" + key + "')");
        start = dot + 1;
    }
}

}  // namespace host
