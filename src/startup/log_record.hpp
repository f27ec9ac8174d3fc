// Writing key=value records to a diagnostic channel.
//
//     ORB_LOG(orb::startup::inspectorLog(), orb::startup::kLogDetail, m_defs.size());
//
// writes the record " m_defs.size()=42": a blank, the source text of the expression, "=" and the
// expression's value. The expression is evaluated, and the record text built, only when the
// channel is enabled at that severity, so a site costs one check while logging is off. A string
// literal logs as its quoted source text and then its text (" \"done\"=done").
#pragma once

#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

#include "host/log.hpp"
#include "platform/export.hpp"

namespace orb::startup {

// Severities on the host's scale.
enum LogSeverity : int {
    kLogTrace = 0,    // function entry and exit
    kLogDetail = 1,   // key=value lines of a step's working
    kLogInfo = 2,
    kLogWarning = 3,
    kLogError = 4,    // also the severity of the build-time steps' progress lines
};

// UTF-16 text as 8-bit text. Never throws: a text the host cannot convert is written with each
// unconvertible unit replaced by '?', since a log line must not turn into an error.
ORB_API std::string logText(std::u16string_view text);

// The value half of a record.
template <class T>
void appendLogValue(std::ostringstream& record, const T& value) {
    if constexpr (std::is_convertible_v<const T&, std::u16string_view>) {
        if constexpr (std::is_pointer_v<T>) {
            if (value == nullptr) {
                record << "(null)";
                return;
            }
        }
        record << logText(std::u16string_view(value));
    } else if constexpr (std::is_pointer_v<T> &&
                         std::is_convertible_v<const T&, const char*>) {
        record << (value != nullptr ? static_cast<const char*>(value) : "(null)");
    } else {
        record << value;
    }
}

// Logs entry and exit of a scope on a channel at trace severity.
class ORB_API LogTraceScope {
public:
    LogTraceScope(const host::log::DiagnosticLogger& channel, const char* function);
    ~LogTraceScope();
    LogTraceScope(const LogTraceScope&) = delete;
    LogTraceScope& operator=(const LogTraceScope&) = delete;

private:
    const host::log::DiagnosticLogger& m_channel;
    const char* m_function;
};

}  // namespace orb::startup

#define ORB_LOG(channel, severity, expression)                                        \
    do {                                                                              \
        const ::host::log::DiagnosticLogger& orbLogChannel_ = (channel);              \
        const int orbLogSeverity_ = (severity);                                       \
        if (orbLogChannel_.enabled(orbLogSeverity_)) {                                \
            ::std::ostringstream orbLogRecord_;                                       \
            orbLogRecord_ << " " #expression "=";                                     \
            ::orb::startup::appendLogValue(orbLogRecord_, (expression));              \
            orbLogChannel_.push(orbLogSeverity_, orbLogRecord_.str());                \
        }                                                                             \
    } while (false)

#define ORB_LOG_CONCAT_INNER_(a, b) a##b
#define ORB_LOG_CONCAT_(a, b) ORB_LOG_CONCAT_INNER_(a, b)
// Logs "Entering <function>" now and "Leaving <function>" when the enclosing scope ends.
#define ORB_LOG_FUNCTION(channel) \
    const ::orb::startup::LogTraceScope ORB_LOG_CONCAT_(orbLogTrace_, __LINE__)((channel), __func__)
