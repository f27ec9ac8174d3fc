// The manifest benchmark's baseline: the least a reader of an attached zip must do. It scans the
// file backward for an end-of-central-directory record whose central directory is there, finds
// the entry "<bundle>/manifest.json" in it and returns that entry's text (stored or deflated).
#pragma once

#include <optional>
#include <string>

namespace orbbench {

// The text of the first manifest entry of the zip found last in the file at `path`; nothing when
// the file holds no such zip or cannot be read.
std::optional<std::string> readAttachedManifest(const std::string& path);

}  // namespace orbbench
