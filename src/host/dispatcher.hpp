// Host function dispatcher: the records it keeps for loaded module files and the functions they
// define, and the errors that cross a module call.
//
// The dispatcher owns every module record and function record; it destroys them through their
// virtual destructors. All of this runs on the engine's signal thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <ry_types.h>

#include "host/exceptions.hpp"
#include "host/host_api.hpp"

namespace host {

class HostDispatcher;  // opaque to the runtime
class HostFunctionHandleFile;

// What the dispatcher knows about a file before it is loaded: two integers and three flags. The
// runtime passes them on unchanged; the second integer is the aspect of the C++ call path.
struct FileAspects {
    std::int32_t first = 0;
    std::int32_t second = 0;
    bool flag0 = false;
    bool flag1 = false;
    bool flag2 = false;
};

// The dispatcher's record of one loaded file. A runtime derives its own module record from it.
class HOST_API HostModuleFile {
public:
    HostModuleFile(HostDispatcher* dispatcher, std::u16string fullPath);
    virtual ~HostModuleFile();
    HostModuleFile(const HostModuleFile&) = delete;
    HostModuleFile& operator=(const HostModuleFile&) = delete;

    virtual FileAspects get_aspects() const;
    const std::u16string& get_hFullPath() const noexcept { return m_fullPath; }
    HostDispatcher* dispatcher() const noexcept { return m_dispatcher; }

    // Which kind of file this is (the dispatcher's numbering; orb modules answer 2).
    virtual int moduleKind() const { return 0; }
    // Loads the file's code; run by load() the first time the dispatcher needs it.
    virtual void loadModuleFile() = 0;
    // Unloads it; run when the user clears the file. Must not throw.
    virtual void unloadModuleFile() = 0;

    // The host's load operation: runs loadModuleFile (errors pass to the caller).
    void load();

    // The function the file defines (one per module file); owned by this record.
    HostFunctionHandleFile* function() const noexcept { return m_function.get(); }
    void setFunction(std::unique_ptr<HostFunctionHandleFile> function);

private:
    HostDispatcher* m_dispatcher;
    std::u16string m_fullPath;
    std::unique_ptr<HostFunctionHandleFile> m_function;
};

// The dispatcher's record of one function defined by a file.
class HOST_API HostFunctionHandleFile {
public:
    HostFunctionHandleFile(HostDispatcher* dispatcher, HostModuleFile* module, HostFunctionHandleFile* parent,
                           std::int32_t first, std::int32_t second, bool flag0, bool flag1, bool flag2);
    virtual ~HostFunctionHandleFile();
    HostFunctionHandleFile(const HostFunctionHandleFile&) = delete;
    HostFunctionHandleFile& operator=(const HostFunctionHandleFile&) = delete;

    // The function's name: the file name without folder and extension.
    std::string get_hfuncname() const;
    HostModuleFile* module() const noexcept { return m_module; }
    HostDispatcher* dispatcher() const noexcept { return m_dispatcher; }
    std::int32_t firstAspect() const noexcept { return m_first; }
    std::int32_t secondAspect() const noexcept { return m_second; }
    // Whether the function is part of the host's own product code (as opposed to user code).
    bool isKorvaleCode() const noexcept { return m_flag0; }

    // Calls the function: nlhs outputs into plhs, nrhs inputs from prhs. Raises host errors.
    virtual void dispatch_file(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) = 0;

private:
    HostDispatcher* m_dispatcher;
    HostModuleFile* m_module;
    HostFunctionHandleFile* m_parent;
    std::int32_t m_first;
    std::int32_t m_second;
    bool m_flag0, m_flag1, m_flag2;
};

// Tells the dispatcher that `function` is being cleared (it drops cached lookups of it).
HOST_API void function_clear_notification(HostDispatcher* dispatcher, HostFunctionHandleFile* function);

// Errors raised while the guard is alive are attributed to `function`.
class HOST_API ProtectedCallGuard {
public:
    ProtectedCallGuard(HostFunctionHandleFile* function, bool flag, HostDispatcher* dispatcher, bool flag2);
    ~ProtectedCallGuard();
    ProtectedCallGuard(const ProtectedCallGuard&) = delete;
    ProtectedCallGuard& operator=(const ProtectedCallGuard&) = delete;

private:
    HostFunctionHandleFile* m_function;
};

// Whether a user error already names the function it came from; attaching a name.
HOST_API bool HasBuiltinName(const UserException& error);
HOST_API void AnnotateWithBuiltinName(UserException& error, const std::string& name);

// Error kinds a module call distinguishes (all but ShutdownException and LegacyThrowable are
// UserException subclasses, so a catch of UserException placed after them sees the rest).
class InternalException : public UserException {  // a fault inside the host itself
public:
    using UserException::UserException;
};
class NamedFuncException : public UserException {  // raised by the distributor for a named function
public:
    using UserException::UserException;
};
class InterruptException : public UserException {  // the user interrupted (Ctrl-C)
public:
    HOST_API InterruptException();
};
// The engine is shutting down: never reported, never converted.
class ShutdownException : public std::exception {
public:
    const char* what() const noexcept override { return "the engine is shutting down"; }
};
using IInternalException = InternalException;
using INamedFuncException = NamedFuncException;

// The deprecated host throwable some old modules still throw.
class LegacyThrowable {
public:
    explicit LegacyThrowable(std::string text) : m_text(std::move(text)) {}
    const std::string& text() const noexcept { return m_text; }

private:
    std::string m_text;
};
// Reports a legacy throwable through the host (printed; level 192 is "error").
HOST_API void report(const LegacyThrowable& throwable, int level);

// The host library loader's own error, and the text that explains it (which file, which missing
// dependency or symbol).
class LibraryLoadException : public std::exception {
public:
    explicit LibraryLoadException(std::u16string detail) : m_detail(std::move(detail)) {}
    const char* what() const noexcept override { return "library load failed"; }
    const std::u16string& detail() const noexcept { return m_detail; }

private:
    std::u16string m_detail;
};
HOST_API std::u16string generateDiagnosticMsg(const LibraryLoadException& error);

// A per-call record of the current module call's parameters that the host can query while a
// module of a separate-complex interface runs (so it can bring complex storage in step).
class HOST_API OrbFunctionGuard {
public:
    OrbFunctionGuard();
    OrbFunctionGuard(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs);
    ~OrbFunctionGuard();
    OrbFunctionGuard(const OrbFunctionGuard&) = delete;
    OrbFunctionGuard& operator=(const OrbFunctionGuard&) = delete;
    // The innermost live guard of the calling thread, or null.
    static OrbFunctionGuard* getCurrent();
    // Records an array the module was handed (kind 0 input, 1 output).
    void trackParam(ryArray* array, int kind);

private:
    OrbFunctionGuard* m_previous;
    int m_nlhs;
    ryArray** m_plhs;
    int m_nrhs;
    ryArray** m_prhs;
};

}  // namespace host
