#include "capi/arguments.hpp"

#include <string_view>

#include "capi/message_ids.hpp"
#include "capi/raise.hpp"

namespace orb::capi {
namespace {

constexpr std::size_t kMaxNameLength = 63;
constexpr std::size_t kShownLength = 40;

bool isAsciiLetter(unsigned c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isNameCharacter(unsigned c) { return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_'; }

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        unsigned code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, code = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, code = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, code = c & 0x07u;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;  // cut short by the end
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80u) return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += extra + 1;
    }
    return true;
}

// The text as far as it is printable ASCII, cut to a readable length, in quotes.
template <class Char>
std::string shown(const Char* text) {
    std::string out = "'";
    std::size_t i = 0;
    for (; text[i] && i < kShownLength; ++i) {
        const auto c = static_cast<unsigned long>(text[i]);
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    if (text[i]) out += "...";
    return out + "'";
}

template <class Char>
std::string nameProblem(const Char* name) {
    if (!name) return "the variable name is null";
    std::size_t length = 0;
    const auto first = static_cast<unsigned long>(name[0]);
    bool valid = first <= 0x7F && isAsciiLetter(static_cast<unsigned>(first));
    for (; name[length]; ++length) {
        const auto c = static_cast<unsigned long>(name[length]);
        if (c > 0x7F || !isNameCharacter(static_cast<unsigned>(c))) valid = false;
    }
    if (valid && length <= kMaxNameLength) return {};
    return "the variable name " + shown(name) + " is not a valid name";
}

}  // namespace

std::string textProblem(const char* what, const char* text) {
    if (!text) return std::string(what) + " is null";
    if (!isUtf8(text)) return std::string(what) + " " + shown(text) + " is not valid UTF-8";
    return {};
}

std::string variableNameProblem(const char* name) { return nameProblem(name); }
std::string variableNameProblem(const char16_t* name) { return nameProblem(name); }

std::string propertyNameProblem(const char16_t* name) {
    if (!name) return "the property name is null";
    for (std::size_t i = 0; name[i]; ++i) {
        const bool high = name[i] >= 0xD800 && name[i] <= 0xDBFF;
        const bool low = name[i] >= 0xDC00 && name[i] <= 0xDFFF;
        if (low || (high && !(name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF)))
            return "the property name " + shown(name) + " is not valid UTF-16";
        if (high) ++i;
    }
    return {};
}

std::string arrayListProblem(const char* what, int count, const void* list) {
    if (count < 0) return std::string("the count of ") + what + " is negative";
    if (count > 0 && !list) return std::string("the list of ") + what + " is null";
    return {};
}

void refuseArgument(const char* service, const std::string& problem) {
    raiseError<VELTRA::orbapi::invalidArgument>(std::string(service), problem);
}

}  // namespace orb::capi
