// Errors and warnings of the array library.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>

#include "host/ry.hpp"
#include "host/storage.hpp"
#include "host/ut.hpp"
#include "vhost/ry/raise.hpp"
#include "vhost/ut/output.hpp"
#include "vhost/ry/warnings.hpp"

namespace vhost::ry {
namespace {

// The error and warning services format into a buffer of this size; longer texts are cut.
constexpr std::size_t kMessageCapacity = 8192;

std::string format(const char* fmt, va_list args) {
    if (!fmt) return {};
    char buffer[kMessageCapacity];
    int length = host::utVSNprintf(buffer, sizeof buffer, fmt, args);
    if (length < 0) return {};
    return std::string(buffer, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer - 1));
}

struct WarningLog {
    std::mutex mutex;  // warnings may be issued from helper threads of the engine
    std::vector<RecordedWarning> warnings;
};

WarningLog& warningLog() {
    static const host::storage::Key key = host::storage::getNextID(typeid(WarningLog));
    return host::storage::getOrCreate<WarningLog>(key);
}

void issueWarning(std::string identifier, std::string message) {
    vhost::writeError("Warning: " + message + "\n");
    WarningLog& log = warningLog();
    std::lock_guard lock(log.mutex);
    log.warnings.push_back({std::move(identifier), std::move(message)});
}

}  // namespace

void raise(const char* mnemonic, std::vector<host::MessageArg> args) {
    throw host::MessageIdException("VELTRA:ry", mnemonic, std::move(args));
}

void raiseOutOfMemory(std::size_t bytes) { raise("outOfMemory", {static_cast<std::uint64_t>(bytes)}); }

std::vector<RecordedWarning> recordedWarnings() {
    WarningLog& log = warningLog();
    std::lock_guard lock(log.mutex);
    return log.warnings;
}

std::vector<RecordedWarning> takeWarnings() {
    WarningLog& log = warningLog();
    std::lock_guard lock(log.mutex);
    return std::exchange(log.warnings, {});
}

void clearWarnings() { takeWarnings(); }

}  // namespace vhost::ry

namespace host {

void ryErrMsgIdAndTxt(const char* identifier, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = vhost::ry::format(fmt, args);
    va_end(args);
    throw SimpleException(identifier ? identifier : "", std::move(text));
}

void ryWarningMsgIdAndTxt(const char* identifier, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    ryVWarningMsgIdAndTxt(identifier, fmt, args);
    va_end(args);
}

void ryVWarningMsgIdAndTxt(const char* identifier, const char* fmt, va_list args) {
    vhost::ry::issueWarning(identifier ? identifier : "", vhost::ry::format(fmt, args));
}

void ryWarningMsgId(const MessageIdException& warning) {
    vhost::ry::issueWarning(warning.identifier(), warning.message());
}

void error_maxlhs() { throw MessageIdException("VELTRA", "maxlhs", {}); }
void error_maxrhs() { throw MessageIdException("VELTRA", "maxrhs", {}); }
void error_minrhs() { throw MessageIdException("VELTRA", "minrhs", {}); }

}  // namespace host
