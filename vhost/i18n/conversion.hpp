// UTF-8 / UTF-16 conversion beyond the strict pair in host/i18n.hpp: a non-throwing strict form
// for boundaries that report failure by value, and lenient forms that put U+FFFD in place of
// each malformed sequence, for text that must be shown whatever it holds (loader diagnostics,
// message arguments).
#pragma once

#include <string>
#include <string_view>

#include "host/host_api.hpp"

namespace vhost::i18n {

// Strict; false (and `out` unspecified) on a malformed sequence.
HOST_API bool tryToUtf8(std::u16string_view text, std::string& out);
HOST_API bool tryToUtf16(std::string_view text, std::u16string& out);

HOST_API std::string toUtf8Lenient(std::u16string_view text);
HOST_API std::u16string toUtf16Lenient(std::string_view text);

}  // namespace vhost::i18n
