#include "orbfile/metadata/metadata.hpp"

#include <filesystem>
#include <system_error>

namespace orbfile::metadata {

namespace fs = std::filesystem;

MetaData::MetaData(const std::string outdir, unsigned apiVersion, bool threadpoolSafe)
    : m_apiVersion(apiVersion), m_threadpoolSafe(threadpoolSafe), m_outdir(outdir) {}

Result::Result(const std::string outdir, const std::string prefix) {
    fs::path directory(outdir);
    directory.make_preferred();
    // A relative directory is taken from the current one; an absolute one replaces it.
    const fs::path canonical = fs::canonical(fs::current_path() / directory);
    std::string base = canonical.string();
    if (base.empty() || base.back() != static_cast<char>(fs::path::preferred_separator)) {
        base += static_cast<char>(fs::path::preferred_separator);
    }
    m_manifestJsonPath = base + prefix + "orb_manifest.json";
    m_bundleZipPath = base + prefix + "orb_bundle.zip";
    m_win64RCPath = base + prefix + "orb_rc.rc";
    m_win64RESPath = base + prefix + "orb_res.res";
}

Result::Result(Result&&) noexcept = default;
Result& Result::operator=(Result&&) noexcept = default;
Result::~Result() = default;

void Result::delete_files() {
    for (const std::string* path : {&m_manifestJsonPath, &m_bundleZipPath, &m_win64RCPath, &m_win64RESPath}) {
        try {
            std::error_code ignored;
            if (fs::exists(*path, ignored)) fs::remove(*path, ignored);
        } catch (...) {  // a path that cannot even be formed: nothing to remove
        }
    }
}

std::string Result::getLinkerFlags(bool gnu) const {
    const bool blank = m_bundleZipPath.find(' ') != std::string::npos || m_win64RESPath.find(' ') != std::string::npos;
    const std::string q = blank ? "\"" : "";
    if (gnu) return "-Wl,--format=binary -Wl," + q + m_bundleZipPath + q + " " + "-Wl,--format=default";
    return q + m_win64RESPath + q;
}

}  // namespace orbfile::metadata
