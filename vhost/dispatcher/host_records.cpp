// The records the dispatcher keeps for module files and their functions, the call guards, and the
// error kinds that cross a module call.
#include <exception>
#include <filesystem>
#include <map>
#include <vector>
#include <string>

#include "host/dispatcher.hpp"
#include "host/i18n.hpp"
#include "host/ut.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/ut/output.hpp"

namespace host {

HostModuleFile::HostModuleFile(HostDispatcher* dispatcher, std::u16string fullPath)
    : m_dispatcher(dispatcher), m_fullPath(std::move(fullPath)) {}

HostModuleFile::~HostModuleFile() = default;

// The reference host knows nothing about a file before loading it: all aspects are zero.
FileAspects HostModuleFile::get_aspects() const { return FileAspects{}; }

void HostModuleFile::load() { loadModuleFile(); }

void HostModuleFile::setFunction(std::unique_ptr<HostFunctionHandleFile> function) { m_function = std::move(function); }

HostFunctionHandleFile::HostFunctionHandleFile(HostDispatcher* dispatcher, HostModuleFile* module,
                                               HostFunctionHandleFile* parent, std::int32_t first, std::int32_t second,
                                               bool flag0, bool flag1, bool flag2)
    : m_dispatcher(dispatcher), m_module(module), m_parent(parent), m_first(first), m_second(second), m_flag0(flag0),
      m_flag1(flag1), m_flag2(flag2) {}

HostFunctionHandleFile::~HostFunctionHandleFile() = default;

std::string HostFunctionHandleFile::get_hfuncname() const {
    if (!m_module) return {};
    return std::filesystem::path(m_module->get_hFullPath()).stem().string();
}

void function_clear_notification(HostDispatcher* dispatcher, HostFunctionHandleFile* function) {
    if (dispatcher) dispatcher->functionCleared(function);
}

namespace {
thread_local std::vector<HostFunctionHandleFile*> t_protectedCalls;
thread_local OrbFunctionGuard* t_innermostGuard = nullptr;
// The arrays each live guard of this thread was handed. Guards nest strictly, so this is small.
thread_local std::map<const OrbFunctionGuard*, std::vector<vhost::TrackedParam>> t_tracked;
}  // namespace

ProtectedCallGuard::ProtectedCallGuard(HostFunctionHandleFile* function, bool, HostDispatcher*, bool)
    : m_function(function) {
    t_protectedCalls.push_back(function);
}

ProtectedCallGuard::~ProtectedCallGuard() { t_protectedCalls.pop_back(); }

bool HasBuiltinName(const UserException& error) { return !error.functionName().empty(); }

void AnnotateWithBuiltinName(UserException& error, const std::string& name) { error.setFunctionName(name); }

InterruptException::InterruptException() : UserException("VELTRA:interrupt", "Operation terminated by user.") {}

void report(const LegacyThrowable& throwable, int level) {
    // Levels from 192 up are errors; anything below is shown as a warning.
    const char* prefix = level >= 192 ? "Error: " : "Warning: ";
    vhost::writeOutput(prefix + throwable.text() + "\n");
}

std::u16string generateDiagnosticMsg(const LibraryLoadException& error) {
    if (!error.detail().empty()) return error.detail();
    return u"The library could not be loaded.";
}

OrbFunctionGuard::OrbFunctionGuard() : OrbFunctionGuard(0, nullptr, 0, nullptr) {}

OrbFunctionGuard::OrbFunctionGuard(int nlhs, ryArray** plhs, int nrhs, ryArray** prhs)
    : m_previous(t_innermostGuard), m_nlhs(nlhs), m_plhs(plhs), m_nrhs(nrhs), m_prhs(prhs) {
    t_innermostGuard = this;
}

OrbFunctionGuard::~OrbFunctionGuard() {
    t_tracked.erase(this);
    t_innermostGuard = m_previous;
}

OrbFunctionGuard* OrbFunctionGuard::getCurrent() { return t_innermostGuard; }

void OrbFunctionGuard::trackParam(ryArray* array, int kind) { t_tracked[this].push_back({array, kind}); }

}  // namespace host

namespace vhost {

std::vector<TrackedParam> trackedParams(const host::OrbFunctionGuard& guard) {
    auto found = host::t_tracked.find(&guard);
    return found == host::t_tracked.end() ? std::vector<TrackedParam>{} : found->second;
}

host::HostFunctionHandleFile* protectedCallFunction() {
    return host::t_protectedCalls.empty() ? nullptr : host::t_protectedCalls.back();
}

}  // namespace vhost
