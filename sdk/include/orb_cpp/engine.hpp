// The engine proxy: calling host functions from a C++ module.
//
// feval runs a host function on the engine's thread (the one that called the module) and waits
// for its outputs. What the function prints goes to the host's command window, or to `output`
// when given; its error text is dropped, or goes to `error` when given. A host error arrives as
// VeltraException; a call from another thread as ThreadMismatchException.
#pragma once

#include <future>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "orb_cpp/array.hpp"
#include "orb_cpp/services.h"
#include "orb_cpp/text.hpp"

namespace orb::cpp {

using StreamBuffer = std::basic_streambuf<char16_t>;
using StreamBufferPtr = std::shared_ptr<StreamBuffer>;

// A stream buffer that keeps what is written to it, for capturing what a host function prints:
//     auto printed = std::make_shared<orb::cpp::TextBuffer>();
//     engine->feval("disp", 0, {value}, printed);   // printed->text holds the output
class TextBuffer : public StreamBuffer {
public:
    std::u16string text;

protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) text.push_back(traits_type::to_char_type(c));
        return c;
    }
    std::streamsize xsputn(const char16_t* s, std::streamsize n) override {
        text.append(s, static_cast<std::size_t>(n));
        return n;
    }
};

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
    return VeltraException(toUTF8(charText(field("identifier"))), toUTF8(charText(field("message"))), status,
                           charText(field("functionName")), std::move(stack), std::move(causes));
}

// Turns a service's error code into the module-side exception.
inline void throwIfFailed(int errorType, void* exception) {
    if (errorType == 0) return;
    orb::data::Array error = orb::data::Array::adopt(exception);
    if (errorType == 5) throw ThreadMismatchException();
    if (errorType == 1 && error) throw fromErrorArray(error);
    throw Exception("orb:cpp:serviceFailed", "The engine service failed (error code " + std::to_string(errorType) + ").");
}

// Module-side state of one asynchronous request: the promise its callbacks fulfil.
template <class T>
struct AsyncState {
    std::promise<T> promise;
};

inline std::exception_ptr asyncFailure(int errorType, void* data) {
    if (errorType == 1 && data) return std::make_exception_ptr(fromErrorArray(orb::data::Array::adopt(data)));
    if (errorType == 7) return std::make_exception_ptr(CancelledException());
    return std::make_exception_ptr(
        Exception("orb:cpp:requestFailed", data ? static_cast<const char*>(data) : "The request failed."));
}

inline void setOutputs(void* promise, int nlhs, bool passThroughFlag, void** outputs) {
    auto* state = static_cast<void*>(promise);
    std::vector<orb::data::Array> values;
    for (int i = 0; i < nlhs; ++i) values.push_back(orb::data::Array::adopt(outputs[i]));
    if (passThroughFlag) {
        // One value (variables and properties): the first output, or none.
        auto* one = static_cast<AsyncState<orb::data::Array>*>(state);
        one->promise.set_value(values.empty() ? orb::data::Array() : values[0]);
        delete one;
    } else {
        auto* many = static_cast<AsyncState<std::vector<orb::data::Array>>*>(state);
        many->promise.set_value(std::move(values));
        delete many;
    }
}

inline void setException(void* promise, int, bool passThroughFlag, int errorType, void* data) {
    if (passThroughFlag) {
        auto* one = static_cast<AsyncState<orb::data::Array>*>(promise);
        one->promise.set_exception(asyncFailure(errorType, data));
        delete one;
    } else {
        auto* many = static_cast<AsyncState<std::vector<orb::data::Array>>*>(promise);
        many->promise.set_exception(asyncFailure(errorType, data));
        delete many;
    }
}

inline void evalSucceeded(void* promise) {
    auto* state = static_cast<AsyncState<void>*>(promise);
    state->promise.set_value();
    delete state;
}

inline void evalFailed(void* promise, int errorType, void* data) {
    auto* state = static_cast<AsyncState<void>*>(promise);
    state->promise.set_exception(asyncFailure(errorType, data));
    delete state;
}

// Owns a task handle.
struct TaskHandle {
    std::uint64_t handle;
    explicit TaskHandle(std::uint64_t h) noexcept : handle(h) {}
    ~TaskHandle() { orbApiDestroyTaskHandle(reinterpret_cast<void*>(handle)); }
    void* get() const noexcept { return reinterpret_cast<void*>(handle); }
};

}  // namespace detail

// The outcome of an asynchronous request. get() waits (on the module's calling thread the host
// keeps running queued requests meanwhile, so waiting there cannot deadlock) and returns the
// result or throws what the request failed with; cancel() asks the host to drop a request that
// has not run yet (it then fails with CancelledException).
template <class T>
class FutureResult {
public:
    FutureResult(std::future<T> future, std::uint64_t handle)
        : m_future(future.share()), m_task(std::make_shared<detail::TaskHandle>(handle)) {}
    void wait() const {
        if (m_task->handle) orbApiToWaitForPendingfevalEvalToComplete(m_task->get());
        m_future.wait();
    }
    T get() const {
        wait();
        return m_future.get();
    }
    bool cancel(bool allowInterrupt = true) const {
        return m_task->handle && orbApiCancelFevalWithCompletion(m_task->get(), allowInterrupt);
    }

private:
    std::shared_future<T> m_future;
    std::shared_ptr<detail::TaskHandle> m_task;
};

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

    // Starts a host call; any thread.
    FutureResult<std::vector<orb::data::Array>> fevalAsync(const std::string& function, int nlhs,
                                                           const std::vector<orb::data::Array>& args,
                                                           const StreamBufferPtr& output = {},
                                                           const StreamBufferPtr& error = {}) {
        std::vector<void*> inputs;
        for (const auto& a : args) inputs.push_back(a.impl());
        auto* state = new detail::AsyncState<std::vector<orb::data::Array>>;
        auto future = state->promise.get_future();
        const std::uint64_t handle = orbApiFevalAsync(
            m_engine, nlhs, static_cast<int>(inputs.size()), inputs.data(), function.c_str(), false,
            &detail::setOutputs, &detail::setException, state, detail::moduleStream(output),
            detail::moduleStream(error), &detail::writeStream, &detail::deleteStream);
        return FutureResult<std::vector<orb::data::Array>>(std::move(future), handle);
    }

    // Starts the evaluation of host-language statements; any thread.
    FutureResult<void> evalAsync(const std::u16string& statements, const StreamBufferPtr& output = {},
                                 const StreamBufferPtr& error = {}) {
        auto* state = new detail::AsyncState<void>;
        auto future = state->promise.get_future();
        const std::uint64_t handle =
            orbApiEvalAsync(m_engine, statements.c_str(), &detail::evalSucceeded, &detail::evalFailed, state,
                            detail::moduleStream(output), detail::moduleStream(error), &detail::writeStream,
                            &detail::deleteStream);
        return FutureResult<void>(std::move(future), handle);
    }

    // Workspace variables ("base", "caller" (assigned in base), "global").
    orb::data::Array getVariable(const std::u16string& name, const std::string& workspace = "base") {
        int errorType = 0;
        void* exception = nullptr;
        void* value = orbApiGetVariable(m_engine, workspace.c_str(), name.c_str(), &errorType, &exception);
        detail::throwIfFailed(errorType, exception);
        return orb::data::Array::adopt(value);
    }
    void setVariable(const std::u16string& name, const orb::data::Array& value, const std::string& workspace = "base") {
        int errorType = 0;
        void* exception = nullptr;
        orbApiSetVariable(m_engine, value.impl(), workspace.c_str(), name.c_str(), &errorType, &exception);
        detail::throwIfFailed(errorType, exception);
    }
    // Properties of element `index` (0-based) of an object array; setProperty returns the
    // object after the assignment (for a value object the only place the new value is seen).
    orb::data::Array getProperty(const orb::data::Array& object, std::size_t index, const std::u16string& name) {
        int errorType = 0;
        void* exception = nullptr;
        void* value = orbApiGetProperty(m_engine, object.impl(), index, name.c_str(), &errorType, &exception);
        detail::throwIfFailed(errorType, exception);
        return orb::data::Array::adopt(value);
    }
    orb::data::Array setProperty(const orb::data::Array& object, std::size_t index, const std::u16string& name,
                                 const orb::data::Array& value) {
        int errorType = 0;
        void* exception = nullptr;
        void* result = orbApiSetProperty(m_engine, object.impl(), index, name.c_str(), value.impl(), &errorType, &exception);
        detail::throwIfFailed(errorType, exception);
        return orb::data::Array::adopt(result);
    }

    FutureResult<orb::data::Array> getVariableAsync(const std::u16string& name, const std::string& workspace = "base") {
        return startOne([&](void* state) {
            return orbApiGetVariableAsync(m_engine, workspace.c_str(), name.c_str(), &detail::setOutputs,
                                          &detail::setException, state);
        });
    }
    FutureResult<orb::data::Array> setVariableAsync(const std::u16string& name, const orb::data::Array& value,
                                                    const std::string& workspace = "base") {
        return startOne([&](void* state) {
            return orbApiSetVariableAsync(m_engine, value.impl(), workspace.c_str(), name.c_str(), &detail::setOutputs,
                                          &detail::setException, state);
        });
    }
    FutureResult<orb::data::Array> getPropertyAsync(const orb::data::Array& object, std::size_t index,
                                                    const std::u16string& name) {
        return startOne([&](void* state) {
            return orbApiGetPropertyAsync(m_engine, object.impl(), index, name.c_str(), &detail::setOutputs,
                                          &detail::setException, state);
        });
    }
    FutureResult<orb::data::Array> setPropertyAsync(const orb::data::Array& object, std::size_t index,
                                                    const std::u16string& name, const orb::data::Array& value) {
        return startOne([&](void* state) {
            return orbApiSetPropertyAsync(m_engine, object.impl(), index, name.c_str(), value.impl(),
                                          &detail::setOutputs, &detail::setException, state);
        });
    }

private:
    template <class Start>
    FutureResult<orb::data::Array> startOne(Start&& start) {
        auto* state = new detail::AsyncState<orb::data::Array>;
        auto future = state->promise.get_future();
        const std::uint64_t handle = start(state);
        return FutureResult<orb::data::Array>(std::move(future), handle);
    }

    void* m_engine;
};

}  // namespace orb::cpp
