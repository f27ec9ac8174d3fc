#include "orbfile/api_detector.hpp"

#include <array>
#include <locale>
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

std::string lowered(const std::string& symbol, const std::locale& locale) {
    std::string copy = symbol;
    if (!copy.empty()) std::use_facet<std::ctype<char>>(locale).tolower(copy.data(), copy.data() + copy.size());
    return copy;
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

// A name spelled in a single case, as Fortran compilers emit them.
bool isSingleCase(const std::string& symbol, const std::locale& locale) {
    bool upper = false;
    bool lower = false;
    for (char c : symbol) {
        if (!std::isalpha(c, locale)) continue;
        (std::isupper(c, locale) ? upper : lower) = true;
    }
    return !(upper && lower);
}

constexpr std::array<std::string_view, 3> kCppEntryPoints = {"orbCreateOrbFunction", "orbFunctionAdapter",
                                                             "orbDestroyOrbFunction"};
constexpr std::array<std::string_view, 8> kImaginaryAccessors = {
    "rygetpi", "rysetpi", "rygetimagdata", "rysetimagdata",
    "rycopycomplex16toptr", "rycopyptrtocomplex16", "rycopycomplex8toptr", "rycopyptrtocomplex8"};
constexpr std::array<std::string_view, 2> kRealAccessors = {"rygetpr", "rysetpr"};
constexpr std::array<std::string_view, 2> kUntypedAccessors = {"rygetdata", "rysetdata"};

}  // namespace

void ApiDetector::get_def_api(const std::string& symbol, unsigned& flags) {
    flags = FLAG_NN;
    const std::locale locale;
    const std::string lower = lowered(symbol, locale);
    if (has_token(lower, "orbfilerequiredapiversion")) {
        flags = FLAG_VF;
    } else if (has_token(lower, "orbfunction")) {
        flags = FLAG_EP;
        if (isSingleCase(symbol, locale)) flags |= FLAG_FR;
    } else if (hasAnyToken(symbol, kCppEntryPoints)) {
        flags = FLAG_CP;
    }
}

Version::APITAG ApiDetector::get_undef_api(const std::string& symbol, unsigned& flags) {
    flags = 0;
    if (symbol.find("ry_array_api") != std::string::npos) flags = FLAG_DV;
    const std::string lower = lowered(symbol, std::locale());
    if (!is_api_symbol(lower)) {
        flags = FLAG_NN;
        return Version::NONE;
    }
    const Version::APITAG tag = suffixTag(lower);
    if (tag < Version::R2018a && hasAnyToken(lower, kImaginaryAccessors)) flags |= FLAG_AI;
    if (hasAnyToken(lower, kRealAccessors)) flags |= FLAG_AR;
    if (hasAnyToken(lower, kUntypedAccessors)) flags |= FLAG_AU;
    if (tag < Version::R2017b && has_token(lower, "rygetdimensions")) flags |= FLAG_GD;
    return tag;
}

}  // namespace orbfile
