#include "orbfile/api_detector.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <locale>
#include <optional>
#include <string_view>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The scans of a block of names for a boundary (':' or '_') followed by 'o' or 'O', or by any
// byte with `anyNext`: each appends the boundaries' offsets, in order, and answers where it
// stopped, leaving the last bytes (fewer than a register and one) to the caller.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
__attribute__((target("avx2"))) std::size_t scanBoundariesAvx2(const char* text, std::size_t n, bool anyNext,
                                                               std::vector<std::size_t>& out) {
    const __m256i underscore = _mm256_set1_epi8('_');
    const __m256i colon = _mm256_set1_epi8(':');
    const __m256i lowerBit = _mm256_set1_epi8(0x20);
    const __m256i o = _mm256_set1_epi8(anyNext ? 0 : 'o');
    const __m256i anyByte = _mm256_set1_epi8(anyNext ? -1 : 0);
    std::size_t i = 0;
    for (; i + 33 <= n; i += 32) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i + 1));
        const __m256i boundary = _mm256_or_si256(_mm256_cmpeq_epi8(bytes, underscore), _mm256_cmpeq_epi8(bytes, colon));
        const __m256i thenO = _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_or_si256(next, lowerBit), o), anyByte);
        for (auto bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(boundary, thenO))); bits != 0;
             bits &= bits - 1) {
            out.push_back(i + static_cast<std::size_t>(std::countr_zero(bits)));
        }
    }
    return i;
}
#endif

std::size_t scanBoundaries(const char* text, std::size_t n, bool anyNext, std::vector<std::size_t>& out) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return scanBoundariesAvx2(text, n, anyNext, out);
#endif
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i underscore = _mm_set1_epi8('_');
    const __m128i colon = _mm_set1_epi8(':');
    const __m128i lowerBit = _mm_set1_epi8(0x20);
    const __m128i o = _mm_set1_epi8(anyNext ? 0 : 'o');
    const __m128i anyByte = _mm_set1_epi8(anyNext ? -1 : 0);
    for (; i + 17 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 1));
        const __m128i boundary = _mm_or_si128(_mm_cmpeq_epi8(bytes, underscore), _mm_cmpeq_epi8(bytes, colon));
        const __m128i thenO = _mm_or_si128(_mm_cmpeq_epi8(_mm_or_si128(next, lowerBit), o), anyByte);
        for (auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(boundary, thenO))); bits != 0;
             bits &= bits - 1) {
            out.push_back(i + static_cast<std::size_t>(std::countr_zero(bits)));
        }
    }
#endif
    return i;
}

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
    // The names looked for start with "orb" as a token, in the name as it is and lower-cased
    // alike: the scan for the bytes before a token holds when only ':' and '_' lower-case to a
    // boundary and "orb" lower-cases to itself.
    m_scanBoundaries = m_lower['o'] == 'o' && m_lower['r'] == 'r' && m_lower['b'] == 'b';
    m_onlyAsciiOLowersToO = true;
    for (std::size_t c = 0; c < kChars; ++c) {
        if ((m_lower[c] == 'o') != (c == 'o' || c == 'O')) m_onlyAsciiOLowersToO = false;
    }
    for (std::size_t c = 0; c < kChars; ++c) {
        if (isTokenBoundary(m_lower[c]) != isTokenBoundary(static_cast<char>(c)) ||
            (isTokenBoundary(m_lower[c]) && m_lower[c] != static_cast<char>(c))) {
            m_scanBoundaries = false;
        }
    }
}

bool SymbolClassifier::mayHoldOrbToken(std::string_view symbol) const {
    if (!m_scanBoundaries) return true;
    const std::size_t n = symbol.size();
    const char* const text = symbol.data();
    const auto lower = [&](std::size_t i) { return m_lower[static_cast<unsigned char>(text[i])]; };
    const auto orbAt = [&](std::size_t i) {
        return i + 3 <= n && lower(i) == 'o' && lower(i + 1) == 'r' && lower(i + 2) == 'b';
    };
    if (orbAt(0)) return true;
    if (n < 4) return false;
    // Then after a boundary at [0, end), which leaves room for "orb"; a word that would run past
    // `end` is moved back over bytes already looked at. A large file's names come here only when
    // the scan of their block (namesWorthClassifying) found them worth it.
    const std::size_t end = n - 3;
    std::size_t i = 0;
    // Eight bytes at a time: the high bit of each byte of x that is zero, and of no other.
    constexpr std::uint64_t kLows = 0x7f7f7f7f7f7f7f7fULL;
    const auto zeroBytes = [](std::uint64_t x) { return ~(((x & kLows) + kLows) | x | kLows); };
    for (; end >= 8; i += 8) {
        if (i + 8 > end) i = end - 8;
        std::uint64_t word;
        std::memcpy(&word, text + i, sizeof word);
        for (std::uint64_t found = zeroBytes(word ^ 0x5f5f5f5f5f5f5f5fULL) | zeroBytes(word ^ 0x3a3a3a3a3a3a3a3aULL);
             found != 0; found &= found - 1) {
            const auto bit = static_cast<std::size_t>(std::countr_zero(found));
            const std::size_t byte = std::endian::native == std::endian::little ? bit / 8 : 7 - bit / 8;
            if (orbAt(i + byte + 1)) return true;
        }
        if (i + 8 == end) return false;
    }
    for (; i < end; ++i) {
        if (isTokenBoundary(text[i]) && orbAt(i + 1)) return true;
    }
    return false;
}

std::vector<std::size_t> SymbolClassifier::namesWorthClassifying(std::string_view block,
                                                                 const std::vector<std::string_view>& names) const {
    std::vector<std::size_t> worth;
    if (!m_scanBoundaries) {
        for (std::size_t k = 0; k < names.size(); ++k) worth.push_back(k);
        return worth;
    }
    const char* const text = block.data();
    const std::size_t n = block.size();
    const auto lower = [&](std::size_t i) { return m_lower[static_cast<unsigned char>(text[i])]; };
    const auto orbAt = [&](std::size_t i) {
        return i + 3 <= n && lower(i) == 'o' && lower(i + 1) == 'r' && lower(i + 2) == 'b';
    };
    // The boundaries of the block followed by 'o' or 'O' (by any byte when others lower-case to
    // 'o' too), in order; then the places after them where "orb" starts.
    std::vector<std::size_t> boundaries;
    std::size_t i = scanBoundaries(text, n, !m_onlyAsciiOLowersToO, boundaries);
    for (; i + 1 < n; ++i) {
        if (isTokenBoundary(text[i])) boundaries.push_back(i);
    }
    std::vector<std::size_t> starts;
    for (const std::size_t at : boundaries) {
        if (orbAt(at + 1)) starts.push_back(at + 1);
    }
    for (std::size_t k = 0; k < names.size(); ++k) {
        const std::string_view name = names[k];
        if (name.size() < 3) continue;
        const auto first = static_cast<std::size_t>(name.data() - text);
        if (orbAt(first)) {
            worth.push_back(k);
            continue;
        }
        if (starts.empty()) continue;
        // A token inside the name starts after a boundary inside it, where "orb" still fits.
        const auto after = std::upper_bound(starts.begin(), starts.end(), first);
        if (after != starts.end() && *after + 3 <= first + name.size()) worth.push_back(k);
    }
    return worth;
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
    // Every name this looks for is a token beginning with "orb" in some case; most names hold none.
    if (!mayHoldOrbToken(symbol)) return;
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
