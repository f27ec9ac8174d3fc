#include "vhost/bundle/manifest_values.hpp"

#include <climits>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

namespace vhost::bundle {
namespace {

using Json = nlohmann::json;

host::Any toAny(const Json& value);

host::AnyMap toMap(const Json& object) {
    host::AnyMap map;
    for (const auto& [key, value] : object.items()) {
        if (!map.insert(key, toAny(value))) {
            throw std::runtime_error("the manifest has keys that differ only in case: '" + key + "'");
        }
    }
    return map;
}

host::Any toAny(const Json& value) {
    switch (value.type()) {
    case Json::value_t::object: return toMap(value);
    case Json::value_t::array: {
        std::vector<host::Any> items;
        items.reserve(value.size());
        for (const auto& item : value) items.push_back(toAny(item));
        return items;
    }
    case Json::value_t::string: return value.get<std::string>();
    case Json::value_t::boolean: return value.get<bool>();
    case Json::value_t::number_integer: {
        const auto n = value.get<std::int64_t>();
        if (n >= INT_MIN && n <= INT_MAX) return static_cast<int>(n);
        return static_cast<double>(n);
    }
    case Json::value_t::number_unsigned: {
        const auto n = value.get<std::uint64_t>();
        if (n <= static_cast<std::uint64_t>(INT_MAX)) return static_cast<int>(n);
        return static_cast<double>(n);
    }
    case Json::value_t::number_float: return value.get<double>();
    case Json::value_t::null:
    case Json::value_t::discarded:
    case Json::value_t::binary: break;
    }
    return host::Any();
}

}  // namespace

host::AnyMap parseManifest(std::string_view text) {
    std::size_t depth = 0;
    const Json::parser_callback_t limitDepth = [&depth](int, Json::parse_event_t event, Json&) {
        if (event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start) {
            if (++depth > kManifestMaxDepth) {
                throw std::runtime_error("the manifest nests deeper than " + std::to_string(kManifestMaxDepth) + " levels");
            }
        } else if (event == Json::parse_event_t::object_end || event == Json::parse_event_t::array_end) {
            --depth;
        }
        return true;
    };
    Json document;
    try {
        document = Json::parse(text.begin(), text.end(), limitDepth, /*allow_exceptions=*/true, /*ignore_comments=*/false);
    } catch (const Json::exception& e) {
        throw std::runtime_error(std::string("the manifest is not valid JSON: ") + e.what());
    }
    if (!document.is_object()) throw std::runtime_error("the manifest is not a JSON object");
    return toMap(document);
}

}  // namespace vhost::bundle
