// Diagnosing a module file without running it: can it be used with this release, and if not,
// why, and what should its author do.
//
// The Inspector reads the file's defined and undefined symbol names, classifies each
// (ApiDetector), reads the version the module embeds, and applies two fixed sets of rules: error
// rules (the module must not be used: not a module, mixed interface generations, a version that
// contradicts the imports) and, in strict mode, upgrade rules (the module works but uses an old or
// deprecated interface). Each finding is a Message with a catalogue reason and action and the
// names of the symbols that caused it. Whether the loader would map the file and find its entry
// point is not its question: LoadReadiness (load_readiness.hpp) answers that, and
// checkModule (module_verdict.hpp) puts both together.
//
// All work happens in the constructor, which never throws for a bad file. An Inspector holds at
// most one error (the first stops the inspection) and upgrade messages only when it has no error.
// One thread uses an Inspector; several Inspectors may run at once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "orbfile/version.hpp"
#include "platform/export.hpp"

namespace orbfile {

class ORB_API Inspector {
public:
    // What was found. E: the module cannot be used; U: an upgrade is recommended.
    enum MessageID : unsigned char {
        ENONAME = 0,   // the module path is empty
        ENOFILE = 1,   // the file does not exist
        ENOREAD = 2,   // the file exists but cannot be read
        ENOTORB = 3,   // not a valid module binary, or its embedded version cannot be read
        ELNKAPI = 4,   // links against more than one interface generation
        EVERAPI = 5,   // the embedded version names another interface than the imports
        EUNKAPI = 6,   // the embedded interface is newer than this release knows
        ELNKCPP = 7,   // a C++ module links against a separate-complex interface
        ENOEVER = 8,   // uses the interleaved interface but embeds no version
        URECOMP = 9,   // the embedded interface is not the current one
        ULATEST = 10,  // uses the real-part or untyped data accessors
        UCOMPAT = 11,  // uses separate-imaginary-part accessors
        ULEGACY = 12,  // uses the dimension query of the 32-bit interface
        UENTRYP = 13,  // defines no entry point at all
    };

    struct Message {
        MessageID id;
        std::u16string reason;                 // catalogue text
        std::u16string action;                 // catalogue text; empty for ENONAME and ENOFILE
        std::vector<std::u16string> symbols;  // display names of the symbols behind the finding
    };

    // Inspects the file at `path` (surrounding double quotes are ignored). `strict` adds the
    // upgrade rules and one more error rule (an interleaved-interface module whose embedded
    // version states no interface).
    Inspector(const std::u16string& path, bool strict);
    ~Inspector();
    Inspector(const Inspector&) = delete;
    Inspector& operator=(const Inspector&) = delete;

    // The name of a message identifier ("ENONAME" ... "UENTRYP"); `id` must be one of the values
    // above.
    static const char16_t* MessageID2uchar(MessageID id);

    const std::vector<Message>& get_messages() const noexcept { return m_messages; }
    bool has_error() const;
    bool needs_upgrade() const;
    // The module defines a C++ entry point.
    bool is_cpp_orb() const;
    // Always false: nothing the inspection reads declares it yet.
    bool is_threadpool_safe() const;
    // The compiler macro of the interface generation the imports name; null when they name none.
    const char16_t* get_embedded_version_compiler_flag() const;
    // "1.0" or "2.0": how the embedded version was (or would have been) read.
    std::u16string get_versioning_strategy() const;
    // The imports name a generation but the embedded version states none.
    bool needs_consistent_embedded_version() const;
    // Empty: nothing in the inspection determines it.
    const std::u16string& get_first_compatible_release() const;

    // One line: path, file time, embedded version, list counts, the finding, strategy and
    // thread-pool support, then "\n". Built on first call.
    const std::u16string& get_summary();
    // The twelve classification lists with their symbols, one per line. Built on first call.
    const std::u16string& get_log();

    // The names the symbol reader found, sorted ascending (byte order); empty when the file was
    // not read.
    // The names view the inspected file, which the Inspector keeps mapped while it lives.
    const std::vector<std::string_view>& get_defined_symbols() const;
    const std::vector<std::string_view>& get_undefined_symbols() const;

private:
    // The verdict reads the names in the file's order, which needs no sort.
    friend class ModuleVerdict;
    class Impl;
    std::vector<Message> m_messages;  // before m_impl: the implementation refers to it
    std::unique_ptr<Impl> m_impl;
};

}  // namespace orbfile
