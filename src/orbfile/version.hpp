// The release and interface-generation version of a module, and the tables that name the
// interface generations this release knows.
//
// A release number spells the release name in hexadecimal nibbles: R2024b is 0x2024B (four year
// nibbles, then 0xA or 0xB for the a- or b-release), so unsigned comparison orders releases.
// An interface number names a generation of the array interface: 0x07000000, 0x07300000 or
// 0x08000000 (the build settings 700, 730, 800). 0 means "none" for both.
//
// Version is a plain value: no locking, no shared state except the current release number,
// which is computed once.
#pragma once

#include <cstdint>
#include <string>

#include "platform/export.hpp"

namespace orbfile {

class ORB_API Version {
public:
    // The interface generations, in the order the tables below are indexed.
    enum APITAG {
        NONE = 0,       // no versioned interface identified
        COMPAT_32 = 1,  // separate real/imaginary storage, 32-bit dimensions (700)
        R2017b = 2,     // separate real/imaginary storage, 64-bit dimensions (730)
        R2018a = 3,     // interleaved complex storage (800)
    };

    // The version text of release 0 with interface 0.
    static constexpr const char16_t nullver[] = u"0 0";

    // Valid, release 0, interface 0, text "0 0", strategy "1.0".
    Version();
    // Strategy "1.0"; then set(relnum, apinum, u"1.0").
    Version(unsigned relnum, unsigned apinum);
    Version(const Version&);
    Version(Version&&) noexcept;
    Version& operator=(const Version&);
    Version& operator=(Version&&) noexcept;
    ~Version();

    // --- setters: each answers is_valid() afterwards --------------------------------------------

    // From numbers. Both 0 gives the text "0 0"; otherwise the text is the release text, a blank
    // and the interface text, and each flag says whether its half names something known.
    bool set(unsigned relnum, unsigned apinum, std::u16string strategy);
    // From a version text "R<hex release> 0x<hex interface>". The text is kept as given (converted
    // to UTF-16; invalid UTF-8 throws the host's conversion error and leaves the value unchanged).
    // Only a release scanned: the interface flag is false and the strategy is left alone.
    // Nothing scanned: both flags false, both numbers 0.
    bool set(const std::string& text);
    // From a release name such as "R2024b" and a build setting 700, 730 or 800 (anything else
    // means interface 0).
    bool set(std::string release, unsigned api, std::u16string strategy);

    // --- queries ---------------------------------------------------------------------------------

    // The version text; valid until the value changes.
    const char16_t* get_version() const noexcept;
    // Writes both numbers (always); answers whether both halves are valid.
    bool get_version(unsigned& relnum, unsigned& apinum) const noexcept;
    // "1.0" (version function or given directly) or "2.0" (embedded manifest).
    std::u16string getVersioningStrategy() const;
    bool is_valid() const noexcept;
    // The release part of the text (up to the first blank) when the release is valid and not 0;
    // otherwise `out` is emptied and the answer is false.
    bool get_buildrel_string(std::u16string& out) const;
    // The host's display name of the interface; null unless valid with a release.
    const char16_t* get_api_name() const;
    // The host's display name of the newest interface the release supports: the interleaved
    // generation from the current release on, the 64-bit separate one before. Null unless valid
    // with a release.
    const char16_t* get_release_name() const;
    // The host's answers about the interface; false unless valid with a release.
    bool is_api_64bit() const;
    bool is_api_current() const;
    bool is_api_interleaved() const;
    // The interface is newer than anything this release knows (needs only a valid release).
    bool is_incompatible_api() const noexcept;
    bool is_release_current() const noexcept;
    // Valid with a release, tag not NONE, and the tag's interface number is this one's.
    bool is_same_api(APITAG tag) const noexcept;
    // Valid and no interface stated: the build command's default applied.
    bool is_default_orbcmd_api() const noexcept;

    // --- tables and text forms -------------------------------------------------------------------

    // This release's number (0x2024B), computed once on first use.
    static unsigned get_current_relnum();
    // Appends the release text ("0", or "R" and the lower-case hex digits); answers whether the
    // number is a good release (0 counts as good).
    static bool relnum2relstr(unsigned relnum, std::u16string& out);
    // Appends the interface text ("0", or "0x" and the hex digits); answers whether the number is
    // a known generation (0 counts as known).
    static bool apinum2apistr(unsigned apinum, std::u16string& out);
    static unsigned apitag2apinum(APITAG tag) noexcept;
    // The compiler macro and the build option that select a generation; null for NONE.
    static const char16_t* apitag2macro(APITAG tag) noexcept;
    static const char16_t* apitag2option(APITAG tag) noexcept;

private:
    // An a- or b-release no older than R2016b.
    static bool is_good_release(unsigned relnum) noexcept;
    // Both flags hold and the release is not 0: the gate of every host question.
    bool hasRelease() const noexcept;

    bool m_rel_valid;
    bool m_api_valid;
    std::uint32_t m_relnum;
    std::uint32_t m_apinum;
    std::u16string m_version;
    std::u16string m_strategy;
};

}  // namespace orbfile
