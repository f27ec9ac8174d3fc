// The engine proxy: calling host functions from a C++ module.
//
// feval runs a host function on the engine's thread (the one that called the module) and waits
// for its outputs. What the function prints goes to the host's command window, or to `output`
// when given; its error text is dropped, or goes to `error` when given. A host error arrives as
// VeltraException; a call from another thread as ThreadMismatchException.
#pragma once

#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "orb_cpp/array.hpp"
#include "orb_cpp/services.h"

namespace orb::cpp {

using StreamBuffer = std::basic_streambuf<char16_t>;
using StreamBufferPtr = std::shared_ptr<StreamBuffer>;

namespace detail {

// A module stream as the runtime sees it: a heap-held shared pointer, released by the runtime.
inline void writeStream(void* stream, const char16_t* text, std::size_t count) {
    (*static_cast<StreamBufferPtr*>(stream))->sputn(text, static_cast<std::streamsize>(count));
}
inline void deleteStream(void* stream) { delete static_cast<StreamBufferPtr*>(stream); }
inline void* moduleStream(const StreamBufferPtr& buffer) { return buffer ? new StreamBufferPtr(buffer) : nullptr; }

inline std::u16string charText(const orb::data::Array& array) {
    if (!array || array.getType() != orb::data::ArrayType::CHAR) return {};
    return orb::data::CharArray(array).toUTF16();
}

inline std::string narrow(const std::u16string& text);

// The module-side form of an error structure.
inline VeltraException fromErrorArray(const orb::data::Array& array) {
    const orb::data::StructArray error(array);
    auto field = [&](const char* name) {
        for (const auto& f : error.getFieldNames())
            if (f == name) return error.getField(0, name);
        return orb::data::Array();
    };
    int status = 0;
    if (auto s = field("status"); s && s.getType() == orb::data::ArrayType::INT32)
        status = orb::data::TypedArray<std::int32_t>(s)[0];
    std::vector<StackFrame> stack;
    if (auto s = field("stack"); s && s.getType() == orb::data::ArrayType::STRUCT) {
        const orb::data::StructArray frames(s);
        for (std::size_t i = 0; i < frames.getNumberOfElements(); ++i) {
            StackFrame frame{charText(frames.getField(i, "File")), charText(frames.getField(i, "Name")), 0};
            if (auto line = frames.getField(i, "Line"); line && line.getType() == orb::data::ArrayType::DOUBLE)
                frame.line = orb::data::TypedArray<double>(line)[0];
            stack.push_back(std::move(frame));
        }
    }
    std::vector<VeltraException> causes;
    if (auto c = field("cause"); c && c.getType() == orb::data::ArrayType::CELL) {
        const orb::data::CellArray list(c);
        for (std::size_t i = 0; i < list.getNumberOfElements(); ++i) causes.push_back(fromErrorArray(list.get(i)));
    }
    return VeltraException(narrow(charText(field("identifier"))), narrow(charText(field("message"))), status,
                           charText(field("functionName")), std::move(stack), std::move(causes));
}

inline std::string narrow(const std::u16string& text) {
    char* block = nullptr;
    std::uint64_t error = 0;
    orb_engine_utf16_to_utf8(text.c_str(), &block, &error);
    std::string result = block ? block : "";
    orb_engine_destroy_utf8(block);
    return result;
}

// Turns a service's error code into the module-side exception.
inline void throwIfFailed(int errorType, void* exception) {
    if (errorType == 0) return;
    orb::data::Array error = orb::data::Array::adopt(exception);
    if (errorType == 5) throw ThreadMismatchException();
    if (errorType == 1 && error) throw fromErrorArray(error);
    throw Exception("orb:cpp:serviceFailed", "The engine service failed (error code " + std::to_string(errorType) + ").");
}

}  // namespace detail

class Engine {
public:
    explicit Engine(void* engine) noexcept : m_engine(engine) {}

    std::vector<orb::data::Array> feval(const std::string& function, int nlhs,
                                        const std::vector<orb::data::Array>& args,
                                        const StreamBufferPtr& output = {}, const StreamBufferPtr& error = {}) {
        std::vector<void*> inputs;
        for (const auto& a : args) inputs.push_back(a.impl());
        std::vector<void*> outputs(static_cast<std::size_t>(nlhs > 0 ? nlhs : 0), nullptr);
        int errorType = 0;
        void* exception = nullptr;
        void* outStream = detail::moduleStream(output);
        void* errStream = detail::moduleStream(error);
        orbApiFeval(m_engine, nlhs, outputs.data(), static_cast<int>(inputs.size()), inputs.data(), function.c_str(),
                    &errorType, &exception, outStream, errStream, &detail::writeStream, &detail::deleteStream);
        if (errorType == 5) {
            // Refused before it started: the runtime never took the streams.
            if (outStream) detail::deleteStream(outStream);
            if (errStream) detail::deleteStream(errStream);
        }
        std::vector<orb::data::Array> result;
        for (void* out : outputs) result.push_back(orb::data::Array::adopt(out));
        detail::throwIfFailed(errorType, exception);
        return result;
    }

    // One output.
    orb::data::Array feval(const std::string& function, const std::vector<orb::data::Array>& args,
                           const StreamBufferPtr& output = {}, const StreamBufferPtr& error = {}) {
        return feval(function, 1, args, output, error).at(0);
    }

private:
    void* m_engine;
};

}  // namespace orb::cpp
