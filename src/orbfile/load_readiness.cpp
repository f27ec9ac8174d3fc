#include "orbfile/load_readiness.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>

#include <boost/interprocess/file_mapping.hpp>
#include <boost/interprocess/mapped_region.hpp>

#include "host/filesystem.hpp"
#include "host/i18n.hpp"
#include "objfile/loadable.hpp"
#include "orbfile/entry_points.hpp"
#include "orbfile/inspector_impl.hpp"
#include "platform/startup_probe.hpp"
#include "startup/log_channels.hpp"

namespace orbfile {
namespace {

const host::log::DiagnosticLogger& channel() { return orb::startup::inspectorLog(); }
constexpr int kDetail = orb::startup::kLogDetail;

orb::platform::InCopyCheck g_createTrial{};

// The check before mapping over the file mapped whole, so that the tables of a large library are
// walked where they lie instead of read piece by piece; a file that cannot be mapped (empty, or
// unreadable) is read as the loader reads it, which gives the reason.
objfile::LoadCheck checkMapped(const std::string& native) {
    namespace bip = boost::interprocess;
    try {
        const bip::file_mapping file(native.c_str(), bip::read_only);
        const bip::mapped_region region(file, bip::read_only);
        if (region.get_size() != 0) {
            return objfile::checkLoadable(objfile::ByteView(region.get_address(), region.get_size()));
        }
    } catch (const bip::interprocess_exception&) {
    }
    return objfile::checkLoadable(std::filesystem::path(native));
}

std::u16string withoutQuotes(std::u16string path) {
    if (!path.empty() && path.front() == u'"' && path.back() == u'"') {
        path.erase(path.size() - 1);
        if (!path.empty()) path.erase(0, 1);
    }
    return path;
}

}  // namespace

void installCreateEntryTrial(const orb::platform::InCopyCheck& trial) noexcept { g_createTrial = trial; }

LoadReadiness::LoadReadiness(const std::u16string& path, const objfile::LoadCheck& loadable,
                             const std::vector<std::string_view>& definedNames,
                             const std::vector<std::string_view>& lookalikes, bool runStartupCode) {
    check(withoutQuotes(path), loadable, definedNames, lookalikes, runStartupCode);
}

objfile::LoadCheck LoadReadiness::checkBeforeMapping(const std::u16string& path) {
    try {
        return checkMapped(host::fs::nativePath(withoutQuotes(path)));
    } catch (const host::fs::FilesystemError& error) {
        return {objfile::Refusal::Unreadable, error.what()};
    }
}

void LoadReadiness::check(const std::u16string& shown, const objfile::LoadCheck& loadable,
                          const std::vector<std::string_view>& definedNames,
                          const std::vector<std::string_view>& lookalikes, bool runStartupCode) {
    std::string native;
    try {
        native = host::fs::nativePath(shown);
    } catch (const host::fs::FilesystemError&) {
        return;  // a path the platform cannot name names no file: the Inspector says so
    }

    // 1. What the loader checks before it maps anything.
    ORB_LOG(channel(), kDetail, loadable.reason);
    switch (loadable.refusal) {
        case objfile::Refusal::None: break;
        case objfile::Refusal::NotElf: m_otherFormat = true; return add(EPLATFM, shown, loadable.reason);
        case objfile::Refusal::Foreign: return add(EPLATFM, shown, loadable.reason);
        case objfile::Refusal::Damaged: return add(EBADBIN, shown, loadable.reason);
        case objfile::Refusal::Unreadable: return;  // a folder, or a file gone meanwhile: the Inspector's finding
    }

    // 2. The loader's entry-point rule over the defined names, in the file's order: the names it
    // asks for are picked out in one pass (sorting a large library's names, or a search per name
    // asked, would cost more than the pass), told apart by their lengths first.
    const std::array<std::string_view, 6> asked = {kCppEntryName,         kCEntryName,    kFortranEntryNames[0],
                                                   kFortranEntryNames[1], kCppCreateName, kCppDestroyName};
    std::array<const char*, asked.size()> defined{};
    std::uint64_t lengths = 0;
    for (const std::string_view name : asked) lengths |= std::uint64_t{1} << name.size();
    for (const std::string_view name : definedNames) {
        if (name.size() >= 64 || ((lengths >> name.size()) & 1) == 0) continue;
        for (std::size_t k = 0; k < asked.size(); ++k) {
            if (!defined[k] && name == asked[k]) defined[k] = name.data();
        }
    }
    const EntryPoints found = resolveEntryPoints([&](const char* name) -> const void* {
        const auto at = std::find(asked.begin(), asked.end(), std::string_view(name));
        if (at != asked.end()) return defined[static_cast<std::size_t>(at - asked.begin())];
        const auto any = std::find(definedNames.begin(), definedNames.end(), std::string_view(name));
        return any != definedNames.end() ? any->data() : nullptr;
    });
    switch (found.outcome) {
        case EntryPoints::Found: break;
        case EntryPoints::MissingCppEntry: return add(ECPPENT, shown, found.missing);
        case EntryPoints::NoEntryPoint: {
            // The names that look like an entry point but are spelled otherwise are the symbols.
            std::vector<std::u16string> symbols;
            for (const std::string_view name : lookalikes) symbols.push_back(displayName(name));
            return add(ENOENTP, shown, {}, std::move(symbols));
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
