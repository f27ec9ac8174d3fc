#include "vhost/i18n/catalogue.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>

#include <nlohmann/json.hpp>

#include "host/i18n.hpp"
#include "host/install.hpp"
#include "vhost/i18n/conversion.hpp"

namespace vhost::i18n {

Catalogue Catalogue::load(const std::filesystem::path& directory) {
    Catalogue catalogue;
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == ".json") files.push_back(it->path());
    }
    if (error) catalogue.m_problems.push_back(directory.string() + ": " + error.message());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) catalogue.loadFile(file);
    return catalogue;
}

void Catalogue::loadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        m_problems.push_back(file.string() + ": cannot be opened");
        return;
    }
    nlohmann::json document = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded() || !document.is_object()) {
        m_problems.push_back(file.string() + ": not a JSON object");
        return;
    }
    for (const auto& [identifier, text] : document.items()) {
        if (!text.is_string()) {
            m_problems.push_back(file.string() + ": the text of " + identifier + " is not a string");
            continue;
        }
        // The parser has already rejected malformed UTF-8.
        auto [it, inserted] = m_texts.try_emplace(identifier, toUtf16Lenient(text.get_ref<const std::string&>()));
        if (!inserted) m_problems.push_back(file.string() + ": " + identifier + " is already defined");
    }
}

std::optional<std::u16string> Catalogue::find(const std::string& identifier) const {
    auto it = m_texts.find(identifier);
    if (it == m_texts.end()) return std::nullopt;
    return it->second;
}

const Catalogue& processCatalogue() {
    // A function-local static: read once, on first use, safely under concurrent first calls.
    static const Catalogue catalogue = [] {
        auto loaded = Catalogue::load(std::filesystem::path(host::get_install_path()) / "resources" / "messages");
        // A broken catalogue file shows up as missing texts much later; say why now.
        for (const auto& problem : loaded.problems()) std::fprintf(stderr, "message catalogue: %s\n", problem.c_str());
        return loaded;
    }();
    return catalogue;
}

namespace {

std::u16string argumentText(const host::MessageArg& arg) {
    struct Visitor {
        std::u16string operator()(const std::string& s) const { return toUtf16Lenient(s); }
        std::u16string operator()(const std::u16string& s) const { return s; }
        std::u16string operator()(std::int64_t v) const { return toUtf16Lenient(std::to_string(v)); }
        std::u16string operator()(std::uint64_t v) const { return toUtf16Lenient(std::to_string(v)); }
        std::u16string operator()(double v) const {
            char buffer[64];
            auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
            return toUtf16Lenient(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
        }
    };
    return std::visit(Visitor{}, arg);
}

}  // namespace

std::u16string formatMessage(std::u16string_view text, const std::vector<host::MessageArg>& args) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == u'{') {
            std::size_t j = i + 1;
            std::size_t index = 0;
            bool overflow = false;
            while (j < text.size() && text[j] >= u'0' && text[j] <= u'9') {
                overflow = overflow || index > args.size();
                index = index * 10 + static_cast<std::size_t>(text[j] - u'0');
                ++j;
            }
            if (j > i + 1 && j < text.size() && text[j] == u'}' && !overflow && index < args.size()) {
                out += argumentText(args[index]);
                i = j + 1;
                continue;
            }
        }
        out += text[i];
        ++i;
    }
    return out;
}

}  // namespace vhost::i18n

namespace host::i18n {

const Locale& global() {
    static const Locale locale{"en_US"};
    return locale;
}

std::u16string get_message(const std::string& identifier, const Locale&) {
    if (auto text = vhost::i18n::processCatalogue().find(identifier)) return *text;
    return u"No message text is known for the identifier '" + vhost::i18n::toUtf16Lenient(identifier) + u"'.";
}

bool has_message(const std::string& identifier) {
    return vhost::i18n::processCatalogue().find(identifier).has_value();
}

std::u16string GetFormattedMessage(const std::string& identifier, const std::vector<MessageArg>& args) {
    return vhost::i18n::formatMessage(get_message(identifier), args);
}

}  // namespace host::i18n
