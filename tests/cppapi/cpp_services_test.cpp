// The C++ services one by one: the engine handle and its lock, the thread check, the module
// stream buffers, orbApiFeval's streams and failure paths, and the error structures.
#include <gtest/gtest.h>

#include <thread>

#include "capi/message_ids.hpp"
#include "capi/per_engine.hpp"
#include "cppapi/cppapi_support.hpp"
#include "cppapi/error_conversion.hpp"
#include "cppapi/feval.hpp"
#include "cppapi/text_blocks.hpp"
#include "host/i18n.hpp"
#include "vhost/ut/output.hpp"

namespace {

using host::data::Array;
using host::data::ArrayImpl;
using host::data::ArrayType;
using orb::cppapi::OrbFunctionImpl;

using cppapitest::charText;

Array field(const Array& structArray, const std::string& name, std::size_t index = 0) {
    const ArrayImpl& impl = *structArray.impl();
    return Array::share(impl.elements[index * impl.fields.size() + vhost::data::fieldIndex(impl, name)]);
}
double scalar(const Array& array) {
    const ArrayImpl& impl = *array.impl();
    if (impl.type == ArrayType::INT32) return *static_cast<const std::int32_t*>(vhost::data::elementData(impl));
    return *static_cast<const double*>(vhost::data::elementData(impl));
}

// What a module's stream callbacks saw.
struct StreamLog {
    std::u16string written;
    int writes = 0;
    int deletes = 0;
    static void write(void* stream, const char16_t* text, std::size_t count) {
        auto* log = static_cast<StreamLog*>(stream);
        log->written.append(text, count);
        ++log->writes;
    }
    static void release(void* stream) { ++static_cast<StreamLog*>(stream)->deletes; }
};

class CppServicesTest : public cppapitest::EngineHandleTest {
protected:
    // orbApiFeval with the given streams; returns the error code.
    int feval(const char* name, int nlhs, void** plhs, std::vector<Array> inputs, void** exception,
              StreamLog* out = nullptr, StreamLog* err = nullptr) {
        std::vector<void*> prhs;
        for (auto& a : inputs) prhs.push_back(a.impl());
        int errorType = 0;
        orbApiFeval(m_handle, nlhs, plhs, static_cast<int>(prhs.size()), prhs.data(), name, &errorType, exception,
                    out, err, &StreamLog::write, &StreamLog::release);
        return errorType;
    }
};

TEST_F(CppServicesTest, TheLockIsTakenOnceAndCheckedVariantsRefuseOtherThreads) {
    cpporb_orbLock(m_handle);
    cpporb_orbLock(m_handle);
    EXPECT_TRUE(m_handle->locked);
    cpporb_orbUnlock(m_handle);
    EXPECT_FALSE(m_handle->locked);
    cpporb_orbUnlock(m_handle);  // without a lock: nothing
    EXPECT_FALSE(m_handle->locked);

    int errorType = 0;
    std::thread([&] { cpporb_orbLock_with_error_check(m_handle, &errorType); }).join();
    EXPECT_EQ(errorType, 5);
    EXPECT_FALSE(m_handle->locked);
    cpporb_orbLock_with_error_check(m_handle, &errorType);
    EXPECT_TRUE(m_handle->locked);
    EXPECT_EQ(errorType, 5);  // not reset by a later success
    cpporb_orbUnlock_with_error_check(m_handle, &errorType);
    EXPECT_FALSE(m_handle->locked);

    EXPECT_EQ(cpporb_getEngine(m_handle), m_handle);
    char16_t* name = cpporb_getFunctionName(m_handle);
    EXPECT_EQ(std::u16string(name), u"tester");
    orbReleaseMemory(name, nullptr);
    OrbFunctionImpl* unnamed = orb::cppapi::makeEngineHandle(u"");
    char16_t* empty = cpporb_getFunctionName(unnamed);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], u'\0');
    orbReleaseMemory(empty, nullptr);
    orbDestroyFunctionImpl(unnamed);
    orbDestroyFunctionImpl(nullptr);
}

TEST_F(CppServicesTest, ModuleStreamsForwardEveryWriteAndAreReleasedOnce) {
    StreamLog log;
    {
        auto buffer = orb::cppapi::wrapModuleStream(&log, &StreamLog::write, &StreamLog::release);
        EXPECT_EQ(buffer->sputc(u'x'), 1);  // what the write reports, not the character
        EXPECT_EQ(buffer->sputn(u"yz", 2), 2);
        EXPECT_EQ(buffer->pubsync(), 0);
        auto copy = buffer;
    }
    EXPECT_EQ(log.written, u"xyz");
    EXPECT_EQ(log.writes, 2);
    EXPECT_EQ(log.deletes, 1);
    EXPECT_EQ(orb::cppapi::wrapModuleStream(nullptr, &StreamLog::write, &StreamLog::release), nullptr);

    auto unwritable = orb::cppapi::wrapModuleStream(&log, nullptr, &StreamLog::release);
    EXPECT_THROW(unwritable->sputn(u"a", 1), std::bad_function_call);
}

TEST_F(CppServicesTest, FevalRoutesPrintedTextByStreamAndLeavesTheErrorCodeAloneOnSuccess) {
    host::data::ArrayFactory factory;
    void* exception = nullptr;
    {
        // No streams: the command window gets the output, and no module callback runs.
        vhost::OutputCapture window;
        EXPECT_EQ(feval("disp", 0, nullptr, {factory.createCharArray(u"shown")}, &exception), 0);
        EXPECT_EQ(window.text(), "shown\n");
    }
    StreamLog out, err;
    EXPECT_EQ(feval("disp", 0, nullptr, {factory.createCharArray(u"captured")}, &exception, &out, &err), 0);
    EXPECT_EQ(out.written, u"captured\n");
    EXPECT_EQ(err.written, u"");
    EXPECT_EQ(out.deletes + err.deletes, 2);

    StreamLog onlyErr;
    vhost::OutputCapture window;
    EXPECT_EQ(feval("warning", 0, nullptr, {factory.createCharArray(u"careful")}, &exception, nullptr, &onlyErr), 0);
    EXPECT_EQ(onlyErr.written, u"Warning: careful\n");
    EXPECT_EQ(onlyErr.deletes, 1);
    EXPECT_EQ(window.text(), "");
    EXPECT_EQ(exception, nullptr);

    void* outputs[2] = {nullptr, reinterpret_cast<void*>(0x1)};
    EXPECT_EQ(feval("size", 1, outputs, {factory.createCellArray({2, 3})}, &exception), 0);
    Array size = Array::adopt(static_cast<ArrayImpl*>(outputs[0]));
    EXPECT_EQ(size.getNumberOfElements(), 2u);
    EXPECT_EQ(outputs[1], reinterpret_cast<void*>(0x1));  // only nlhs slots written
}

TEST_F(CppServicesTest, FevalFailuresGiveCodeOneWithAnErrorStructureOrFiveOffTheSignalThread) {
    host::data::ArrayFactory factory;
    void* outputs[1] = {reinterpret_cast<void*>(0x1)};
    void* exception = nullptr;
    EXPECT_EQ(feval("error", 1, outputs, {factory.createCharArray(u"a:b"), factory.createCharArray(u"went %s"),
                                          factory.createCharArray(u"wrong")},
                    &exception),
              1);
    EXPECT_EQ(outputs[0], reinterpret_cast<void*>(0x1));
    Array error = Array::adopt(static_cast<ArrayImpl*>(exception));
    EXPECT_EQ(error.impl()->fields,
              (std::vector<std::string>{"status", "message", "identifier", "functionName", "cause", "stack"}));
    EXPECT_EQ(charText(field(error, "identifier")), u"a:b");
    EXPECT_EQ(charText(field(error, "message")), u"went wrong");
    auto& info = orb::capi::PerEngine<orb::capi::CurrentOrbInfoPerEngine>::mustExist();
    ASSERT_NE(info.pendingError, nullptr);
    EXPECT_EQ(info.pendingError->errorArray.impl(), error.impl());
    ASSERT_NE(info.pendingError->runtimeError, nullptr);
    EXPECT_EQ(info.pendingError->runtimeError->GetID(), "a:b");
    EXPECT_FALSE(info.errorPending);

    int errorType = 0;
    StreamLog out;
    exception = nullptr;
    std::thread([&] {
        orbApiFeval(m_handle, 1, outputs, 0, nullptr, "disp", &errorType, &exception, &out, nullptr,
                    &StreamLog::write, &StreamLog::release);
    }).join();
    EXPECT_EQ(errorType, 5);
    EXPECT_EQ(exception, nullptr);
    EXPECT_EQ(outputs[0], reinterpret_cast<void*>(0x1));
    EXPECT_EQ(out.deletes, 0);  // refused before the stream was taken
}

TEST_F(CppServicesTest, RuntimeErrorStructuresCarryCausesStackAndStatus) {
    host::RuntimeException inner("inner:cause", u"deepest", 2);
    auto first = std::make_shared<host::RuntimeException>("first:cause", u"first", 2);
    first->addCause(std::make_shared<host::RuntimeException>(inner));
    host::RuntimeException top("top:id", u"top message \u00e9", 1);
    top.addCause(first);
    top.addCause(std::make_shared<host::UserException>("plain:cause", "plain"));
    top.addStackFrame({u"/path/f.m", u"f", 12});
    top.addStackFrame({u"/path/g.m", u"g", 3});
    top.setFunctionName("f");

    Array error = orb::cppapi::buildRuntimeErrorArray(top);
    EXPECT_EQ(scalar(field(error, "status")), 2);
    EXPECT_EQ(charText(field(error, "message")), u"top message \u00e9");
    EXPECT_EQ(charText(field(error, "functionName")), u"f");
    Array causes = field(error, "cause");
    EXPECT_EQ(causes.getDimensions(), (std::vector<std::size_t>{1, 2}));
    Array firstCause = Array::share(causes.impl()->elements[0]);
    EXPECT_EQ(charText(field(firstCause, "identifier")), u"first:cause");
    EXPECT_EQ(field(firstCause, "cause").getDimensions(), (std::vector<std::size_t>{1, 1}));
    EXPECT_EQ(charText(field(Array::share(causes.impl()->elements[1]), "identifier")), u"plain:cause");
    Array stack = field(error, "stack");
    EXPECT_EQ(stack.getDimensions(), (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(charText(field(stack, "Name", 1)), u"g");
    EXPECT_EQ(scalar(field(stack, "Line", 0)), 12);
    Array noStack = field(firstCause, "stack");
    EXPECT_EQ(noStack.getDimensions(), (std::vector<std::size_t>{1, 0}));
    EXPECT_EQ(noStack.impl()->fields, (std::vector<std::string>{"File", "Name", "Line"}));

    const struct {
        int execution;
        double status;  // -1: not set
        bool filled;
    } statuses[] = {{1, 2, true}, {2, 3, true}, {3, 8, false}, {4, 8, false}, {7, -1, false}};
    for (const auto& s : statuses) {
        SCOPED_TRACE(s.execution);
        Array e = orb::cppapi::buildRuntimeErrorArray(host::RuntimeException("x:y", u"text", s.execution));
        Array status = field(e, "status");
        if (s.status < 0) {
            EXPECT_FALSE(status);
        } else {
            EXPECT_EQ(scalar(status), s.status);
        }
        EXPECT_EQ(static_cast<bool>(field(e, "message")), s.filled);
    }
}

TEST_F(CppServicesTest, CatalogueErrorsSkipEmptyArgumentsAndReplaceOnlyTheGivenPartsOfTheHolder) {
    const std::string id = orb::capi::messageIdentifier<VELTRA::orb::CppOrbGetVariableError>();
    int errorType = 0;
    void* exception = nullptr;
    orb::cppapi::raiseCatalogError(&errorType, id, &exception, u"", "base");
    EXPECT_EQ(errorType, 1);
    Array error = Array::adopt(static_cast<ArrayImpl*>(exception));
    EXPECT_EQ(error.impl()->fields, (std::vector<std::string>{"status", "message", "identifier", "stack", "cause"}));
    EXPECT_EQ(scalar(field(error, "status")), 3);
    EXPECT_EQ(charText(field(error, "message")), host::i18n::GetFormattedMessage(id, {std::string("base")}));
    EXPECT_EQ(field(error, "cause").getDimensions(), (std::vector<std::size_t>{1, 0}));

    auto& info = orb::capi::PerEngine<orb::capi::CurrentOrbInfoPerEngine>::mustExist();
    const auto* holder = info.pendingError.get();
    EXPECT_EQ(holder->identifier, id);
    orb::cppapi::storePendingError({nullptr, nullptr, nullptr, nullptr});
    EXPECT_EQ(info.pendingError.get(), holder);
    EXPECT_EQ(holder->identifier, id);

    orb::cppapi::buildUserErrorArray(&errorType, host::UserException("user:id", "from the user"), &exception);
    Array user = Array::adopt(static_cast<ArrayImpl*>(exception));
    EXPECT_EQ(scalar(field(user, "status")), 4);
    EXPECT_EQ(holder->message, u"from the user");
    EXPECT_EQ(holder->errorArray.impl(), user.impl());
}

}  // namespace
