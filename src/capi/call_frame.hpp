// The module call frame: what runs around every call of a module's entry point.
//
// A call, in order: new allocation-list and array-list contexts (everything the module allocates
// is tracked in them); the engine's trap flag cleared; the module loaded if it is not; the
// current module set to its load record and the floating-point state saved; an output holder of
// at least 20 entries; the strategy's dispatch; outputs copied back to the caller; the
// floating-point state and the current module restored; a pending user interrupt raised (as the
// call's failure); the contexts left, keeping only the outputs handed back, and only when the
// call succeeded; a user interrupt that came meanwhile raised.
//
// The function record that owns a module plugs into the frame through ModuleCallSite (how to
// load, how to turn a failure into the error the caller sees) and DispatchStrategy (how to
// invoke the entry point, how to undo the load).
//
// The classes here are exported for hosts that run their own strategies, and for the test suite.
#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include <ry_types.h>

#include "host/exceptions.hpp"
#include "platform/export.hpp"
#include "platform/fault_guard.hpp"

struct impl_info_tag;  // the module loader's load record

namespace orb::capi {

// How one kind of entry point is invoked. A function record owns one strategy per load and keeps
// it until the module is unloaded. Strategies keep no mutable state of their own.
class ORB_API DispatchStrategy {
public:
    explicit DispatchStrategy(impl_info_tag* module) noexcept : module(module), plainEntry(nullptr) {}
    virtual ~DispatchStrategy();
    DispatchStrategy(const DispatchStrategy&) = delete;
    DispatchStrategy& operator=(const DispatchStrategy&) = delete;

    // Calls the module with `nlhs` outputs into `plhs` and `nrhs` inputs from `prhs`. Within the
    // frame, `prhs` is never null, and when `nlhs` is not negative `plhs` is the frame's holder:
    // at least max(nlhs, kMinOutputEntries) writable entries, the first max(nlhs, 1) null.
    virtual void dispatch(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) = 0;
    // Undoes the load of `module` (exit function, library). Runs inside the clear frame, with
    // `module` as the current module. By default: orbClearOrbFile(module), which is the host's
    // clear when the host installed one and the loader's own otherwise.
    virtual void clear();

    // The load record this strategy calls into; not owned.
    impl_info_tag* const module;
    // Set when dispatch is exactly callEntry(plainEntry, ...): the frame then calls the entry
    // itself, without the strategy's call in between. Null otherwise.
    const platform::CEntryPoint plainEntry;

protected:
    DispatchStrategy(impl_info_tag* module, platform::CEntryPoint plainEntry) noexcept
        : module(module), plainEntry(plainEntry) {}
};

// What every call of a C entry point shares: the module runs with the process's own identity,
// may not reuse its inputs' storage (they belong to the caller), and a machine fault or an
// exception in it becomes the boundary's error (platform/module_boundary.hpp).
ORB_API void callEntry(platform::CEntryPoint entry, int nlhs, ryArray** plhs, int nrhs, ryArray** prhs);

// Room for outputs that every call has, whatever it asked for: a module may deliver up to this
// many outputs (C++ modules are told so), and one value when none was requested.
inline constexpr std::size_t kMinOutputEntries = 20;

// The outputs a module writes during one call, before they are handed to the caller. Holds
// kMinOutputEntries entries in itself; a larger capacity takes a separate buffer.
class ORB_API OutputHolder {
public:
    // Capacity is nlhs, or 1 when nlhs is below 1. The first max(nlhs, 1) entries start null.
    explicit OutputHolder(int nlhs) : m_capacity(nlhs < 1 ? 1 : static_cast<std::size_t>(nlhs)) {
        m_inline[0] = nullptr;
        if (m_capacity > 1) [[unlikely]]
            initialiseMore();
    }
    OutputHolder(const OutputHolder&) = delete;
    OutputHolder& operator=(const OutputHolder&) = delete;

    ryArray** entries() noexcept { return m_buffer ? m_buffer.get() : m_inline.data(); }
    std::size_t capacity() const noexcept { return m_capacity; }
    bool usesSeparateBuffer() const noexcept { return m_buffer != nullptr; }

    // Stores the non-null entries of the first `nlhs` into `plhs`; a null entry leaves the
    // caller's element as it was. With nlhs 0 a set first entry is still handed back: a module
    // may return one value although none was requested. Nothing happens for a negative nlhs.
    void copyBackTo(int nlhs, ryArray** plhs) noexcept {
        if (nlhs < 0 || !plhs) return;
        ryArray** held = entries();
        const int count = (nlhs == 0 && held[0]) ? 1 : nlhs;
        for (int i = 0; i < count; ++i) {
            if (held[i]) plhs[i] = held[i];
        }
    }

private:
    void initialiseMore();

    std::size_t m_capacity;
    // Only the first max(nlhs, 1) entries are set: the module writes the others before they
    // are read, if it writes them at all.
    std::array<ryArray*, kMinOutputEntries> m_inline;
    std::unique_ptr<ryArray*[]> m_buffer;
};

// What the frame does with an exception that left the module call.
class ORB_API FailureAction {
public:
    // Leave the contexts keeping no outputs, check for a pending interrupt, and let the
    // exception go on unchanged (or as the site amended it, e.g. with a function name).
    static FailureAction rethrow() noexcept;
    // Let the exception go on at once, leaving the contexts as they are (the engine is going).
    static FailureAction rethrowAtOnce() noexcept;
    // Leave the contexts keeping no outputs, check for a pending interrupt, then raise `error`
    // through the host's legacy error raiser in place of the exception.
    static FailureAction raise(std::unique_ptr<host::UserException> error) noexcept;

    FailureAction(FailureAction&&) noexcept;
    FailureAction& operator=(FailureAction&&) noexcept;
    ~FailureAction();

    enum class Kind { Rethrow, RethrowAtOnce, Raise };
    Kind kind() const noexcept { return m_kind; }
    const host::UserException* replacement() const noexcept { return m_replacement.get(); }
    std::unique_ptr<host::UserException> takeReplacement() noexcept { return std::move(m_replacement); }

private:
    FailureAction(Kind kind, std::unique_ptr<host::UserException> replacement) noexcept;

    Kind m_kind;
    std::unique_ptr<host::UserException> m_replacement;
};

// The module to call: its load record and the strategy that invokes it.
struct LoadedModule {
    impl_info_tag* record = nullptr;
    DispatchStrategy* strategy = nullptr;
};

// What the frame needs from the function record that runs it.
class ORB_API ModuleCallSite {
public:
    virtual ~ModuleCallSite() = default;

    // The module when the site knows, before the call, that it is loaded and may run as it is:
    // the frame then calls it without asking ensureLoaded. With its strategy left null (the
    // record is then not read), ensureLoaded decides.
    LoadedModule ready;

    // Loads the module if it is not loaded, and answers its load record and strategy (the
    // strategy must not be null). Runs inside the call's contexts, with the trap flag already
    // cleared. An exception leaves the call unchanged, after the contexts are left keeping
    // nothing.
    virtual LoadedModule ensureLoaded() = 0;

    // Decides the fate of an exception that left the dispatch, or the interrupt check right
    // after it. Called inside the frame's catch handler, with the exception in flight, so an
    // implementation can rethrow it into its own try block to see its type. The default lets
    // every exception go on unchanged.
    virtual FailureAction classifyFailure();
};

// Runs one module call through `site`: every step of the frame, in order. On success the
// caller's `plhs` holds what the module handed back (their arrays now belong to the caller's
// context); on failure no output of the call survives.
ORB_API void runModuleCall(ModuleCallSite& site, int nlhs, ryArray** plhs, int nrhs, ryArray** prhs);

}  // namespace orb::capi
