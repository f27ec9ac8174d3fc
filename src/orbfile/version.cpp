#include "orbfile/version.hpp"

#include <cassert>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <utility>

#include "host/i18n.hpp"
#include "host/ry.hpp"

namespace orbfile {

static_assert(sizeof(unsigned) == sizeof(std::uint32_t), "release and interface numbers are 32-bit");

namespace {

constexpr std::u16string_view kLegacyStrategy = u"1.0";

// The release this runtime belongs to, as it is spelt after the "R".
constexpr std::string_view kCurrentReleaseDigits = "2024b";
// The oldest release that module versions can name.
constexpr unsigned kOldestGoodRelease = 0x2016B;

constexpr unsigned kApiCompat32 = 0x07000000;
constexpr unsigned kApiR2017b = 0x07300000;
constexpr unsigned kApiR2018a = 0x08000000;

struct ApiTagRow {
    unsigned apinum;
    const char16_t* macro;
    const char16_t* option;
};

// Indexed by APITAG; one row per tag, in tag order.
constexpr ApiTagRow kApiTags[] = {
    {0, nullptr, nullptr},
    {kApiCompat32, u"-DRY_COMPAT_32", u"-compatibleArrayDims"},
    {kApiR2017b, u"-DVELTRA_ORBCMD_RELEASE=R2017b", u"-R2017b"},
    {kApiR2018a, u"-DVELTRA_ORBCMD_RELEASE=R2018a", u"-R2018a"},
};
static_assert(std::size(kApiTags) == Version::R2018a + 1, "one row per APITAG");

const ApiTagRow& rowOf(Version::APITAG tag) noexcept {
    const auto index = static_cast<unsigned>(tag);
    assert(index < std::size(kApiTags));
    // An out-of-range tag is a caller's bug; answering "none" beats reading past the table.
    return index < std::size(kApiTags) ? kApiTags[index] : kApiTags[Version::NONE];
}

// Lower-case hex digits of `number`, or false when they do not fit the 16-byte buffer the text
// forms allow.
bool formatHex(unsigned number, std::u16string& digits) {
    char buffer[16];
    const int length = std::snprintf(buffer, sizeof buffer, "%x", number);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer) return false;
    digits.assign(buffer, buffer + length);
    return true;
}

// The interface number of a decimal build setting; 0 for anything else.
unsigned apinumOfSetting(unsigned setting) noexcept {
    switch (setting) {
    case 700: return kApiCompat32;
    case 730: return kApiR2017b;
    case 800: return kApiR2018a;
    default: return 0;
    }
}

}  // namespace

Version::Version()
    : m_rel_valid(true), m_api_valid(true), m_relnum(0), m_apinum(0), m_version(nullver),
      m_strategy(kLegacyStrategy) {}

Version::Version(unsigned relnum, unsigned apinum) : Version() {
    set(relnum, apinum, std::u16string(kLegacyStrategy));
}

Version::Version(const Version&) = default;
Version::Version(Version&&) noexcept = default;
Version& Version::operator=(const Version&) = default;
Version& Version::operator=(Version&&) noexcept = default;
Version::~Version() = default;

bool Version::set(unsigned relnum, unsigned apinum, std::u16string strategy) {
    m_relnum = relnum;
    m_apinum = apinum;
    if (relnum == 0 && apinum == 0) {
        m_rel_valid = true;
        m_api_valid = true;
        m_version = nullver;
    } else {
        m_version.clear();
        m_rel_valid = relnum2relstr(relnum, m_version);
        m_version += u' ';
        m_api_valid = apinum2apistr(apinum, m_version);
    }
    m_strategy = std::move(strategy);
    return is_valid();
}

bool Version::set(const std::string& text) {
    if (text.empty()) return set(0, 0, std::u16string(kLegacyStrategy));

    // Converted first, so a text the host cannot convert leaves this value as it was.
    std::u16string converted = host::i18n::to_ustring(text);

    unsigned release = 0;
    unsigned api = 0;
    const int scanned = std::sscanf(text.c_str(), "R%X 0x%X", &release, &api);
    if (scanned == 2) {
        set(release, api, std::u16string(kLegacyStrategy));
    } else if (scanned == 1) {
        m_rel_valid = is_good_release(release);
        m_api_valid = false;
        m_relnum = release;
        m_apinum = 0;
    } else {  // 0, or EOF when the text ends before the "R"
        m_rel_valid = false;
        m_api_valid = false;
        m_relnum = 0;
        m_apinum = 0;
    }
    m_version = std::move(converted);
    return is_valid();
}

bool Version::set(std::string release, unsigned api, std::u16string strategy) {
    unsigned relnum = 0;
    if (!release.empty()) {
        unsigned scanned = 0;
        if (std::sscanf(release.c_str() + 1, "%x", &scanned) == 1) relnum = scanned;
    }
    return set(relnum, apinumOfSetting(api), std::move(strategy));
}

const char16_t* Version::get_version() const noexcept { return m_version.c_str(); }

bool Version::get_version(unsigned& relnum, unsigned& apinum) const noexcept {
    relnum = m_relnum;
    apinum = m_apinum;
    return is_valid();
}

std::u16string Version::getVersioningStrategy() const { return m_strategy; }

bool Version::is_valid() const noexcept { return m_rel_valid && m_api_valid; }

bool Version::hasRelease() const noexcept { return is_valid() && m_relnum != 0; }

bool Version::get_buildrel_string(std::u16string& out) const {
    if (!m_rel_valid || m_relnum == 0) {
        out.clear();
        return false;
    }
    out = m_version.substr(0, m_version.find(u' '));
    return true;
}

const char16_t* Version::get_api_name() const {
    return hasRelease() ? host::get_version_name(m_apinum) : nullptr;
}

const char16_t* Version::get_release_name() const {
    if (!hasRelease()) return nullptr;
    return host::get_version_name(m_relnum >= get_current_relnum() ? kApiR2018a : kApiR2017b);
}

bool Version::is_api_64bit() const { return hasRelease() && host::is_64bit_version(m_apinum); }

bool Version::is_api_current() const { return hasRelease() && host::is_current_version(m_apinum); }

bool Version::is_api_interleaved() const {
    return hasRelease() && host::is_interleaved_complex_version(m_apinum);
}

bool Version::is_incompatible_api() const noexcept {
    return m_rel_valid && m_relnum != 0 && m_apinum > kApiR2018a;
}

bool Version::is_release_current() const noexcept {
    return m_rel_valid && m_relnum != 0 && m_relnum == get_current_relnum();
}

bool Version::is_same_api(APITAG tag) const noexcept {
    return hasRelease() && tag != NONE && apitag2apinum(tag) == m_apinum;
}

bool Version::is_default_orbcmd_api() const noexcept { return m_apinum == 0 && is_valid(); }

unsigned Version::get_current_relnum() {
    static const unsigned current = [] {
        unsigned value = 0;
        const char* first = kCurrentReleaseDigits.data();
        const char* last = first + kCurrentReleaseDigits.size();
        const auto [end, error] = std::from_chars(first, last, value, 16);
        return (error == std::errc() && end == last) ? value : 0u;
    }();
    return current;
}

bool Version::is_good_release(unsigned relnum) noexcept {
    const unsigned letter = relnum & 0xF;
    return (letter == 0xA || letter == 0xB) && relnum >= kOldestGoodRelease;
}

bool Version::relnum2relstr(unsigned relnum, std::u16string& out) {
    if (relnum == 0) {
        out += u'0';
        return true;
    }
    std::u16string digits;
    if (!formatHex(relnum, digits)) {
        out += u"RXXXXx";
        return false;
    }
    out += u'R';
    out += digits;
    return is_good_release(relnum);
}

bool Version::apinum2apistr(unsigned apinum, std::u16string& out) {
    if (apinum == 0) {
        out += u'0';
        return true;
    }
    std::u16string digits;
    if (formatHex(apinum, digits)) {
        out += u"0x";
        out += digits;
    } else {
        out += u"0xXXXXXXXX";
    }
    return apinum == kApiCompat32 || apinum == kApiR2017b || apinum == kApiR2018a;
}

unsigned Version::apitag2apinum(APITAG tag) noexcept { return rowOf(tag).apinum; }

const char16_t* Version::apitag2macro(APITAG tag) noexcept { return rowOf(tag).macro; }

const char16_t* Version::apitag2option(APITAG tag) noexcept { return rowOf(tag).option; }

}  // namespace orbfile
