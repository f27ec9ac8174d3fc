#include "orbfile/metadata/metadata.hpp"

#include <boost/filesystem.hpp>

namespace orbfile::metadata {

namespace bfs = boost::filesystem;

MetaData::MetaData(const std::string outdir, unsigned apiVersion, bool threadpoolSafe)
    : m_apiVersion(apiVersion), m_threadpoolSafe(threadpoolSafe), m_outdir(outdir) {}

Result::Result(const std::string outdir, const std::string prefix) {
    bfs::path directory(outdir);
    directory.make_preferred();
    const bfs::path current = bfs::current_path();
    const bfs::path canonical = directory.empty() ? bfs::canonical(current) : bfs::canonical(directory, current);
    std::string base = canonical.string();
    if (base.empty() || base.back() != static_cast<char>(bfs::path::preferred_separator)) {
        base += static_cast<char>(bfs::path::preferred_separator);
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
            boost::system::error_code ignored;
            if (bfs::exists(*path, ignored)) bfs::remove(*path, ignored);
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
