// The message catalogue: identifier -> text, read from every resources/messages/*.json under
// the installation root. Each file is one flat JSON object of identifier to text; texts use
// positional placeholders {0}, {1}, ...
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/exceptions.hpp"
#include "host/host_api.hpp"

namespace vhost::i18n {

class HOST_API Catalogue {
public:
    // Reads every *.json file of `directory` in name order. A file that cannot be read or is not
    // a flat object of strings is skipped and named in problems(); when two files give the same
    // identifier the first one read wins and the clash is a problem too.
    static Catalogue load(const std::filesystem::path& directory);

    std::optional<std::u16string> find(const std::string& identifier) const;
    std::size_t size() const noexcept { return m_texts.size(); }
    const std::vector<std::string>& problems() const noexcept { return m_problems; }

private:
    void loadFile(const std::filesystem::path& file);

    std::unordered_map<std::string, std::u16string> m_texts;
    std::vector<std::string> m_problems;
};

// The process's catalogue, read from <installation root>/resources/messages on first use.
HOST_API const Catalogue& processCatalogue();

// Replaces each {N} in `text` with the N-th argument; a placeholder without an argument, and
// anything else in braces, stays as it is.
HOST_API std::u16string formatMessage(std::u16string_view text, const std::vector<host::MessageArg>& args);

}  // namespace vhost::i18n
