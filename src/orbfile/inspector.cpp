// The steps of an inspection: file checks, symbol reading, classification, the embedded version.
#include "orbfile/inspector.hpp"

#include <algorithm>

#include "host/filesystem.hpp"
#include "host/i18n.hpp"
#include "orbfile/api_detector.hpp"
#include "orbfile/inspector_impl.hpp"
#include "orbfile/retrieve_version.hpp"
#include "startup/log_channels.hpp"

namespace orbfile {
namespace {

// The host's text conversion under the short name the diagnostic records carry. A record must
// never fail, so text that does not convert is shown with replacement characters.
namespace fl::i18n {
std::string to_string(std::u16string_view text) { return orb::startup::logText(text); }
}  // namespace fl::i18n

const host::log::DiagnosticLogger& channel() { return orb::startup::inspectorLog(); }
constexpr int kDetail = orb::startup::kLogDetail;

}  // namespace

const std::array<Inspector::Impl::ListInfo, 12> Inspector::Impl::kLists = {{
    {"CP", &Impl::m_def_CPs, true},
    {"EP", &Impl::m_def_EPs, true},
    {"FR", &Impl::m_def_FRs, true},
    {"DV", &Impl::m_undef_DVs, false},
    {"32", &Impl::m_undef_32s, false},
    {"64", &Impl::m_undef_64s, false},
    {"IC", &Impl::m_undef_ICs, false},
    {"UN", &Impl::m_undef_UNs, false},
    {"GD", &Impl::m_undef_GDs, false},
    {"AI", &Impl::m_undef_AIs, false},
    {"AR", &Impl::m_undef_ARs, false},
    {"AU", &Impl::m_undef_AUs, false},
}};

Inspector::Impl::Impl(std::vector<Message>& messages, const std::u16string& path, bool strict)
    : m_messages(messages), m_is_strict(strict) {
    checkFile(path);
    if (!m_has_error) readSymbols();
    if (!m_has_error) {
        classifyDefinedSymbols();
        classifyUndefinedSymbols();
        orderLists();
    }
    if (!m_has_error) readEmbeddedVersion();
    if (!m_has_error) applyErrorRules();
    if (!m_has_error) applyUpgradeRules();
    ORB_LOG(channel(), kDetail, m_has_error);
    ORB_LOG(channel(), kDetail, m_needs_upgrade);
    ORB_LOG(channel(), kDetail, m_messages.size());
}

void Inspector::Impl::checkFile(const std::u16string& path) {
    m_orbfile = path;
    if (!m_orbfile.empty() && m_orbfile.front() == u'"' && m_orbfile.back() == u'"') {
        m_orbfile.erase(m_orbfile.size() - 1);
        if (!m_orbfile.empty()) m_orbfile.erase(0, 1);
    }
    ORB_LOG(channel(), kDetail, fl::i18n::to_string(m_orbfile));
    try {
        m_native_path = host::fs::nativePath(m_orbfile);
    } catch (const host::fs::FilesystemError&) {
        m_native_path.clear();  // the file check below reports the path
    }
    ORB_LOG(channel(), kDetail, m_native_path);

    switch (check_version_file(m_orbfile)) {
        case NONAME: return addError(ENONAME);
        case NOFILE: return addError(ENOFILE, {m_orbfile});
        case NOREAD: return addError(ENOREAD, {m_orbfile});
        case NOEVER: return;  // the checks passed
        case SUCCESS:
        case NOTORB: return addError(ENOTORB, {m_orbfile});
    }
    addError(ENOTORB, {m_orbfile});
}

void Inspector::Impl::readSymbols() {
    m_syms = std::make_unique<host::util::LibSyms>(m_orbfile);
    ORB_LOG(channel(), kDetail, m_syms->exists());
    ORB_LOG(channel(), kDetail, m_syms->is_valid());
    if (!m_syms->exists()) return addError(ENOFILE, {m_orbfile});
    if (!m_syms->is_valid()) {
        ORB_LOG(channel(), kDetail, m_syms->error());
        return addError(ENOTORB, {m_orbfile});
    }
    // In the file's order: the classification lists are put in name order when they are made
    // (orderLists), the whole lists only when someone asks for them (sortedNames). A check
    // that lists nothing sorts nothing.
    m_defs.swap(m_syms->defined());
    m_undefs.swap(m_syms->undefined());
    ORB_LOG(channel(), kDetail, m_defs.size());
    ORB_LOG(channel(), kDetail, m_undefs.size());
}

void Inspector::Impl::classifyDefinedSymbols() {
    const SymbolClassifier classifier;
    // The names are views into the one mapping of the file the symbol reader keeps: the bytes from
    // the first name to the end of the last are there to be read, and are scanned in one pass for
    // the few names worth classifying.
    const char* first = nullptr;
    const char* end = nullptr;
    for (const std::string_view name : m_defs) {
        if (name.empty()) continue;
        if (!first || name.data() < first) first = name.data();
        if (!end || name.data() + name.size() > end) end = name.data() + name.size();
    }
    const std::vector<std::size_t> worth =
        classifier.namesWorthClassifying(std::string_view(first, static_cast<std::size_t>(end - first)), m_defs);
    const auto record = [&](std::size_t i, unsigned flags) {
        if (flags & ApiDetector::FLAG_EP) {
            m_def_EPs.push_back(i);
            if (flags & ApiDetector::FLAG_FR) m_def_FRs.push_back(i);
        }
        if (flags & ApiDetector::FLAG_CP) m_def_CPs.push_back(i);
        if (flags & ApiDetector::FLAG_VF) m_has_embedded_version = true;
    };
    // Asked once: a large library defines tens of thousands of names, most of no interest. Only
    // a log of every name visits them all.
    if (!channel().enabled(kDetail)) {
        for (const std::size_t i : worth) {
            unsigned flags = 0;
            classifier.classify_defined(m_defs[i], flags);
            record(i, flags);
        }
    } else {
        auto next = worth.begin();
        for (std::size_t i = 0; i < m_defs.size(); ++i) {
            unsigned flags = ApiDetector::FLAG_NN;
            if (next != worth.end() && *next == i) {
                classifier.classify_defined(m_defs[i], flags);
                ++next;
            }
            ORB_LOG(channel(), kDetail, m_defs[i]);
            ORB_LOG(channel(), kDetail, flags);
            record(i, flags);
        }
    }
    ORB_LOG(channel(), kDetail, m_def_EPs.size());
    ORB_LOG(channel(), kDetail, m_def_CPs.size());
    ORB_LOG(channel(), kDetail, m_has_embedded_version);
}

void Inspector::Impl::classifyUndefinedSymbols() {
    const SymbolClassifier classifier;
    const bool perName = channel().enabled(kDetail);
    for (std::size_t i = 0; i < m_undefs.size(); ++i) {
        unsigned flags = 0;
        const Version::APITAG apitag = classifier.classify_undefined(m_undefs[i], flags);
        if (perName) {
            ORB_LOG(channel(), kDetail, m_undefs[i]);
            ORB_LOG(channel(), kDetail, static_cast<int>(apitag));
            ORB_LOG(channel(), kDetail, flags);
        }
        if (flags & ApiDetector::FLAG_NN) continue;
        switch (apitag) {
            case Version::COMPAT_32: m_undef_32s.push_back(i); break;
            case Version::R2017b: m_undef_64s.push_back(i); break;
            case Version::R2018a: m_undef_ICs.push_back(i); break;
            case Version::NONE:
                if (!(flags & ApiDetector::FLAG_DV)) m_undef_UNs.push_back(i);
                break;
        }
        if (flags & ApiDetector::FLAG_GD) m_undef_GDs.push_back(i);
        if (flags & ApiDetector::FLAG_AI) m_undef_AIs.push_back(i);
        if (flags & ApiDetector::FLAG_AR) m_undef_ARs.push_back(i);
        if (flags & ApiDetector::FLAG_AU) m_undef_AUs.push_back(i);
        if (flags & ApiDetector::FLAG_DV) m_undef_DVs.push_back(i);
    }
    const std::size_t s32 = m_undef_32s.size(), s64 = m_undef_64s.size(), sIC = m_undef_ICs.size();
    const std::size_t sDV = m_undef_DVs.size(), sCP = m_def_CPs.size(), sEP = m_def_EPs.size();
    const std::size_t sFR = m_def_FRs.size(), sUN = m_undef_UNs.size(), sGD = m_undef_GDs.size();
    const std::size_t sAI = m_undef_AIs.size(), sAR = m_undef_ARs.size(), sAU = m_undef_AUs.size();
    ORB_LOG(channel(), kDetail, s32);
    ORB_LOG(channel(), kDetail, s64);
    ORB_LOG(channel(), kDetail, sIC);
    ORB_LOG(channel(), kDetail, sDV);
    ORB_LOG(channel(), kDetail, sCP);
    ORB_LOG(channel(), kDetail, sEP);
    ORB_LOG(channel(), kDetail, sFR);
    ORB_LOG(channel(), kDetail, sUN);
    ORB_LOG(channel(), kDetail, sGD);
    ORB_LOG(channel(), kDetail, sAI);
    ORB_LOG(channel(), kDetail, sAR);
    ORB_LOG(channel(), kDetail, sAU);
}

void Inspector::Impl::orderLists() {
    for (const ListInfo& info : kLists) {
        const std::vector<std::string_view>& names = info.ofDefs ? m_defs : m_undefs;
        IndexList& list = this->*info.list;
        std::sort(list.begin(), list.end(), [&](std::size_t a, std::size_t b) {
            return names[a] < names[b] || (names[a] == names[b] && a < b);
        });
    }
}

const std::vector<std::string_view>& Inspector::Impl::sortedNames(bool defined) {
    std::optional<std::vector<std::string_view>>& sorted = defined ? m_sortedDefs : m_sortedUndefs;
    if (!sorted) {
        sorted = defined ? m_defs : m_undefs;
        std::sort(sorted->begin(), sorted->end());
    }
    return *sorted;
}

void Inspector::Impl::readEmbeddedVersion() {
    // Thread-pool safety is a C++ module's own declaration in its manifest (read, never run).
    if (!m_def_CPs.empty()) m_threadpool_safe = declares_threadpool_safe(m_orbfile);
    // A C++ module's version is never read, and a module without the version function keeps the
    // default version: valid, interface 0, strategy "1.0".
    if (!m_def_CPs.empty() || !m_has_embedded_version) return;
    const RetrieveStatus status = read_embedded_version(m_orbfile, m_ver_embedded);
    ORB_LOG(channel(), kDetail, static_cast<int>(status));
    ORB_LOG(channel(), kDetail, fl::i18n::to_string(m_ver_embedded.get_version()));
    switch (status) {
        case SUCCESS:
        case NOEVER: return;
        case NONAME: return addError(ENONAME);
        case NOFILE: return addError(ENOFILE, {m_orbfile});
        case NOREAD: return addError(ENOREAD, {m_orbfile});
        case NOTORB: return addError(ENOTORB, {m_orbfile});
    }
    addError(ENOTORB, {m_orbfile});
}

// --- Inspector --------------------------------------------------------------------------------

Inspector::Inspector(const std::u16string& path, bool strict)
    : m_impl(std::make_unique<Impl>(m_messages, path, strict)) {}

Inspector::~Inspector() = default;

const char16_t* Inspector::MessageID2uchar(MessageID id) {
    switch (id) {
        case ENONAME: return u"ENONAME";
        case ENOFILE: return u"ENOFILE";
        case ENOREAD: return u"ENOREAD";
        case ENOTORB: return u"ENOTORB";
        case ELNKAPI: return u"ELNKAPI";
        case EVERAPI: return u"EVERAPI";
        case EUNKAPI: return u"EUNKAPI";
        case ELNKCPP: return u"ELNKCPP";
        case ENOEVER: return u"ENOEVER";
        case URECOMP: return u"URECOMP";
        case ULATEST: return u"ULATEST";
        case UCOMPAT: return u"UCOMPAT";
        case ULEGACY: return u"ULEGACY";
        case UENTRYP: return u"UENTRYP";
    }
    return nullptr;
}

bool Inspector::has_error() const { return m_impl->m_has_error; }
bool Inspector::needs_upgrade() const { return m_impl->m_needs_upgrade; }
bool Inspector::is_cpp_orb() const { return !m_impl->m_def_CPs.empty(); }
bool Inspector::is_threadpool_safe() const { return m_impl->m_threadpool_safe; }

const char16_t* Inspector::get_embedded_version_compiler_flag() const {
    return Version::apitag2macro(m_impl->m_api_detected);
}

std::u16string Inspector::get_versioning_strategy() const { return m_impl->m_ver_embedded.getVersioningStrategy(); }

bool Inspector::needs_consistent_embedded_version() const {
    unsigned relnum = 0;
    unsigned apinum = 0;
    const bool valid = m_impl->m_ver_embedded.get_version(relnum, apinum);
    return m_impl->m_api_detected != Version::NONE && valid && apinum == 0;
}

const std::u16string& Inspector::get_first_compatible_release() const { return m_impl->m_first_compatible_release; }

const std::u16string& Inspector::get_summary() {
    if (m_impl->m_summary.empty()) m_impl->buildSummary();
    return m_impl->m_summary;
}

const std::u16string& Inspector::get_log() {
    if (m_impl->m_log.empty()) m_impl->buildLog();
    return m_impl->m_log;
}

const std::vector<std::string_view>& Inspector::get_defined_symbols() const { return m_impl->sortedNames(true); }
const std::vector<std::string_view>& Inspector::get_undefined_symbols() const { return m_impl->sortedNames(false); }

}  // namespace orbfile
