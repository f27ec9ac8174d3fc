#include "cppapi/async.hpp"

#include <array>
#include <exception>
#include <new>
#include <vector>

#include "cppapi/engine_handle.hpp"
#include "cppapi/error_conversion.hpp"
#include "host/block_recycler.hpp"
#include "cppapi/feval.hpp"
#include "host/i18n.hpp"

namespace orb::cppapi {
namespace {

constexpr const char16_t* kQueueName = u"CppORBQueue";

// The failure callbacks' code and data for the exception in flight. A runtime error structure
// handed out here carries the module's reference.
template <class Deliver>
void deliverFailure(Deliver&& deliver) {
    try {
        throw;
    } catch (const host::AlreadyCancelledException&) {
        deliver(kOrbErrorCancelled, nullptr);
    } catch (const host::RuntimeException& error) {
        deliver(kOrbErrorHost, buildRuntimeErrorArray(error).newReference());
    } catch (const std::exception& error) {
        deliver(kOrbErrorOther, const_cast<char*>(error.what()));
    } catch (...) {
        deliver(kOrbErrorOther, nullptr);
    }
}

host::RunOptions asyncOptions(void* outputStream, void* errorStream, ModuleWriteFcn writeFcn,
                              ModuleDeleterFcn deleterFcn) {
    auto out = wrapModuleStream(outputStream, writeFcn, deleterFcn);
    auto err = wrapModuleStream(errorStream, writeFcn, deleterFcn);
    host::RunOptions options;
    // Unlike a synchronous call, an output stream is always set (empty when none was given).
    options.setOutStream(out, host::getDefaultSinkTraits());
    options.setErrStream(err ? err : sharedNullStreambuf(), host::getDefaultSinkTraits());
    options.setDequeueMode(host::WhenToDequeue::WhenIdle);
    options.setQueueName(kQueueName);
    return options;
}

// What runs when an asynchronous feval has finished: hands the outputs, or the failure, to the
// module's callbacks. It is made on the module's thread and destroyed on the signal thread; the
// request's function object holds it on the heap (it is larger than the object's inline room),
// so its block is recycled rather than freed across threads.
struct FevalDone {
    int nlhs;
    bool passThroughFlag;
    SetOutputsFcn setOutputsFcn;
    SetExceptionFcn setExceptionFcn;
    void* promise;

    void operator()(host::Future<host::Outputs> result) const {
        try {
            const host::Outputs& outputs = result.value();
            // Up to 20 outputs are handed from the stack.
            std::array<void*, 20> few{};
            std::vector<void*> many(outputs.size() > few.size() ? outputs.size() : 0);
            void** handed = many.empty() ? few.data() : many.data();
            for (std::size_t i = 0; i < outputs.size(); ++i) handed[i] = outputs[i].newReference();
            setOutputsFcn(promise, nlhs, passThroughFlag, handed);
        } catch (...) {
            deliverFailure([&](int code, void* data) { setExceptionFcn(promise, nlhs, passThroughFlag, code, data); });
        }
    }

    static void* operator new(std::size_t size);
    static void operator delete(void* block) noexcept;
};

using FevalDoneBlocks = host::util::BlockRecycler<sizeof(FevalDone), alignof(FevalDone)>;
void* FevalDone::operator new(std::size_t) { return FevalDoneBlocks::allocate(); }
void FevalDone::operator delete(void* block) noexcept { FevalDoneBlocks::deallocate(block); }

std::uint64_t handleFor(host::Future<void> task) {
    auto* handle = new (std::nothrow) OrbTaskHandle;
    if (!handle) return 0;
    try {
        handle->future = std::make_shared<host::Future<void>>(std::move(task));
    } catch (...) {
        delete handle;
        return 0;
    }
    return reinterpret_cast<std::uint64_t>(handle);
}

}  // namespace

std::uint64_t fevalAsyncImpl(void* engine, const std::string& name, const host::Outputs& arguments, int nlhs,
                             bool passThroughFlag, SetOutputsFcn setOutputsFcn, SetExceptionFcn setExceptionFcn,
                             void* promise, void* outputStream, void* errorStream, ModuleWriteFcn writeFcn,
                             ModuleDeleterFcn deleterFcn) {
    host::HostEngine& host = engineOf(engine);
    const host::RunOptions options = asyncOptions(outputStream, errorStream, writeFcn, deleterFcn);
    const host::RequestID id = host::createRequestID();
    host::FevalCompletion completion(FevalDone{nlhs, passThroughFlag, setOutputsFcn, setExceptionFcn, promise});
    return handleFor(host.fevalWithCompletion(name, arguments, nlhs, std::move(completion), options, id));
}

}  // namespace orb::cppapi

using namespace orb::cppapi;

std::uint64_t orbApiFevalAsync(void* engine, int nlhs, int nrhs, void** prhs, const char* functionName,
                               bool passThroughFlag, SetOutputsFcn setOutputsFcn, SetExceptionFcn setExceptionFcn,
                               void* promise, void* outputStream, void* errorStream, ModuleWriteFcn writeFcn,
                               ModuleDeleterFcn deleterFcn) {
    return fevalAsyncImpl(engine, functionName, wrapInputs(nrhs, prhs), nlhs, passThroughFlag, setOutputsFcn,
                          setExceptionFcn, promise, outputStream, errorStream, writeFcn, deleterFcn);
}

std::uint64_t orbApiEvalAsync(void* engine, const char16_t* statement, OnSuccessFcn onSuccessFcn,
                              OnErrorFcn onErrorFcn, void* promise, void* outputStream, void* errorStream,
                              ModuleWriteFcn writeFcn, ModuleDeleterFcn deleterFcn) {
    host::HostEngine& host = engineOf(engine);
    const host::RunOptions options = asyncOptions(outputStream, errorStream, writeFcn, deleterFcn);
    const host::RequestID id = host::createRequestID();
    auto completion = [onSuccessFcn, onErrorFcn, promise](host::Future<void> result) {
        try {
            result.get();
            onSuccessFcn(promise);
        } catch (...) {
            deliverFailure([&](int code, void* data) { onErrorFcn(promise, code, data); });
        }
    };
    return handleFor(host.evalWithCompletion(statement, completion, options, id));
}

bool orbApiCancelFevalWithCompletion(void* taskHandle, bool allowInterrupt) {
    auto* handle = static_cast<OrbTaskHandle*>(taskHandle);
    std::shared_ptr<host::TaskReference> task = handle->future ? handle->future->taskReference() : nullptr;
    if (!task) return false;
    if (task->cancellationRequested()) return task->cancel_callback(allowInterrupt) != host::CancelStatus::TooLate;
    task->requestCancellation(allowInterrupt);
    return task->cancelStatus() != host::CancelStatus::TooLate;
}

void orbApiDestroyTaskHandle(void* taskHandle) { delete static_cast<OrbTaskHandle*>(taskHandle); }

void orbApiToWaitForPendingfevalEvalToComplete(void* taskHandle) {
    auto* handle = static_cast<OrbTaskHandle*>(taskHandle);
    if (!handle || !handle->future) return;
    handle->future->get();
}
