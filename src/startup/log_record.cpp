#include "startup/log_record.hpp"

#include "host/exceptions.hpp"
#include "host/i18n.hpp"

namespace orb::startup {

std::string logText(std::u16string_view text) {
    try {
        return host::i18n::to_string(text);
    } catch (const host::UserException&) {
        // Only a lone surrogate is unconvertible; keep the rest of the text readable.
        std::u16string cleaned(text);
        for (std::size_t i = 0; i < cleaned.size(); ++i) {
            const char16_t unit = cleaned[i];
            const bool high = unit >= 0xD800 && unit <= 0xDBFF;
            const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
            if (high && i + 1 < cleaned.size() && cleaned[i + 1] >= 0xDC00 && cleaned[i + 1] <= 0xDFFF) {
                ++i;  // a valid pair
            } else if (high || low) {
                cleaned[i] = u'?';
            }
        }
        try {
            return host::i18n::to_string(cleaned);
        } catch (const host::UserException&) {
            return "(text not convertible)";
        }
    }
}

LogTraceScope::LogTraceScope(const host::log::DiagnosticLogger& channel, const char* function)
    : m_channel(channel), m_function(function) {
    if (m_channel.enabled(kLogTrace)) m_channel.push(kLogTrace, std::string("Entering ") + m_function);
}

LogTraceScope::~LogTraceScope() {
    try {
        if (m_channel.enabled(kLogTrace)) m_channel.push(kLogTrace, std::string("Leaving ") + m_function);
    } catch (...) {
        // A destructor runs during unwinding too; losing a trace line is the lesser harm.
    }
}

}  // namespace orb::startup
