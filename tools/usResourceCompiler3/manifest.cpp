#include "manifest.hpp"

#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "errors.hpp"

namespace rc {
namespace {

using Json = nlohmann::ordered_json;

struct DuplicateKey {
    std::string key;
};
struct TooDeep {};

// The library's own message without its "[json.exception...] " tag.
std::string reason(const std::exception& e) {
    std::string text = e.what();
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find("] ");
        if (close != std::string::npos) text.erase(0, close + 2);
    }
    return text;
}

}  // namespace

void ManifestBuilder::add(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw FileError("cannot read manifest '" + file + "'");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw FileError("cannot read manifest '" + file + "'");
    addText(text.str(), file);
}

void ManifestBuilder::addText(const std::string& text, const std::string& file) {
    // One key set per open object or array (arrays hold none), to catch a key repeated within
    // one object: the library would keep the last value silently.
    std::vector<std::set<std::string>> open;
    const Json::parser_callback_t strict = [&open](int, Json::parse_event_t event, Json& parsed) {
        switch (event) {
        case Json::parse_event_t::object_start:
        case Json::parse_event_t::array_start:
            open.emplace_back();
            if (open.size() > kMaxManifestDepth) throw TooDeep{};
            break;
        case Json::parse_event_t::object_end:
        case Json::parse_event_t::array_end: open.pop_back(); break;
        case Json::parse_event_t::key:
            if (!open.back().insert(parsed.get<std::string>()).second) throw DuplicateKey{parsed.get<std::string>()};
            break;
        case Json::parse_event_t::value: break;
        }
        return true;
    };

    Json document;
    try {
        document = Json::parse(text, strict, /*allow_exceptions=*/true, /*ignore_comments=*/false);
    } catch (const DuplicateKey& d) {
        throw ManifestError("Duplicate key: '" + d.key + "'");
    } catch (const TooDeep&) {
        throw ManifestError("JSON Parsing Error: " + file + ": nested deeper than " + std::to_string(kMaxManifestDepth) +
                            " levels");
    } catch (const Json::exception& e) {
        throw ManifestError("JSON Parsing Error: " + file + ": " + reason(e));
    }
    if (!document.is_object()) {
        throw ManifestError("JSON Parsing Error: " + file + ": the top-level value is not an object");
    }
    for (auto& [key, value] : document.items()) {
        if (m_merged.contains(key)) throw ManifestError("Duplicate key: '" + key + "'");
        m_merged[key] = std::move(value);
    }
    ++m_files;
}

std::string ManifestBuilder::text() const { return m_merged.dump(2) + "\n"; }

}  // namespace rc
