// The Inspector's rules: when a module cannot be used (errors) and when it should be rebuilt
// (upgrades), and the message each finding becomes.
#include "host/i18n.hpp"
#include "orbfile/inspector_impl.hpp"
#include "startup/log_channels.hpp"

namespace orbfile {
namespace {

const host::log::DiagnosticLogger& channel() { return orb::startup::inspectorLog(); }

void logError(const char* text) {
    if (channel().enabled(orb::startup::kLogError)) channel().push(orb::startup::kLogError, text);
}

// The build option that selects a generation, as a message argument ("" for none).
std::u16string option(Version::APITAG tag) {
    const char16_t* text = Version::apitag2option(tag);
    return text != nullptr ? std::u16string(text) : std::u16string();
}

std::string mnemonic(Inspector::MessageID id) { return orb::startup::logText(Inspector::MessageID2uchar(id)); }

}  // namespace

void Inspector::Impl::addMessage(MessageID id, const std::vector<host::MessageArg>& args,
                                 std::initializer_list<const IndexList*> lists) {
    // The catalogue keys are made of the identifier's name and the part of the message.
    const std::string name = mnemonic(id);
    Message message{id, host::i18n::GetFormattedMessage("VELTRA:orb:" + name + "_reason", args), {}, {}};
    // ENONAME and ENOFILE have nothing the user could do about the file itself.
    if (id != ENONAME && id != ENOFILE) message.action = host::i18n::GetFormattedMessage("VELTRA:orb:" + name + "_action", {});
    for (const IndexList* list : lists) {
        const bool ofDefs = list == &m_def_CPs || list == &m_def_EPs || list == &m_def_FRs;
        for (std::size_t index : *list) message.symbols.push_back(displayName(ofDefs ? m_defs[index] : m_undefs[index]));
    }
    m_messages.push_back(std::move(message));
}

void Inspector::Impl::addError(MessageID id, const std::vector<host::MessageArg>& args,
                               std::initializer_list<const IndexList*> lists) {
    m_has_error = true;
    addMessage(id, args, lists);
}

void Inspector::Impl::addUpgrade(MessageID id, std::initializer_list<const IndexList*> lists) {
    m_needs_upgrade = true;
    addMessage(id, {m_orbfile}, lists);
}

void Inspector::Impl::applyErrorRules() {
    const std::size_t s32 = m_undef_32s.size(), s64 = m_undef_64s.size(), sIC = m_undef_ICs.size();
    const std::size_t sDV = m_undef_DVs.size(), sAI = m_undef_AIs.size();

    if (!m_def_CPs.empty()) {
        // A C++ module exchanges data arrays, never separate-complex ones.
        if (s32 != 0 || s64 != 0) {
            logError("Error ELNKCPP");
            const bool compat = s32 != 0;
            addError(ELNKCPP, {m_orbfile, option(compat ? Version::COMPAT_32 : Version::R2017b)},
                     {compat ? &m_undef_32s : &m_undef_64s});
        }
        return;
    }

    if (s32 != 0 && (s64 != 0 || sIC != 0 || sDV != 0)) {
        logError("Error ELNKAPI");
        if (s64 != 0) {
            return addError(ELNKAPI, {m_orbfile, option(Version::COMPAT_32), option(Version::R2017b)},
                            {&m_undef_32s, &m_undef_64s});
        }
        return addError(ELNKAPI, {m_orbfile, option(Version::COMPAT_32), option(Version::R2018a)},
                        {&m_undef_32s, &m_undef_ICs, &m_undef_DVs});
    }
    if ((s64 != 0 || sAI != 0) && (sIC != 0 || sDV != 0)) {
        logError("Error ELNKAPI");
        return addError(ELNKAPI, {m_orbfile, option(Version::R2017b), option(Version::R2018a)},
                        {&m_undef_64s, &m_undef_AIs, &m_undef_ICs, &m_undef_DVs});
    }
    if ((sIC != 0 || sDV != 0) && !m_has_embedded_version) {
        m_api_detected = Version::R2018a;
        logError("Error ENOEVER: detected API is IC without embedded version");
        return addError(ENOEVER, {m_orbfile});
    }

    if (s32 == 0 && s64 == 0 && sIC == 0 && sDV == 0) {
        m_api_detected = Version::NONE;
    } else {
        m_api_detected = s32 != 0 ? Version::COMPAT_32 : s64 != 0 ? Version::R2017b : Version::R2018a;
    }
    ORB_LOG(channel(), orb::startup::kLogDetail, static_cast<int>(m_api_detected));
    ORB_LOG(channel(), orb::startup::kLogDetail, m_is_strict);

    if (m_ver_embedded.is_incompatible_api()) {
        logError("Error EUNKAPI");
        std::u16string release;
        m_ver_embedded.get_buildrel_string(release);
        return addError(EUNKAPI, {m_orbfile, release});
    }

    // The imports against what the embedded version states.
    const auto everapi = [&] {
        const IndexList* detected[3] = {&m_undef_32s, nullptr, nullptr};
        if (m_api_detected == Version::R2017b) detected[0] = &m_undef_64s;
        if (m_api_detected == Version::R2018a) {
            detected[0] = &m_undef_ICs;
            detected[1] = &m_undef_DVs;
        }
        Version::APITAG embedded = Version::COMPAT_32;
        if (m_ver_embedded.is_api_interleaved()) {
            embedded = Version::R2018a;
        } else if (m_ver_embedded.is_api_64bit() || m_ver_embedded.is_default_orbcmd_api()) {
            embedded = Version::R2017b;
        }
        const std::vector<host::MessageArg> args = {m_orbfile, option(m_api_detected), option(embedded)};
        if (detected[1] != nullptr) return addError(EVERAPI, args, {detected[0], detected[1]});
        addError(EVERAPI, args, {detected[0]});
    };
    const bool defaultEmbedded = m_ver_embedded.is_default_orbcmd_api();
    if (!(defaultEmbedded || m_api_detected == Version::NONE || m_ver_embedded.is_same_api(m_api_detected))) {
        logError("Error EVERAPI");
        return everapi();
    }
    // Strict: an interleaved module must state its interface rather than rely on the default.
    if (m_is_strict && defaultEmbedded && m_api_detected == Version::R2018a) {
        logError("Error EVERAPI (Default embedded and detected IC)");
        return everapi();
    }
}

void Inspector::Impl::applyUpgradeRules() {
    if (!m_is_strict) {
        logError("orb command orbcheck warnings are disabled.");
        return;
    }
    if (m_def_CPs.empty() && m_def_EPs.empty()) addUpgrade(UENTRYP);
    if (!m_undef_GDs.empty() && (m_api_detected == Version::NONE || m_api_detected == Version::COMPAT_32)) {
        addUpgrade(ULEGACY, {&m_undef_GDs});
    }
    if (!m_undef_AIs.empty()) addUpgrade(UCOMPAT, {&m_undef_AIs});
    if (!m_undef_AUs.empty() || !m_undef_ARs.empty()) addUpgrade(ULATEST, {&m_undef_AUs, &m_undef_ARs});
    if (!m_needs_upgrade && !m_ver_embedded.is_api_current() && m_def_CPs.empty()) addUpgrade(URECOMP);
}

}  // namespace orbfile
