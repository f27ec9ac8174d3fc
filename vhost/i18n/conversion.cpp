// Decoding and encoding are Boost.Locale's; this file only decides what happens at a malformed
// sequence. The decoder rejects overlong forms, encoded surrogates, code points above U+10FFFF
// and unpaired surrogates.
#include "vhost/i18n/conversion.hpp"

#include <algorithm>
#include <type_traits>

#include <boost/locale/utf.hpp>

#include "host/exceptions.hpp"
#include "host/i18n.hpp"

namespace vhost::i18n {
namespace {

namespace utf = boost::locale::utf;

constexpr utf::code_point kReplacement = 0xFFFD;

enum class OnError { Stop, Replace };

// Converts between any two code units; returns the offset (in input units) of the first
// malformed sequence, or npos. With Replace the whole text is converted regardless.
template <class In, class Out>
std::size_t convert(std::basic_string_view<In> text, std::basic_string<Out>& out, OnError onError) {
    out.clear();
    out.reserve(text.size());
    // The leading run of ASCII, most paths and names whole, is copied unit for unit.
    auto it = std::find_if(text.begin(), text.end(),
                           [](In unit) { return static_cast<std::make_unsigned_t<In>>(unit) >= 0x80; });
    out.resize(static_cast<std::size_t>(it - text.begin()));
    std::copy(text.begin(), it, out.begin());
    std::size_t firstError = std::basic_string_view<In>::npos;
    const auto end = text.end();
    auto sink = std::back_inserter(out);
    while (it != end) {
        auto start = it;
        utf::code_point c = utf::utf_traits<In>::decode(it, end);
        if (c == utf::illegal || c == utf::incomplete) {
            if (firstError == std::basic_string_view<In>::npos) firstError = static_cast<std::size_t>(start - text.begin());
            if (onError == OnError::Stop) return firstError;
            // Resynchronise one unit after the start of the bad sequence.
            it = start + 1;
            c = kReplacement;
        }
        utf::utf_traits<Out>::encode(c, sink);
    }
    return firstError;
}

}  // namespace

bool tryToUtf8(std::u16string_view text, std::string& out) {
    return convert(text, out, OnError::Stop) == std::u16string_view::npos;
}

bool tryToUtf16(std::string_view text, std::u16string& out) {
    return convert(text, out, OnError::Stop) == std::string_view::npos;
}

std::string toUtf8Lenient(std::u16string_view text) {
    std::string out;
    convert(text, out, OnError::Replace);
    return out;
}

std::u16string toUtf16Lenient(std::string_view text) {
    std::u16string out;
    convert(text, out, OnError::Replace);
    return out;
}

}  // namespace vhost::i18n

namespace host::i18n {

std::string to_string(std::u16string_view text) {
    std::string out;
    auto bad = vhost::i18n::convert(text, out, vhost::i18n::OnError::Stop);
    if (bad != std::u16string_view::npos) {
        throw MessageIdException("VELTRA:i18n", "invalidText",
                                 {std::string("UTF-16"), static_cast<std::uint64_t>(bad)});
    }
    return out;
}

std::u16string to_ustring(std::string_view text) {
    std::u16string out;
    auto bad = vhost::i18n::convert(text, out, vhost::i18n::OnError::Stop);
    if (bad != std::string_view::npos) {
        throw MessageIdException("VELTRA:i18n", "invalidText",
                                 {std::string("UTF-8"), static_cast<std::uint64_t>(bad)});
    }
    return out;
}

}  // namespace host::i18n
