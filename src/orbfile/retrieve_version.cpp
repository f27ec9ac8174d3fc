#include "orbfile/retrieve_version.hpp"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <mutex>
#include <vector>

#include "host/bundle.hpp"
#include "host/filesystem.hpp"
#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "host/ut.hpp"
#include "objfile/loadable.hpp"
#include "orbfile/version_function.hpp"
#include "platform/library_handle.hpp"
#include "platform/startup_probe.hpp"
#include "startup/log_channels.hpp"

namespace orbfile {
namespace {

using orb::startup::kLogDetail;
using orb::startup::retrieveVersionLog;

constexpr const char* kReleaseKey = "kv.orb.release";
constexpr const char* kApiVersionKey = "kv.orb.apiVersion";
constexpr const char* kThreadpoolSafeKey = "kv.orb.threadpoolSafe";
constexpr const char16_t* kLegacyStrategy = u"1.0";
constexpr const char16_t* kManifestStrategy = u"2.0";

// The host's bundle framework is shared by the whole process: one reader at a time.
std::mutex& manifestMutex() {
    static std::mutex mutex;
    return mutex;
}

// Every bundle install() returned is uninstalled again on every path, not only the one that was
// read, so that reading a file leaves the host's installed set as it was.
class InstalledBundles {
public:
    explicit InstalledBundles(std::vector<host::Bundle> bundles) : m_bundles(std::move(bundles)) {}
    ~InstalledBundles() {
        for (auto& bundle : m_bundles) {
            if (bundle.GetState() == host::Bundle::STATE_INSTALLED) {
                try {
                    bundle.Uninstall();
                } catch (const std::exception&) {
                    // Another reader of the host's framework uninstalled it first.
                }
            }
        }
    }
    InstalledBundles(const InstalledBundles&) = delete;
    InstalledBundles& operator=(const InstalledBundles&) = delete;

    std::vector<host::Bundle>& get() noexcept { return m_bundles; }

private:
    std::vector<host::Bundle> m_bundles;
};

// `native` is the file's path as the platform names it (empty when it has none).
RetrieveStatus readManifest(const std::string& native, Version& version, int* threadpoolSafe = nullptr) {
    // Outside the try: a lock that cannot be taken fails the stage through the caller.
    const std::lock_guard lock(manifestMutex());
    try {
        InstalledBundles bundles(host::install(host::fs::absolute(native)));
        if (bundles.get().empty()) return NOTORB;
        // Read in place: the bundle keeps its headers while `bundles` lives.
        const host::AnyMap& headers = bundles.get().front().GetHeaders();
        const std::string release = host::any_cast<std::string>(headers.AtCompoundKey(kReleaseKey));
        const int apiVersion = host::any_cast<int>(headers.AtCompoundKey(kApiVersionKey));
        // Its presence and type are required: a manifest without it is not one of ours. Its value
        // is the module's declaration, kept only for the caller that asks for it.
        const int declared = host::any_cast<int>(headers.AtCompoundKey(kThreadpoolSafeKey));
        if (threadpoolSafe) *threadpoolSafe = declared;
        version.set(release, static_cast<unsigned>(apiVersion), kManifestStrategy);
        bundles.get().front().Uninstall();
        return SUCCESS;
    } catch (const std::exception& e) {
        ORB_LOG(retrieveVersionLog(), kLogDetail, e.what());
        return NOTORB;
    }
}

// The legacy stage maps the library like the loader does: its start-up code proved first in a
// child process, every symbol resolved at once, so a missing function fails the mapping before
// any start-up code runs in this process.
RetrieveStatus readVersionFunction(const std::u16string& path, std::uint32_t& relnum, std::uint32_t& apinum) {
    std::string native;
    try {
        native = host::fs::nativePath(path);
    } catch (const std::exception& e) {
        ORB_LOG(retrieveVersionLog(), kLogDetail, e.what());
        return NOTORB;
    }
    // A file the system loader would fault on is no module, and is not mapped.
    if (const objfile::LoadCheck check = objfile::checkLoadable(std::filesystem::path(native)); !check) {
        ORB_LOG(retrieveVersionLog(), kLogDetail, check.reason);
        return NOTORB;
    }
    // A file the system loader refuses outright fails the mapping below with the loader's reason
    // (kept as the thread's last library error); one whose start-up code failed is never mapped.
    const orb::platform::StartupVerdict verdict = orb::platform::proveStartupCode(native);
    if (verdict.kind == orb::platform::StartupVerdict::Failed) {
        ORB_LOG(retrieveVersionLog(), kLogDetail, verdict.reason);
        return NOTORB;
    }
    std::u16string error;
    const orb::platform::LibraryHandle library(orb::platform::loadLibraryLocally(path, &error));
    if (!library) {
        ORB_LOG(retrieveVersionLog(), kLogDetail, error);
        return NOTORB;
    }
    orb::platform::ModuleOutcome outcome;
    readModuleVersionFunction(library.get(), relnum, apinum, &outcome);
    if (!outcome) {
        // The version function failed: the file is no usable module, and reading stays a status.
        ORB_LOG(retrieveVersionLog(), kLogDetail, outcome.describe());
        return NOTORB;
    }
    return relnum != 0 ? SUCCESS : NOEVER;
}

// check_version_file, also answering the file's native path (when it has one), which the stages
// after it read.
RetrieveStatus checkVersionFile(const std::u16string& path, std::string& native) {
    if (path.empty()) return NONAME;
    try {
        native = host::fs::nativePath(path);
    } catch (const host::fs::FilesystemError&) {
        return NOFILE;  // a path the platform cannot name names no file
    }
    // A file that can be read exists: the usual case asks the system once. Otherwise the answer
    // and its reason come from the steps below.
    try {
        if (host::fs::access(native, host::fs::kAccessRead)) return NOEVER;
    } catch (const std::exception&) {
    }
    if (!host::fs::exists(native)) return NOFILE;
    bool readable = false;
    try {
        readable = host::fs::access(native, host::fs::kAccessRead);
    } catch (const host::fs::FilesystemError& e) {
        if (e.number() == host::fs::FilesystemError::kSystemError) {
            const int excp_id = e.number();
            ORB_LOG(retrieveVersionLog(), kLogDetail, excp_id);
        } else {
            ORB_LOG(retrieveVersionLog(), kLogDetail, e.what());
        }
    } catch (const std::exception& e) {
        ORB_LOG(retrieveVersionLog(), kLogDetail, e.what());
    }
    return readable ? NOEVER : NOREAD;
}

RetrieveStatus readEmbeddedVersion(const std::u16string& path, const std::string& native, Version& version) {
    version.set(0, 0, kLegacyStrategy);
    RetrieveStatus status = NOTORB;
    try {
        status = readManifest(native, version);
    } catch (...) {
        ORB_LOG(retrieveVersionLog(), kLogDetail,
                "Retrieving from json meta-data failed, defaulting to legacy meta-data retrieval");
        status = NOTORB;
    }
    if (status == SUCCESS) return SUCCESS;

    std::uint32_t relnum = 0;
    std::uint32_t apinum = 0;
    status = readVersionFunction(path, relnum, apinum);
    version.set(relnum, apinum, kLegacyStrategy);
    return status;
}

}  // namespace

RetrieveStatus check_version_file(const std::u16string& path) {
    std::string native;
    return checkVersionFile(path, native);
}

RetrieveStatus read_embedded_version(const std::u16string& path, Version& version) {
    std::string native;
    try {
        native = host::fs::nativePath(path);
    } catch (const std::exception&) {
        // No native path: the manifest stage fails and the version function's says why.
    }
    return readEmbeddedVersion(path, native, version);
}

RetrieveStatus retrieve_version(const std::u16string& path, Version& version) {
    std::string native;
    const RetrieveStatus checked = checkVersionFile(path, native);
    if (checked != NOEVER) return checked;
    return readEmbeddedVersion(path, native, version);
}

bool declares_threadpool_safe(const std::u16string& path) {
    Version version;
    int declared = 0;
    try {
        std::string native;
        if (checkVersionFile(path, native) != NOEVER || readManifest(native, version, &declared) != SUCCESS) return false;
    } catch (...) {
        return false;
    }
    return declared == 1;
}

RetrieveStatus retrieve_manifest_version(const std::u16string& path, Version& version) {
    std::string native;
    const RetrieveStatus checked = checkVersionFile(path, native);
    if (checked != NOEVER) return checked;
    version.set(0, 0, kLegacyStrategy);
    try {
        return readManifest(native, version);
    } catch (...) {
        return NOTORB;
    }
}

bool is_interleaved_complex(const std::u16string& path) {
    if (path.empty()) return false;
    unsigned relnum = 0;
    unsigned apinum = 0;
    if (OrbRetrieveVersion(path, relnum, apinum) != 0 || relnum == 0) return false;
    return host::is_interleaved_complex_version(apinum);
}

}  // namespace orbfile

int OrbRetrieveVersion(const std::u16string& path, unsigned& relnum, unsigned& apinum) {
    relnum = 0;
    apinum = 0;
    orbfile::Version version;
    const orbfile::RetrieveStatus status = orbfile::retrieve_version(path, version);
    version.get_version(relnum, apinum);
    return status == orbfile::SUCCESS || status == orbfile::NOEVER ? 0 : 1;
}

int orb_file_is_interleaved_complex(const char* path) {
    if (path == nullptr) return 0;
    std::u16string wide;
    try {
        wide = host::i18n::to_ustring(path);
    } catch (const std::exception&) {
        return 0;
    }
    return orbfile::is_interleaved_complex(wide) ? 1 : 0;
}
