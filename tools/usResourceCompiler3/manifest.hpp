// Bundle manifests: strict JSON objects whose top-level members are merged into one manifest.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace rc {

// Deeper documents are refused: writing one back out recurses once per level.
inline constexpr std::size_t kMaxManifestDepth = 512;

class ManifestBuilder {
public:
    // Parses the file and merges its members. Throws FileError when the file cannot be read,
    // ManifestError "JSON Parsing Error: <file>: <reason>" when it is not strict JSON (comments,
    // trailing commas and the like are refused) or not an object, and "Duplicate key: '<k>'" when
    // an object repeats a key or a top-level key was merged from an earlier file.
    void add(const std::string& file);
    // Merges the members of `text`, read from `file` (named in messages). Throws as add() does.
    void addText(const std::string& text, const std::string& file);

    bool empty() const noexcept { return m_files == 0; }
    // The merged manifest, members in the order they were added.
    std::string text() const;

private:
    nlohmann::ordered_json m_merged = nlohmann::ordered_json::object();
    int m_files = 0;
};

}  // namespace rc
