#include "orbfile/version_report.hpp"

#include <filesystem>

#include "capi/message_ids.hpp"
#include "capi/raise.hpp"
#include "host/filesystem.hpp"
#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "host/ut.hpp"
#include "objfile/loadable.hpp"
#include "orbfile/retrieve_version.hpp"

namespace {

ryArray* characterRow(const std::u16string& text) { return host::ryCreateString(host::i18n::to_string(text).c_str()); }

// Why the version could not be read, as one line: what the check before mapping found (the file
// was then never handed to the loader), else the loader's last error, trailing line ends, tabs
// and blanks removed.
std::u16string whyUnreadable(const std::u16string& path) {
    try {
        const objfile::LoadCheck check = objfile::checkLoadable(std::filesystem::path(host::fs::nativePath(path)));
        if (!check) return std::u16string(check.reason.begin(), check.reason.end());
    } catch (const host::fs::FilesystemError&) {
        // The loader's error names the path it could not take.
    }
    std::u16string text = host::utLastLibraryError_u();
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u'\t' || text.back() == u' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

namespace orbfile {

const char* version_compatibility_word(unsigned relnum, unsigned apinum) {
    if (relnum == 0) return "unknown";
    if (host::is_current_version(apinum)) return "current";
    if (host::is_compatible_version(apinum)) return "compatible";
    return "incompatible";
}

}  // namespace orbfile

void orbFeature_orbver(int nlhs, ryArray* plhs[], int nrhs, ryArray* prhs[]) {
    using orb::capi::raiseError;
    if (nrhs == 0) {
        if (nlhs > 1) host::error_maxlhs();
        plhs[0] = characterRow(host::get_current_version_name());
        return;
    }
    if (nlhs > 2) host::error_maxlhs();
    if (nrhs > 1) host::error_maxrhs();
    if (prhs[0] == nullptr || host::ryGetClassID(prhs[0]) != ryCHAR_CLASS) raiseError<VELTRA::legacy_two_part::badopt>();
    const std::u16string path = host::get_ustring(prhs[0]);
    if (path.empty()) raiseError<VELTRA::orb::invalidArgument>();

    unsigned relnum = 0;
    unsigned apinum = 0;
    if (OrbRetrieveVersion(path, relnum, apinum) != 0) {
        raiseError<VELTRA::orb::ErrInvalidORBFile>(path, whyUnreadable(path));
    }
    if (nlhs == 2) {
        plhs[0] = characterRow(host::get_version_name(apinum));
        plhs[1] = characterRow(host::get_current_version_name());
        return;
    }
    plhs[0] = host::ryCreateString(orbfile::version_compatibility_word(relnum, apinum));
}
