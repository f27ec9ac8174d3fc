// The host's user-exception family. Messages are UTF-8; identifiers are ASCII.
#include "host/exceptions.hpp"

#include <csignal>

#include "host/i18n.hpp"
#include "vhost/foundation/last_error.hpp"

namespace host {

UserException::UserException(std::string identifier, std::string message)
    : m_identifier(std::move(identifier)), m_message(std::move(message)) {}
UserException::~UserException() = default;
UserException::UserException(const UserException&) = default;
UserException& UserException::operator=(const UserException&) = default;

std::unique_ptr<UserException> UserException::clone() const { return std::make_unique<UserException>(*this); }
void UserException::rethrow() const { throw *this; }

SimpleException::SimpleException(std::string identifier, std::string message)
    : UserException(std::move(identifier), std::move(message)) {}
std::unique_ptr<UserException> SimpleException::clone() const { return std::make_unique<SimpleException>(*this); }
void SimpleException::rethrow() const { throw *this; }

namespace {

std::string joinIdentifier(const std::string& component, const std::string& mnemonic) {
    if (component.empty()) return mnemonic;
    return component + ":" + mnemonic;
}

// The catalogue formats with lenient conversion of the arguments, so the UTF-16 result is always
// valid and converting it back cannot fail.
std::string catalogueText(const std::string& identifier, const std::vector<MessageArg>& args) {
    return i18n::to_string(i18n::GetFormattedMessage(identifier, args));
}

// Fault identifiers by signal. A stack overflow arrives as SIGSEGV on POSIX: the fault guard
// cannot tell it from any other bad access by the signal alone.
const char* fatalMnemonic(int code) {
    switch (code) {
        case SIGSEGV: return "segmentationViolation";
        case SIGBUS: return "busError";
        case SIGFPE: return "arithmeticFault";
        case SIGILL: return "illegalInstruction";
        case SIGABRT: return "aborted";
        default: return "unknownFault";
    }
}

}  // namespace

MessageIdException::MessageIdException(std::string component, std::string mnemonic, std::vector<MessageArg> args)
    : UserException(joinIdentifier(component, mnemonic), std::string()),
      m_component(std::move(component)),
      m_mnemonic(std::move(mnemonic)),
      m_args(std::move(args)) {
    setMessage(catalogueText(identifier(), m_args));
}
std::unique_ptr<UserException> MessageIdException::clone() const { return std::make_unique<MessageIdException>(*this); }
void MessageIdException::rethrow() const { throw *this; }

FatalException::FatalException(int code)
    : UserException(std::string("VELTRA:fatal:") + fatalMnemonic(code), std::string()), m_code(code) {
    setMessage(catalogueText(identifier(), {static_cast<std::int64_t>(code)}));
}
std::unique_ptr<UserException> FatalException::clone() const { return std::make_unique<FatalException>(*this); }
void FatalException::rethrow() const { throw *this; }

void do_legacy_ry_error(const UserException& error) {
    vhost::recordLastError(error);
    error.rethrow();
}

}  // namespace host
