#include "orbfile/load_readiness.hpp"

#include <algorithm>
#include <filesystem>

#include "host/filesystem.hpp"
#include "host/i18n.hpp"
#include "objfile/loadable.hpp"
#include "orbfile/api_detector.hpp"
#include "orbfile/entry_points.hpp"
#include "orbfile/inspector_impl.hpp"
#include "platform/startup_probe.hpp"
#include "startup/log_channels.hpp"

namespace orbfile {
namespace {

const host::log::DiagnosticLogger& channel() { return orb::startup::inspectorLog(); }
constexpr int kDetail = orb::startup::kLogDetail;

orb::platform::InCopyCheck g_createTrial{};

std::u16string withoutQuotes(std::u16string path) {
    if (!path.empty() && path.front() == u'"' && path.back() == u'"') {
        path.erase(path.size() - 1);
        if (!path.empty()) path.erase(0, 1);
    }
    return path;
}

}  // namespace

void installCreateEntryTrial(const orb::platform::InCopyCheck& trial) noexcept { g_createTrial = trial; }

LoadReadiness::LoadReadiness(const std::u16string& path, const std::vector<std::string_view>& definedNames,
                             bool runStartupCode) {
    check(withoutQuotes(path), definedNames, runStartupCode);
}

void LoadReadiness::check(const std::u16string& shown, const std::vector<std::string_view>& definedNames,
                          bool runStartupCode) {
    std::string native;
    try {
        native = host::fs::nativePath(shown);
    } catch (const host::fs::FilesystemError&) {
        return;  // a path the platform cannot name names no file: the Inspector says so
    }

    // 1. What the loader checks before it maps anything.
    const objfile::LoadCheck loadable = objfile::checkLoadable(std::filesystem::path(native));
    ORB_LOG(channel(), kDetail, loadable.reason);
    switch (loadable.refusal) {
        case objfile::Refusal::None: break;
        case objfile::Refusal::NotElf: m_otherFormat = true; return add(EPLATFM, shown, loadable.reason);
        case objfile::Refusal::Foreign: return add(EPLATFM, shown, loadable.reason);
        case objfile::Refusal::Damaged: return add(EBADBIN, shown, loadable.reason);
        case objfile::Refusal::Unreadable: return;  // a folder, or a file gone meanwhile: the Inspector's finding
    }

    // 2. The loader's entry-point rule over the defined names (in the file's order: sorting a
    // large library's names for four look-ups would cost more than the look-ups).
    const EntryPoints found = resolveEntryPoints([&definedNames](const char* name) -> const void* {
        const auto at = std::find(definedNames.begin(), definedNames.end(), std::string_view(name));
        return at != definedNames.end() ? at->data() : nullptr;
    });
    switch (found.outcome) {
        case EntryPoints::Found: break;
        case EntryPoints::MissingCppEntry: return add(ECPPENT, shown, found.missing);
        case EntryPoints::NoEntryPoint: {
            // The names that look like an entry point but are spelled otherwise are the symbols.
            const SymbolClassifier classifier;
            std::vector<std::string_view> names;
            for (const std::string_view name : definedNames) {
                unsigned flags = 0;
                classifier.classify_defined(name, flags);
                if (flags & ApiDetector::FLAG_EP) names.push_back(name);
            }
            std::sort(names.begin(), names.end());
            std::vector<std::u16string> lookalikes;
            for (const std::string_view name : names) lookalikes.push_back(displayName(name));
            return add(ENOENTP, shown, {}, std::move(lookalikes));
        }
    }

    // 3. The start-up code, in a copy of the process, as the loader proves it.
    if (!runStartupCode) {
        m_startup = Startup::Skipped;
        return;
    }
    const bool tryCreate = found.kind == EntryPoints::Cpp && g_createTrial.run;
    const orb::platform::StartupVerdict verdict =
        orb::platform::proveStartupCode(native, tryCreate ? &g_createTrial : nullptr);
    ORB_LOG(channel(), kDetail, verdict.reason);
    switch (verdict.kind) {
        case orb::platform::StartupVerdict::Proved: m_startup = Startup::Proved; return;
        case orb::platform::StartupVerdict::NotMapped: m_startup = Startup::Failed; return add(ENOLOAD, shown, verdict.reason);
        case orb::platform::StartupVerdict::Failed: m_startup = Startup::Failed; return add(ESTARTUP, shown, verdict.reason);
    }
}

void LoadReadiness::add(FindingID id, const std::u16string& path, const std::string& detail,
                        std::vector<std::u16string> symbols) {
    const std::string name = orb::startup::logText(FindingID2uchar(id));
    std::vector<host::MessageArg> args = {path};
    // A reason is one line; the system loader's may end with a line break.
    std::string text = detail;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (id != ENOENTP) args.emplace_back(text);
    m_findings.push_back({id, host::i18n::GetFormattedMessage("VELTRA:orb:" + name + "_reason", args),
                          host::i18n::GetFormattedMessage("VELTRA:orb:" + name + "_action", {}), std::move(symbols)});
}

const char16_t* LoadReadiness::FindingID2uchar(FindingID id) {
    switch (id) {
        case EBADBIN: return u"EBADBIN";
        case EPLATFM: return u"EPLATFM";
        case ECPPENT: return u"ECPPENT";
        case ENOENTP: return u"ENOENTP";
        case ENOLOAD: return u"ENOLOAD";
        case ESTARTUP: return u"ESTARTUP";
    }
    return nullptr;
}

}  // namespace orbfile
