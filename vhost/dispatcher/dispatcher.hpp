// The reference host's function dispatcher: one per engine. It finds functions by name on a search
// path, keeps the records of the module files it has opened (made by the factory registered for
// the file's extension) until they are cleared, counts locks per module, and keeps the stack of
// the functions it is dispatching.
//
// Lookup of a name, first match wins: the folders of the search path in order (the one added
// last first), then the current directory; in each folder the registered extensions in the order
// they were registered. The language puts its variables and built-ins in front of this.
//
// Clearing: a module that is locked (lock count above zero) or is running (on the call stack) is
// left alone, records and all. Any other module is unloaded through
// HostModuleFile::unloadModuleFile and its records are destroyed; the next lookup opens the file
// afresh. When the engine goes, every module is unloaded, locked or not.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/dispatcher.hpp"
#include "host/host_api.hpp"
#include "vhost/engine/engine.hpp"

namespace vhost {

using ModuleFactory = host::HostModuleFile* (*)(host::HostDispatcher* dispatcher, const char16_t* fullPath);

// Process-wide. `extension` includes the dot (".orbw64"). Registering an extension again replaces
// its factory; a null factory removes it.
HOST_API void registerModuleFactory(const std::string& extension, ModuleFactory factory);

}  // namespace vhost

namespace host {

class HostDispatcher {
public:
    explicit HostDispatcher(vhost::Engine& engine);
    // Unloads every module (locks ignored) with the engine bound.
    ~HostDispatcher();
    HostDispatcher(const HostDispatcher&) = delete;
    HostDispatcher& operator=(const HostDispatcher&) = delete;

    // The search path, first searched first. addPath puts a folder in front (moving it there when
    // present already).
    void addPath(const std::string& folder);
    void removePath(const std::string& folder);
    const std::vector<std::string>& path() const noexcept { return m_path; }

    // The function record of the module file that `name` finds, opening the file (through its
    // factory) the first time. Null when no file is found. Raises "VELTRA:dispatcher:factoryFailed"
    // when the factory answers null.
    HOST_API HostFunctionHandleFile* findFunction(const std::string& name);

    // Calls `function` with a frame on the call stack naming it.
    void call(HostFunctionHandleFile& function, int nlhs, ryArray** plhs, int nrhs, ryArray** prhs);

    // The function being dispatched right now (innermost), or null.
    HostFunctionHandleFile* currentFunction() const noexcept;
    // Its name, or empty text outside any call. The pointer stays valid while the call runs.
    const char* currentFunctionName() const noexcept;
    std::size_t callDepth() const noexcept { return m_stack.size(); }

    // Locks of the module of the function being dispatched (no-ops outside a call).
    void lockCurrent();
    void unlockCurrent();
    bool isCurrentLocked() const;
    int lockCount(const HostModuleFile* module) const;

    // Clears the module that `name` names among the open ones (by function name). Answers whether
    // it was unloaded.
    bool clear(const std::string& name);
    // Clears every module that may be cleared.
    void clearAll();
    // Names of the functions of the open modules, sorted.
    HOST_API std::vector<std::string> openModules() const;

    // The runtime's notice that a function is being cleared.
    void functionCleared(HostFunctionHandleFile* function);

private:
    struct Frame {
        HostFunctionHandleFile* function;
        std::string name;
    };
    bool mayClear(const HostModuleFile* module) const;
    void unload(std::map<std::u16string, std::unique_ptr<HostModuleFile>>::iterator entry);

    vhost::Engine& m_engine;
    std::vector<std::string> m_path;
    std::map<std::u16string, std::unique_ptr<HostModuleFile>> m_modules;  // by full path
    std::map<const HostModuleFile*, int> m_locks;
    std::vector<Frame> m_stack;
};

}  // namespace host

namespace vhost {

HOST_API host::HostDispatcher& dispatcherOf(Engine& engine);
// The dispatcher of the calling thread's engine.
HOST_API host::HostDispatcher& currentDispatcher();

// Called on the calling thread after every function call the dispatcher made has ended, however
// it ended (`failed` when by an error), with the function's name and the number of calls still
// running around it (0 for an outermost call). The call's contexts have been left by then, so
// the array library's last context report is what the call freed. Process-wide; null removes
// the observer. The observer must not throw.
using CallObserver = void (*)(const std::string& name, std::size_t depth, bool failed);
HOST_API void setCallObserver(CallObserver observer);
// The observer set last (read by the dispatcher after each call).
HOST_API std::atomic<CallObserver>& callObserver();

// Shorthands acting on currentDispatcher().
HOST_API void addPath(const std::string& folder);
HOST_API void removePath(const std::string& folder);
HOST_API std::vector<std::string> path();
HOST_API bool clear(const std::string& name);
HOST_API void clearAll();

// What OrbFunctionGuard::trackParam recorded on `guard` (kind 0 input, 1 output), oldest first.
struct TrackedParam {
    ryArray* array;
    int kind;
};
HOST_API std::vector<TrackedParam> trackedParams(const host::OrbFunctionGuard& guard);
// The function of the innermost live ProtectedCallGuard of the calling thread, or null.
HOST_API host::HostFunctionHandleFile* protectedCallFunction();

}  // namespace vhost
