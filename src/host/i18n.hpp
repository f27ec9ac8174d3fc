// Host internationalisation: the message catalogue and UTF-8 / UTF-16 conversion.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/exceptions.hpp"
#include "host/host_api.hpp"

namespace host::i18n {

// A locale of the catalogue. The reference host has one language.
struct Locale {
    std::string name;
};
HOST_API const Locale& global();

// The catalogue text of `identifier` with its placeholders ({0}, {1}, ...) left in place. When the
// catalogue has no entry the text says so and names the identifier; it never throws.
HOST_API std::u16string get_message(const std::string& identifier, const Locale& locale = global());
// Whether the catalogue has a text for `identifier`.
HOST_API bool has_message(const std::string& identifier);
// The catalogue text with {N} replaced by the N-th argument (strings as they are, integers in
// decimal, doubles in shortest form). A placeholder without an argument stays as it is.
HOST_API std::u16string GetFormattedMessage(const std::string& identifier, const std::vector<MessageArg>& args);

// Strict conversions: invalid input (a lone surrogate, a malformed UTF-8 sequence) throws
// host::UserException "VELTRA:i18n:invalidText".
HOST_API std::string to_string(std::u16string_view text);
HOST_API std::u16string to_ustring(std::string_view text);

}  // namespace host::i18n
