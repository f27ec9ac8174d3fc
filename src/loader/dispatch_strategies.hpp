// How each kind of entry point is called. A function record picks one strategy when its module
// loads (makeDispatchStrategy) and keeps it until the module is unloaded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capi/call_frame.hpp"
#include "host/dispatcher.hpp"
#include "capi/impl_info.hpp"
#include "platform/export.hpp"

namespace orb::loader {

using capi::DispatchStrategy;

// The strategies that call the load record's entry point, each with its calling convention.
class ORB_API EntryDispatchStrategy : public DispatchStrategy {
public:
    explicit EntryDispatchStrategy(impl_info_tag* module) noexcept : DispatchStrategy(module), m_entry(module->entry) {}

protected:
    // For a strategy whose dispatch is exactly capi::callEntry on the record's entry point.
    struct Plain {};
    EntryDispatchStrategy(impl_info_tag* module, Plain) noexcept
        : DispatchStrategy(module, reinterpret_cast<platform::CEntryPoint>(module->entry)), m_entry(module->entry) {}

protected:
    void* const m_entry;
};

// C gateway: entry(nlhs, plhs, nrhs, prhs).
class ORB_API C_DispatchStrategy : public EntryDispatchStrategy {
public:
    explicit C_DispatchStrategy(impl_info_tag* module) noexcept : EntryDispatchStrategy(module, Plain{}) {}
    void dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) override;
};

// Fortran gateway with 32-bit counts passed by address: entry(&nlhs, plhs, &nrhs, prhs).
class ORB_API Fortran_DispatchStrategy : public EntryDispatchStrategy {
public:
    using EntryDispatchStrategy::EntryDispatchStrategy;
    void dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) override;
};

// Fortran gateway of a 64-bit interface: the counts are widened to 64 bits (sign kept).
class ORB_API Fortran_64bit_DispatchStrategy : public EntryDispatchStrategy {
public:
    using EntryDispatchStrategy::EntryDispatchStrategy;
    void dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) override;
};

// A module of a separate-complex interface runs with the host's per-call guard alive, so that the
// host can bring complex storage in step for the arrays it hands such a module.
class ORB_API SCCompatDispatchStrategy : public DispatchStrategy {
public:
    explicit SCCompatDispatchStrategy(std::unique_ptr<DispatchStrategy> inner);
    void dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) override;
    void clear() override;
    const DispatchStrategy& inner() const noexcept { return *m_inner; }

private:
    std::unique_ptr<DispatchStrategy> m_inner;
};

// A module the thread pool refused: every call is refused and the module is never entered.
class ORB_API Tasks_DispatchStrategy : public DispatchStrategy {
public:
    Tasks_DispatchStrategy(impl_info_tag* module, std::string functionName, bool KorvaleCodeFlag);
    void dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) override;

private:
    std::string m_functionName;
    bool m_KorvaleCodeFlag;
};

// The strategy for a loaded record of `function`, by entry kind and interface: C, Fortran with
// 32- or 64-bit counts, or the refusal; wrapped in SCCompatDispatchStrategy unless the module
// uses an interleaved-complex interface (a module without a version is always wrapped); the C++
// strategy for C++ modules, never wrapped. Null for unknown kinds.
ORB_API std::unique_ptr<DispatchStrategy> makeDispatchStrategy(impl_info_tag* record,
                                                               const host::HostFunctionHandleFile& function);

}  // namespace orb::loader
