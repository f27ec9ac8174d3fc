// Reading back which metadata a module's compiled code calls for, from an inspection of the file
// (the interface generation its imports name), not from a manifest it may carry.
#pragma once

#include <string>

#include "orbfile/metadata/metadata.hpp"
#include "platform/export.hpp"

namespace orbfile {

// Inspects the module at `path` (strictly) and answers 0 with `out` set to: the file's directory
// (empty when the path has none), the generation its imports name (700, 730 or 800; 800 when they
// name none, which is the build default; 0 for a generation this release cannot map) and whether
// it is a C++ module that declares itself safe on the host's thread pool. Answers 1, leaving
// `out` as it was, when anything on the way throws; no exception leaves it.
ORB_API int get_meta_data_from_orbfile(const std::string path, metadata::MetaData& out);

}  // namespace orbfile
