// UTF-8 / UTF-16 conversion beyond the strict pair in host/i18n.hpp: a non-throwing strict form
// for boundaries that report failure by value, and lenient forms that put U+FFFD in place of
// each malformed sequence, for text that must be shown whatever it holds (loader diagnostics,
// message arguments).
#pragma once

#include <string>
#include <string_view>

namespace vhost::i18n {

// Strict; false (and `out` unspecified) on a malformed sequence.
bool tryToUtf8(std::u16string_view text, std::string& out);
bool tryToUtf16(std::string_view text, std::u16string& out);

std::string toUtf8Lenient(std::u16string_view text);
std::u16string toUtf16Lenient(std::string_view text);

}  // namespace vhost::i18n
