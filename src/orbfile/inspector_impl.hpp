// The working state of an Inspector, shared by its three source files: the steps of the
// inspection (inspector.cpp), the rules and their messages (inspector_rules.cpp), and the
// summary and log texts (inspector_text.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/exceptions.hpp"
#include "host/libsyms.hpp"
#include "orbfile/inspector.hpp"
#include "orbfile/version.hpp"

namespace orbfile {

class Inspector::Impl {
public:
    using IndexList = std::vector<std::size_t>;

    Impl(std::vector<Message>& messages, const std::u16string& path, bool strict);

    // --- the steps, in order; each after the first is skipped once m_has_error is set ----------
    void checkFile(const std::u16string& path);
    void readSymbols();
    void classifyDefinedSymbols();
    void classifyUndefinedSymbols();
    // Puts each classification list in the order of the names it indexes.
    void orderLists();
    // All names defined (or imported), in order; sorted on first request.
    const std::vector<std::string_view>& sortedNames(bool defined);
    void readEmbeddedVersion();
    void applyErrorRules();
    void applyUpgradeRules();

    // --- findings ----------------------------------------------------------------------------
    // Appends the message `id` with the catalogue texts for its reason (formatted with `args`)
    // and action, and the display names of the symbols of `lists` in order.
    void addMessage(MessageID id, const std::vector<host::MessageArg>& args, std::initializer_list<const IndexList*> lists);
    void addError(MessageID id, const std::vector<host::MessageArg>& args = {},
                  std::initializer_list<const IndexList*> lists = {});
    void addUpgrade(MessageID id, std::initializer_list<const IndexList*> lists = {});

    // --- texts (inspector_text.cpp) ------------------------------------------------------------
    void buildSummary();
    void buildLog();

    // One of the twelve classification lists: its label and whether it indexes m_defs.
    struct ListInfo {
        const char* label;
        IndexList Impl::*list;
        bool ofDefs;
    };
    static const std::array<ListInfo, 12> kLists;
    std::string_view symbolOf(const ListInfo& info, std::size_t index) const {
        return info.ofDefs ? m_defs[index] : m_undefs[index];
    }

    std::u16string m_orbfile;
    std::vector<Message>& m_messages;
    bool m_has_error = false;
    bool m_needs_upgrade = false;
    std::u16string m_first_compatible_release;
    std::u16string m_summary;
    std::u16string m_log;
    Version::APITAG m_api_detected = Version::NONE;
    bool m_has_embedded_version = false;
    bool m_threadpool_safe = false;
    Version m_ver_embedded;
    // Views into the file as m_syms keeps it mapped: no name is copied.
    std::vector<std::string_view> m_defs;
    std::vector<std::string_view> m_undefs;
    // The same names in order, made on first request.
    std::optional<std::vector<std::string_view>> m_sortedDefs, m_sortedUndefs;
    std::unique_ptr<host::util::LibSyms> m_syms;
    IndexList m_def_CPs, m_def_EPs, m_def_FRs;
    IndexList m_undef_DVs, m_undef_32s, m_undef_64s, m_undef_ICs, m_undef_UNs;
    IndexList m_undef_GDs, m_undef_AIs, m_undef_ARs, m_undef_AUs;
    bool m_is_strict;
    std::string m_native_path;  // the host filesystem's form of m_orbfile; empty when it has none
};

// UTF-16 of a name as the file stores it. Names are meant to be UTF-8; a damaged file's bytes
// that are not show as U+FFFD rather than stopping the inspection.
std::u16string symbolText(std::string_view name);
// The name shown in messages: one leading and one trailing '_' removed, then a generation suffix
// (700, 730, 800, with the '_' before it).
std::u16string displayName(std::string_view name);

}  // namespace orbfile
