// Exceptions of C++ modules.
//
// Exception: an identifier and a message; throw one from a module's function and the caller of
// the module sees a host error with that identifier and message. VeltraException: a host error
// that a call into the host raised, with its stack and causes; let it escape and the caller sees
// the host's original error. ThreadMismatchException: a service was called off the thread that
// called the module.
#pragma once

#include <exception>
#include <string>
#include <vector>

namespace orb::cpp {

class Exception : public std::exception {
public:
    Exception(std::string identifier, std::string message)
        : m_identifier(std::move(identifier)), m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& getMessageID() const noexcept { return m_identifier; }
    const std::string& getMessageText() const noexcept { return m_message; }

private:
    std::string m_identifier;
    std::string m_message;
};

class InvalidArrayTypeException : public Exception {
public:
    // `wanted` and `actual` are orb::data::ArrayType values; the message names their classes.
    InvalidArrayTypeException(int wanted, int actual)
        : Exception("orb:data:invalidArrayType",
                    "The array is " + className(actual) + ", not " + className(wanted) + ".") {}

    // The class of an array type as the host's class() names it ("int32", "double"), with
    // "complex" before the complex kinds.
    static std::string className(int type) {
        static const char* const names[] = {"logical", "char",  "",       "",       "cell",   "struct", "double",
                                            "single",  "int8",  "uint8",  "int16",  "uint16", "int32",  "uint32",
                                            "int64",   "uint64", "complex double", "complex single", "string",
                                            "function_handle"};
        if (type >= 0 && type < static_cast<int>(sizeof names / sizeof names[0]) && names[type][0] != '\0') {
            return names[type];
        }
        if (type == 27 || type == 28) return type == 27 ? "a value object" : "a handle object";
        return "of type " + std::to_string(type);
    }
};

class ThreadMismatchException : public Exception {
public:
    ThreadMismatchException()
        : Exception("VELTRA:orb:CppOrbThreadMismatch",
                    "An engine service was called from a thread other than the one that called the module.") {}
};

// An asynchronous request that the host dropped before it ran.
class CancelledException : public Exception {
public:
    CancelledException() : Exception("orb:cpp:cancelled", "The request was cancelled before it ran.") {}
};

struct StackFrame {
    std::u16string file;
    std::u16string name;
    double line = 0;
};

class VeltraException : public Exception {
public:
    VeltraException(std::string identifier, std::string message, int status, std::u16string functionName,
                    std::vector<StackFrame> stack, std::vector<VeltraException> causes)
        : Exception(std::move(identifier), std::move(message)), m_status(status),
          m_functionName(std::move(functionName)), m_stack(std::move(stack)), m_causes(std::move(causes)) {}
    // 2 or 3: the host function failed; 3 also for errors the runtime raised itself; 4: a user
    // error of the host; 8: the request was interrupted.
    int getStatus() const noexcept { return m_status; }
    const std::u16string& getFunctionName() const noexcept { return m_functionName; }
    const std::vector<StackFrame>& getStack() const noexcept { return m_stack; }
    const std::vector<VeltraException>& getCauses() const noexcept { return m_causes; }

private:
    int m_status;
    std::u16string m_functionName;
    std::vector<StackFrame> m_stack;
    std::vector<VeltraException> m_causes;
};

}  // namespace orb::cpp
