// Host foundation library: the exception types that cross the host boundary.
//
// Every error that the host shows to a user is a UserException (identifier plus text). The
// runtime raises its own errors as message-identifier exceptions, whose text the host's message
// catalogue supplies from the identifier and the arguments. Machine faults caught around module
// code become a FatalException.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "host/host_api.hpp"

namespace host {

// One positional argument of a catalogue message ({0}, {1}, ... in the catalogue text).
using MessageArg = std::variant<std::string, std::u16string, std::int64_t, std::uint64_t, double>;

// One frame of a host error's stack: file, function name and line (0 when unknown).
struct StackFrame {
    std::u16string file;
    std::u16string name;
    int line = 0;
};

// The host's user exception: an identifier (may be empty) and a UTF-8 message.
// Copyable; `clone` keeps the dynamic type so a caught error can be stored and rethrown later.
class HOST_API UserException : public std::exception {
public:
    UserException(std::string identifier, std::string message);
    ~UserException() override;
    UserException(const UserException&);
    UserException& operator=(const UserException&);

    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& identifier() const noexcept { return m_identifier; }
    const std::string& message() const noexcept { return m_message; }

    // The name of the built-in or module function the error is attributed to; empty when none.
    const std::string& functionName() const noexcept { return m_functionName; }
    void setFunctionName(std::string name) { m_functionName = std::move(name); }

    const std::vector<StackFrame>& stack() const noexcept { return m_stack; }
    void addStackFrame(StackFrame frame) { m_stack.push_back(std::move(frame)); }

    const std::vector<std::shared_ptr<const UserException>>& causes() const noexcept { return m_causes; }
    void addCause(std::shared_ptr<const UserException> cause) { m_causes.push_back(std::move(cause)); }

    virtual std::unique_ptr<UserException> clone() const;
    [[noreturn]] virtual void rethrow() const;

protected:
    void setMessage(std::string message) { m_message = std::move(message); }

private:
    std::string m_identifier;
    std::string m_message;
    std::string m_functionName;
    std::vector<StackFrame> m_stack;
    std::vector<std::shared_ptr<const UserException>> m_causes;
};

// The utility library's plain exception, made from an identifier and a ready message.
class HOST_API SimpleException : public UserException {
public:
    SimpleException(std::string identifier, std::string message);
    std::unique_ptr<UserException> clone() const override;
    [[noreturn]] void rethrow() const override;
};

// A message-identifier exception: identifier = component + ":" + mnemonic; the message is the
// catalogue's text for the identifier with the arguments filled in, formatted at construction.
// An identifier without a catalogue entry still carries its identifier and a message naming it.
class HOST_API MessageIdException : public UserException {
public:
    MessageIdException(std::string component, std::string mnemonic, std::vector<MessageArg> args);
    const std::string& component() const noexcept { return m_component; }
    const std::string& mnemonic() const noexcept { return m_mnemonic; }
    const std::vector<MessageArg>& args() const noexcept { return m_args; }
    std::unique_ptr<UserException> clone() const override;
    [[noreturn]] void rethrow() const override;

private:
    std::string m_component;
    std::string m_mnemonic;
    std::vector<MessageArg> m_args;
};

// The typed form: Tag names the message (Tag::component, Tag::mnemonic). The runtime declares one
// tag type per identifier it raises, so `catch (const MsgIdException<VELTRA::orb::X>&)` works.
template <class Tag>
class MsgIdException : public MessageIdException {
public:
    template <class... Args>
    explicit MsgIdException(Args&&... args)
        : MessageIdException(Tag::component, Tag::mnemonic, {MessageArg(std::forward<Args>(args))...}) {}
    std::unique_ptr<UserException> clone() const override { return std::make_unique<MsgIdException>(*this); }
    [[noreturn]] void rethrow() const override { throw *this; }
};

// The host's fatal exception: a machine fault (segmentation fault, bus error, arithmetic fault,
// illegal instruction, stack overflow) caught while module code ran. `code` is the signal number
// on POSIX (the structured-exception code on Windows).
class HOST_API FatalException : public UserException {
public:
    explicit FatalException(int code);
    int code() const noexcept { return m_code; }
    std::unique_ptr<UserException> clone() const override;
    [[noreturn]] void rethrow() const override;

private:
    int m_code;
};

// The interface names under which module call paths catch these.
using IUserException = UserException;

// Re-raises `error` in the legacy error style of the C interface: the host records it as the
// last error and throws it as a UserException of the same identifier and text. May return only
// when the host chooses to swallow the error; callers then throw `error` themselves.
HOST_API void do_legacy_ry_error(const UserException& error);

// Ends the process with a fatal diagnostic: `message`, the source position and the function name
// (may be null) go to standard error before abort(). Used when an error cannot be raised because
// another exception is already being propagated.
[[noreturn]] HOST_API void terminate(const std::string& message, const char* file, int line, const char* function);

// The current call stack rendered as text, one frame a line (the foundation library's capture).
HOST_API std::string captureStackTrace();

}  // namespace host
