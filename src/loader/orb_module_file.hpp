// The dispatcher's records of an orb module: the module file and the one function it defines.
// The host's dispatcher makes them through __construct_lm_orbw64 and owns them.
//
// The function record loads the module on its first call, keeps the load record and a dispatch
// strategy until the module is unloaded, and runs every call in the module call frame; the
// module record unloads the module when the host clears it.
#pragma once

#include <memory>
#include <string>

#include "capi/call_frame.hpp"
#include "host/dispatcher.hpp"
#include "capi/impl_info.hpp"
#include "platform/export.hpp"

namespace orb::loader {

class ORB_API OrbFunctionHandle : public host::HostFunctionHandleFile {
public:
    OrbFunctionHandle(host::HostDispatcher* dispatcher, host::HostModuleFile* module,
                      host::HostFunctionHandleFile* parent, const host::FileAspects& aspects);
    ~OrbFunctionHandle() override;

    // Calls the module (loading it first if needed) inside the module call frame. Raises the
    // load's errors unchanged, host errors with this function's name attached, and foreign
    // exceptions as "VELTRA:legacy_two_part:unexpectedCPPexception".
    void dispatch_file(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) override;

    // Installs the strategy for the current load record (after a successful load).
    void chooseDispatchStrategy();

    impl_info_tag* loadRecord() const noexcept { return m_loadRecord; }
    capi::DispatchStrategy* strategy() const noexcept { return m_strategy.get(); }

    // The identifier of the fatal error ("VELTRA:fatal:...") of a machine fault in the module's
    // own code, or empty. A module that faulted is not called again until it is cleared: the
    // fault may have left its memory, its static data or the host's records it was writing
    // damaged, and running it again could turn a contained fault into a corrupted session.
    // Clearing releases it without running any of its code again (abandonFaultedRecord), and the
    // next call loads it afresh.
    const std::string& faultIdentifier() const noexcept { return m_faultIdentifier; }
    void recordFault(std::string identifier) {
        m_faultIdentifier = std::move(identifier);
        m_ready = nullptr;
    }
    // The strategy when the module is loaded, has one and is not refused after a fault: what a
    // call needs without a look at the record's other fields. Null otherwise.
    capi::DispatchStrategy* readyStrategy() const noexcept { return m_ready; }

private:
    friend class OrbModuleFile;
    // Brings m_ready in step after the load record, the strategy or the fault changed.
    void updateReady() noexcept {
        m_ready = m_loadRecord && m_faultIdentifier.empty() ? m_strategy.get() : nullptr;
    }

    impl_info_tag* m_loadRecord = nullptr;
    std::unique_ptr<capi::DispatchStrategy> m_strategy;
    std::string m_faultIdentifier;
    capi::DispatchStrategy* m_ready = nullptr;
};

class ORB_API OrbModuleFile : public host::HostModuleFile {
public:
    OrbModuleFile(host::HostDispatcher* dispatcher, std::u16string fullPath);
    ~OrbModuleFile() override;

    int moduleKind() const override { return 2; }
    // Loads through the engine's module-file reader; raises why the module cannot be used.
    void loadModuleFile() override;
    // Runs the module's clean-up (exit function, library unload) in the clear frame; failures
    // become warnings. A module whose code faulted runs none of it (abandonFaultedRecord). Never
    // throws.
    void unloadModuleFile() override;

    OrbFunctionHandle* orbFunction() const noexcept;
};

}  // namespace orb::loader

// The factory the host's dispatcher calls for a ".orbw64" file. Null when memory runs out.
extern "C" ORB_API host::HostModuleFile* __construct_lm_orbw64(host::HostDispatcher* dispatcher,
                                                               const char16_t* fullPath);
