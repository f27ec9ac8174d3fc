#include "orbfile/api_detector.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <locale>
#include <optional>
#include <string_view>

namespace orbfile {
namespace {

// The endings by which an interface generation may close a name.
constexpr std::array<std::string_view, 6> kVersionEndings = {"700_", "700", "730_", "730", "800_", "800"};

bool isTokenBoundary(char c) { return c == ':' || c == '_'; }

// Whether `name` occurs in `symbol` as a token: it starts the symbol or follows ':' or '_', and
// it ends the symbol, precedes ':' or '_', or is followed by nothing but a generation ending.
// A failed occurrence is skipped as a whole before the search goes on.
bool has_token(std::string_view symbol, std::string_view name) {
    std::size_t from = 0;
    for (std::size_t at; (at = symbol.find(name, from)) != std::string_view::npos; from = at + name.size()) {
        if (at != 0 && !isTokenBoundary(symbol[at - 1])) continue;
        const std::size_t end = at + name.size();
        if (end == symbol.size() || isTokenBoundary(symbol[end])) return true;
        const std::string_view rest = symbol.substr(end);
        for (std::string_view ending : kVersionEndings) {
            if (rest == ending) return true;
        }
    }
    return false;
}

template <std::size_t N>
bool hasAnyToken(std::string_view symbol, const std::array<std::string_view, N>& names) {
    for (std::string_view name : names) {
        if (has_token(symbol, name)) return true;
    }
    return false;
}

// Whether a lower-case import name belongs to the host's array interface or the runtime's
// services. (Names of the host's GPU arrays start with the array prefix too and count alike.)
bool is_api_symbol(std::string_view lower) {
    if (lower.find("ry_array_api") != std::string_view::npos) return true;
    for (std::string_view prefix : {"ry", "_ry", "orb", "_orb", "vlt", "_vlt"}) {
        if (lower.starts_with(prefix)) return true;
    }
    return false;
}

Version::APITAG suffixTag(std::string_view lower) {
    const auto endsWith = [&](std::string_view digits) {
        return lower.ends_with(digits) || (lower.ends_with('_') && lower.substr(0, lower.size() - 1).ends_with(digits));
    };
    if (endsWith("700")) return Version::COMPAT_32;
    if (endsWith("730")) return Version::R2017b;
    if (endsWith("800")) return Version::R2018a;
    return Version::NONE;
}

constexpr std::array<std::string_view, 3> kCppEntryPoints = {"orbCreateOrbFunction", "orbFunctionAdapter",
                                                             "orbDestroyOrbFunction"};
constexpr std::array<std::string_view, 8> kImaginaryAccessors = {
    "rygetpi", "rysetpi", "rygetimagdata", "rysetimagdata",
    "rycopycomplex16toptr", "rycopyptrtocomplex16", "rycopycomplex8toptr", "rycopyptrtocomplex8"};
constexpr std::array<std::string_view, 2> kRealAccessors = {"rygetpr", "rysetpr"};
constexpr std::array<std::string_view, 2> kUntypedAccessors = {"rygetdata", "rysetdata"};

}  // namespace

// --- SymbolClassifier -------------------------------------------------------------------------

SymbolClassifier::SymbolClassifier(const std::locale& locale) {
    const auto& ctype = std::use_facet<std::ctype<char>>(locale);
    for (std::size_t c = 0; c < kChars; ++c) m_lower[c] = static_cast<char>(c);
    ctype.tolower(m_lower.data(), m_lower.data() + kChars);
    for (std::size_t c = 0; c < kChars; ++c) {
        const char ch = static_cast<char>(c);
        m_alpha[c] = ctype.is(std::ctype_base::alpha, ch);
        m_upper[c] = ctype.is(std::ctype_base::upper, ch);
    }
    m_orbKeepsItsCase = m_lower['o'] == 'o' && m_lower['r'] == 'r' && m_lower['b'] == 'b';
    m_onlyAsciiOLowersToO = true;
    for (std::size_t c = 0; c < kChars; ++c) {
        if ((m_lower[c] == 'o') != (c == 'o' || c == 'O')) m_onlyAsciiOLowersToO = false;
    }
}

bool SymbolClassifier::mayHoldOrb(std::string_view symbol) const {
    if (!m_orbKeepsItsCase) return true;
    const std::size_t n = symbol.size();
    const auto lower = [&](std::size_t i) { return m_lower[static_cast<unsigned char>(symbol[i])]; };
    const auto orbAt = [&](std::size_t i) {
        return i + 3 <= n && lower(i) == 'o' && lower(i + 1) == 'r' && lower(i + 2) == 'b';
    };
    std::size_t i = 0;
    if (m_onlyAsciiOLowersToO) {
        // Eight bytes at a time: a word without 'o' or 'O' (the bytes that set 0x20 makes 0x6f)
        // holds no beginning of "orb" and is stepped over whole.
        constexpr std::uint64_t kLows = 0x7f7f7f7f7f7f7f7fULL;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, symbol.data() + i, sizeof word);
            const std::uint64_t x = (word | 0x2020202020202020ULL) ^ 0x6f6f6f6f6f6f6f6fULL;
            // The high bit of each byte of x that is zero, and of no other.
            for (std::uint64_t zeros = ~(((x & kLows) + kLows) | x | kLows); zeros != 0; zeros &= zeros - 1) {
                const auto bit = static_cast<std::size_t>(std::countr_zero(zeros));
                const std::size_t byte = std::endian::native == std::endian::little ? bit / 8 : 7 - bit / 8;
                if (orbAt(i + byte)) return true;
            }
        }
    }
    for (; i < n; ++i) {
        if (orbAt(i)) return true;
    }
    return false;
}

std::string_view SymbolClassifier::lowered(std::string_view symbol, Lowered& out) const {
    char* to = out.local;
    if (symbol.size() > sizeof out.local) {
        out.heap.resize(symbol.size());
        to = out.heap.data();
    }
    for (std::size_t i = 0; i < symbol.size(); ++i) to[i] = m_lower[static_cast<unsigned char>(symbol[i])];
    return {to, symbol.size()};
}

bool SymbolClassifier::isSingleCase(std::string_view symbol) const {
    bool upper = false;
    bool lower = false;
    for (const char c : symbol) {
        const auto byte = static_cast<unsigned char>(c);
        if (!m_alpha[byte]) continue;
        (m_upper[byte] ? upper : lower) = true;
    }
    return !(upper && lower);
}

void SymbolClassifier::classify_defined(std::string_view symbol, unsigned& flags) const {
    flags = ApiDetector::FLAG_NN;
    // Every name this looks for begins with "orb" in some case; most names hold no such bytes.
    if (!mayHoldOrb(symbol)) return;
    Lowered buffer;
    const std::string_view lower = lowered(symbol, buffer);
    if (has_token(lower, "orbfilerequiredapiversion")) {
        flags = ApiDetector::FLAG_VF;
    } else if (has_token(lower, "orbfunction")) {
        flags = ApiDetector::FLAG_EP;
        if (isSingleCase(symbol)) flags |= ApiDetector::FLAG_FR;
    } else if (hasAnyToken(symbol, kCppEntryPoints)) {
        flags = ApiDetector::FLAG_CP;
    }
}

Version::APITAG SymbolClassifier::classify_undefined(std::string_view symbol, unsigned& flags) const {
    flags = 0;
    if (symbol.find("ry_array_api") != std::string_view::npos) flags = ApiDetector::FLAG_DV;
    Lowered buffer;
    const std::string_view lower = lowered(symbol, buffer);
    if (!is_api_symbol(lower)) {
        flags = ApiDetector::FLAG_NN;
        return Version::NONE;
    }
    const Version::APITAG tag = suffixTag(lower);
    if (tag < Version::R2018a && hasAnyToken(lower, kImaginaryAccessors)) flags |= ApiDetector::FLAG_AI;
    if (hasAnyToken(lower, kRealAccessors)) flags |= ApiDetector::FLAG_AR;
    if (hasAnyToken(lower, kUntypedAccessors)) flags |= ApiDetector::FLAG_AU;
    if (tag < Version::R2017b && has_token(lower, "rygetdimensions")) flags |= ApiDetector::FLAG_GD;
    return tag;
}

// --- ApiDetector: one name at a time, with the locale as it is at the call ---------------------

void ApiDetector::get_def_api(const std::string& symbol, unsigned& flags) {
    SymbolClassifier().classify_defined(symbol, flags);
}

Version::APITAG ApiDetector::get_undef_api(const std::string& symbol, unsigned& flags) {
    return SymbolClassifier().classify_undefined(symbol, flags);
}

}  // namespace orbfile
