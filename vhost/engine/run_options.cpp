// Request options, request identifiers, the engine factory and the distributor's runtime error.
#include <atomic>
#include <mutex>

#include "host/engine.hpp"
#include "host/i18n.hpp"
#include "vhost/engine/host_engine.hpp"

namespace host {

SinkTraits getDefaultSinkTraits() { return SinkTraits{}; }

void RunOptions::setOutStream(std::shared_ptr<u16streambuf> buffer, SinkTraits traits) {
    m_out = std::move(buffer);
    m_outTraits = traits;
    m_outSet = true;
}

void RunOptions::setErrStream(std::shared_ptr<u16streambuf> buffer, SinkTraits traits) {
    m_err = std::move(buffer);
    m_errTraits = traits;
    m_errSet = true;
}

FutureParking& futureParking() noexcept {
    // Never destroyed: a request may settle while the process exits.
    static FutureParking* const parking = new FutureParking;
    return *parking;
}

namespace {
struct IdRange {
    RequestID next, end;
};
// Initial-exec, as the bound engine: this library is loaded with the program, and the range is
// then one load away from the thread register.
__thread IdRange t_ids __attribute__((tls_model("initial-exec"))) = {0, 0};
}  // namespace

// Identifiers are handed to each thread a range at a time: a thread starting a burst of requests
// would otherwise pay a locked add per request on a counter every starting thread writes.
RequestID createRequestID() {
    constexpr RequestID kRange = 1024;
    static std::atomic<RequestID> nextRange{1};
    IdRange& ids = t_ids;
    if (ids.next == ids.end) {
        ids.next = nextRange.fetch_add(kRange, std::memory_order_relaxed);
        ids.end = ids.next + kRange;
    }
    return ids.next++;
}

RuntimeException::RuntimeException(std::string identifier, std::u16string message, int executionStatus)
    : UserException(std::move(identifier), i18n::to_string(message)), m_executionStatus(executionStatus) {}

RuntimeException::RuntimeException(const UserException& error, int executionStatus)
    : UserException(error), m_executionStatus(executionStatus) {}

std::u16string RuntimeException::GetUnicodeMessageTxt() const { return i18n::to_ustring(message()); }

std::vector<std::shared_ptr<const RuntimeException>> RuntimeException::getCauses() const {
    std::vector<std::shared_ptr<const RuntimeException>> causes;
    causes.reserve(this->causes().size());
    for (const auto& cause : this->causes()) {
        if (auto runtime = std::dynamic_pointer_cast<const RuntimeException>(cause)) {
            causes.push_back(std::move(runtime));
        } else {
            causes.push_back(std::make_shared<const RuntimeException>(*cause, m_executionStatus));
        }
    }
    return causes;
}

std::unique_ptr<UserException> RuntimeException::clone() const { return std::make_unique<RuntimeException>(*this); }
void RuntimeException::rethrow() const { throw *this; }

}  // namespace host

namespace vhost {
namespace {

std::mutex g_factoryMutex;
HostEngineFactory g_factory;

HostEngineFactory currentFactory() {
    std::lock_guard lock(g_factoryMutex);
    return g_factory;
}

}  // namespace

void setHostEngineFactory(HostEngineFactory factory) {
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

std::shared_ptr<host::HostEngine> hostEngineOf(Engine& engine) { return engine.hostEngine(currentFactory()); }

}  // namespace vhost

void host::pumpWhileWaiting(const std::function<bool()>& isReady) {
    // Only a thread that is some engine's signal thread has queued work to run; waiting must
    // never make the waiting thread the signal thread of a new default engine.
    vhost::Engine* engine = vhost::boundEngine();
    if (!engine) engine = vhost::existingDefaultEngine();
    if (engine && engine->isSignalThread()) engine->pumpUntil(isReady);
}

std::shared_ptr<host::HostEngine> host::getCurrentLocalVM() { return vhost::hostEngineOf(vhost::currentEngine()); }
