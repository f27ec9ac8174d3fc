#include "vhost/bundle/manifest_values.hpp"

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace vhost::bundle {
namespace {

using Json = nlohmann::json;

// Makes the values as the parser reads the text, with no document in between: a manifest is
// read for one or two values, and building a document first cost as much as the rest of the
// read.
class ValueBuilder {
public:
    bool null() { return put(host::Any()); }
    bool boolean(bool value) { return put(host::Any(value)); }
    bool number_integer(Json::number_integer_t n) {
        return put(n >= INT_MIN && n <= INT_MAX ? host::Any(static_cast<int>(n)) : host::Any(static_cast<double>(n)));
    }
    bool number_unsigned(Json::number_unsigned_t n) {
        return put(n <= static_cast<std::uint64_t>(INT_MAX) ? host::Any(static_cast<int>(n))
                                                            : host::Any(static_cast<double>(n)));
    }
    bool number_float(Json::number_float_t value, const Json::string_t&) { return put(host::Any(static_cast<double>(value))); }
    bool string(Json::string_t& value) { return put(host::Any(std::move(value))); }
    bool binary(Json::binary_t&) { return put(host::Any()); }  // JSON text has none

    bool start_object(std::size_t) { return open(true); }
    bool key(Json::string_t& key) {
        m_levels.back().key = std::move(key);
        return true;
    }
    bool end_object() {
        Level level = std::move(m_levels.back());
        m_levels.pop_back();
        host::AnyMap map = toMap(level.members);
        if (!m_levels.empty()) return put(host::Any(std::move(map)));
        m_document = std::move(map);
        m_isObject = true;
        return true;
    }
    bool start_array(std::size_t) { return open(false); }
    bool end_array() {
        std::vector<host::Any> items = std::move(m_levels.back().items);
        m_levels.pop_back();
        return put(host::Any(std::move(items)));
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
        throw std::runtime_error(std::string("the manifest is not valid JSON: ") + error.what());
    }

    // The text's object; throws when the text was some other value.
    host::AnyMap document() {
        if (!m_isObject) throw std::runtime_error("the manifest is not a JSON object");
        return std::move(m_document);
    }

private:
    struct Level {
        bool object;
        std::string key;  // the member being read
        std::vector<std::pair<std::string, host::Any>> members;
        std::vector<host::Any> items;
    };

    bool open(bool object) {
        // The object itself is one level.
        if (m_levels.size() == kManifestMaxDepth) {
            throw std::runtime_error("the manifest nests deeper than " + std::to_string(kManifestMaxDepth) + " levels");
        }
        m_levels.push_back(Level{object, {}, {}, {}});
        return true;
    }

    bool put(host::Any value) {
        if (m_levels.empty()) return true;  // a document that is no object: refused at the end
        Level& level = m_levels.back();
        if (level.object) {
            level.members.emplace_back(std::move(level.key), std::move(value));
        } else {
            level.items.push_back(std::move(value));
        }
        return true;
    }

    // The members as a map. Of two members with the same key the later counts, as in any JSON
    // object; two keys that differ only in case are refused, the map could not tell them apart.
    static host::AnyMap toMap(std::vector<std::pair<std::string, host::Any>>& members) {
        std::stable_sort(members.begin(), members.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        host::AnyMap map;
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (i + 1 < members.size() && members[i + 1].first == members[i].first) continue;
            if (map.count(members[i].first)) {
                throw std::runtime_error("the manifest has keys that differ only in case: '" + members[i].first + "'");
            }
            map.insert(std::move(members[i].first), std::move(members[i].second));
        }
        return map;
    }

    std::vector<Level> m_levels;
    host::AnyMap m_document;
    bool m_isObject = false;
};

}  // namespace

host::AnyMap parseManifest(std::string_view text) {
    ValueBuilder builder;
    Json::sax_parse(text.begin(), text.end(), &builder, nlohmann::detail::input_format_t::json, /*strict=*/true,
                    /*ignore_comments=*/false);
    return builder.document();
}

}  // namespace vhost::bundle
