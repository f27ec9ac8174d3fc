#include "cppapi/engine_handle.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "capi/message_ids.hpp"
#include "cppapi/error_conversion.hpp"
#include "host/ut.hpp"

extern "C" {
void orbLock(void);
void orbUnlock(void);
}

namespace orb::cppapi {

namespace {

std::mutex g_spareRecordsMutex;
// Never destroyed: a request may outlive the handles (and the process's statics).
std::vector<ModuleRequests*>& spareRecords() {
    static auto* const records = new std::vector<ModuleRequests*>;
    return *records;
}

ModuleRequests* takeRecord() {
    {
        std::lock_guard lock(g_spareRecordsMutex);
        // A record a clear still counts on (its module's handle went before the clear ended) is
        // passed on only once that clear is over.
        auto& spares = spareRecords();
        const auto quiet = std::find_if(spares.rbegin(), spares.rend(), [](const ModuleRequests* record) {
            return record->closing.load(std::memory_order_acquire) == 0;
        });
        if (quiet != spares.rend()) {
            ModuleRequests* record = *quiet;
            spares.erase(std::next(quiet).base());
            return record;
        }
    }
    return new ModuleRequests;
}

}  // namespace

OrbFunctionImpl::~OrbFunctionImpl() {
    if (!requests) return;
    try {
        std::lock_guard lock(g_spareRecordsMutex);
        spareRecords().push_back(requests);
    } catch (...) {
        // Out of memory: the record is left as it is.
    }
}

OrbFunctionImpl* makeEngineHandle(std::u16string functionName) noexcept {
    try {
        auto cell = std::make_unique<host::HostEngine*>(host::getCurrentLocalVM().get());
        std::unique_ptr<OrbFunctionImpl> handle(new OrbFunctionImpl{cell.get(), false, std::move(functionName), nullptr});
        handle->requests = takeRecord();
        cell.release();
        return handle.release();
    } catch (...) {
        return nullptr;
    }
}

host::HostEngine& engineOf(void* handle) { return **static_cast<OrbFunctionImpl*>(handle)->engineCell; }

bool checkCallingThread(int* errorType) {
    if (host::utIsSignalThread()) return false;
    *errorType = kOrbErrorThreadMismatch;
    return true;
}

bool refusedArgument(const char* service, const std::string& problem, int* errorType, void** exceptionOut) {
    if (problem.empty()) return false;
    raiseCatalogError(errorType, capi::messageIdentifier<VELTRA::orbapi::invalidArgument>(), exceptionOut,
                      std::u16string(service, service + std::strlen(service)), problem);
    return true;
}

}  // namespace orb::cppapi

using orb::cppapi::OrbFunctionImpl;

void* cpporb_getEngine(void* handle) { return handle; }

char16_t* cpporb_getFunctionName(void* handle) {
    const std::u16string& name = static_cast<OrbFunctionImpl*>(handle)->functionName;
    auto* block = static_cast<char16_t*>(std::malloc((name.size() + 1) * sizeof(char16_t)));
    if (!block) return nullptr;
    std::memcpy(block, name.data(), name.size() * sizeof(char16_t));
    block[name.size()] = u'\0';
    return block;
}

void cpporb_orbLock(void* handle) {
    auto* impl = static_cast<OrbFunctionImpl*>(handle);
    if (impl->locked) return;
    orbLock();
    impl->locked = true;
}

void cpporb_orbUnlock(void* handle) {
    auto* impl = static_cast<OrbFunctionImpl*>(handle);
    if (!impl->locked) return;
    orbUnlock();
    impl->locked = false;
}

void cpporb_orbLock_with_error_check(void* handle, int* errorType) {
    if (orb::cppapi::checkCallingThread(errorType)) return;
    cpporb_orbLock(handle);
}

void cpporb_orbUnlock_with_error_check(void* handle, int* errorType) {
    if (orb::cppapi::checkCallingThread(errorType)) return;
    cpporb_orbUnlock(handle);
}
