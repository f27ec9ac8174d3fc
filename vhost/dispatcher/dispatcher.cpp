#include "vhost/dispatcher/dispatcher.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <mutex>

#include "host/i18n.hpp"
#include "host/storage.hpp"

namespace vhost {
namespace {

struct FactoryRegistry {
    std::mutex mutex;
    std::vector<std::pair<std::string, ModuleFactory>> factories;  // in registration order
};

FactoryRegistry& factoryRegistry() {
    static FactoryRegistry registry;
    return registry;
}

std::vector<std::pair<std::string, ModuleFactory>> registeredFactories() {
    FactoryRegistry& registry = factoryRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.factories;
}

}  // namespace

std::atomic<CallObserver>& callObserver() {
    static std::atomic<CallObserver> observer{nullptr};
    return observer;
}

void setCallObserver(CallObserver observer) { callObserver().store(observer); }

void registerModuleFactory(const std::string& extension, ModuleFactory factory) {
    FactoryRegistry& registry = factoryRegistry();
    std::lock_guard lock(registry.mutex);
    auto& list = registry.factories;
    auto found = std::find_if(list.begin(), list.end(), [&](const auto& entry) { return entry.first == extension; });
    if (!factory) {
        if (found != list.end()) list.erase(found);
    } else if (found != list.end()) {
        found->second = factory;
    } else {
        list.emplace_back(extension, factory);
    }
}

}  // namespace vhost

namespace host {

HostDispatcher::HostDispatcher(vhost::Engine& engine) : m_engine(engine) {}

HostDispatcher::~HostDispatcher() {
    vhost::EngineScope scope(m_engine);
    m_stack.clear();
    m_locks.clear();
    while (!m_modules.empty()) unload(m_modules.begin());
}

void HostDispatcher::addPath(const std::string& folder) {
    removePath(folder);
    m_path.insert(m_path.begin(), folder);
}

void HostDispatcher::removePath(const std::string& folder) { std::erase(m_path, folder); }

HostFunctionHandleFile* HostDispatcher::findFunction(const std::string& name) {
    namespace fs = std::filesystem;
    if (name.empty() || name.find_first_of("/\\.") != std::string::npos) return nullptr;
    const auto factories = vhost::registeredFactories();
    std::vector<fs::path> folders(m_path.begin(), m_path.end());
    folders.push_back(fs::current_path());
    for (const fs::path& folder : folders) {
        for (const auto& [extension, factory] : factories) {
            const fs::path file = (folder / (name + extension)).lexically_normal();
            std::error_code error;
            if (!fs::is_regular_file(file, error)) continue;
            const std::u16string fullPath = fs::absolute(file, error).lexically_normal().u16string();
            auto open = m_modules.find(fullPath);
            if (open == m_modules.end()) {
                std::unique_ptr<HostModuleFile> record(factory(this, fullPath.c_str()));
                if (!record)
                    throw UserException("VELTRA:dispatcher:factoryFailed",
                                        "The module file '" + file.string() + "' could not be opened.");
                open = m_modules.emplace(fullPath, std::move(record)).first;
            }
            return open->second->function();
        }
    }
    return nullptr;
}

void HostDispatcher::call(HostFunctionHandleFile& function, int nlhs, ryArray** plhs, int nrhs, ryArray** prhs) {
    m_stack.push_back({&function, function.get_hfuncname()});
    struct Pop {
        std::vector<Frame>& stack;
        int uncaught = std::uncaught_exceptions();
        ~Pop() {
            const std::string name = std::move(stack.back().name);
            stack.pop_back();
            if (const vhost::CallObserver observer = vhost::callObserver().load())
                observer(name, stack.size(), std::uncaught_exceptions() > uncaught);
        }
    } pop{m_stack};
    // Other threads learn from the engine which module call holds it (see Engine::heldBy).
    const vhost::EngineActivity held(m_engine, m_stack.back().name);
    function.dispatch_file(nlhs, plhs, nrhs, prhs);
}

HostFunctionHandleFile* HostDispatcher::currentFunction() const noexcept {
    return m_stack.empty() ? nullptr : m_stack.back().function;
}

const char* HostDispatcher::currentFunctionName() const noexcept {
    return m_stack.empty() ? "" : m_stack.back().name.c_str();
}

void HostDispatcher::lockCurrent() {
    if (HostFunctionHandleFile* function = currentFunction(); function && function->module())
        ++m_locks[function->module()];
}

void HostDispatcher::unlockCurrent() {
    HostFunctionHandleFile* function = currentFunction();
    if (!function || !function->module()) return;
    auto found = m_locks.find(function->module());
    if (found == m_locks.end()) return;
    if (--found->second <= 0) m_locks.erase(found);
}

bool HostDispatcher::isCurrentLocked() const {
    const HostFunctionHandleFile* function = currentFunction();
    return function && lockCount(function->module()) > 0;
}

int HostDispatcher::lockCount(const HostModuleFile* module) const {
    auto found = m_locks.find(module);
    return found == m_locks.end() ? 0 : found->second;
}

bool HostDispatcher::mayClear(const HostModuleFile* module) const {
    if (lockCount(module) > 0) return false;
    return std::none_of(m_stack.begin(), m_stack.end(),
                        [&](const Frame& frame) { return frame.function && frame.function->module() == module; });
}

void HostDispatcher::unload(std::map<std::u16string, std::unique_ptr<HostModuleFile>>::iterator entry) {
    std::unique_ptr<HostModuleFile> record = std::move(entry->second);
    m_modules.erase(entry);
    m_locks.erase(record.get());
    record->unloadModuleFile();
}

bool HostDispatcher::clear(const std::string& name) {
    for (auto entry = m_modules.begin(); entry != m_modules.end(); ++entry) {
        HostFunctionHandleFile* function = entry->second->function();
        if (!function || function->get_hfuncname() != name) continue;
        if (!mayClear(entry->second.get())) return false;
        unload(entry);
        return true;
    }
    return false;
}

void HostDispatcher::clearAll() {
    for (auto entry = m_modules.begin(); entry != m_modules.end();) {
        auto next = std::next(entry);
        if (mayClear(entry->second.get())) unload(entry);
        entry = next;
    }
}

std::vector<std::string> HostDispatcher::openModules() const {
    std::vector<std::string> names;
    for (const auto& [path, record] : m_modules)
        if (record->function()) names.push_back(record->function()->get_hfuncname());
    std::sort(names.begin(), names.end());
    return names;
}

void HostDispatcher::functionCleared(HostFunctionHandleFile* function) {
    // Nothing is cached beyond the module records themselves, which the clear that sent this
    // notice destroys; a frame still naming the function keeps its name but no longer its record.
    for (Frame& frame : m_stack)
        if (frame.function == function) frame.function = nullptr;
}

}  // namespace host

namespace vhost {

host::HostDispatcher& dispatcherOf(Engine& engine) {
    static const host::storage::Key key = host::storage::getNextID(typeid(host::HostDispatcher));
    if (void* found = engine.storage().find(key, typeid(host::HostDispatcher)))
        return *static_cast<host::HostDispatcher*>(found);
    return *static_cast<host::HostDispatcher*>(
        engine.storage().findOrInsert(key, typeid(host::HostDispatcher), std::make_shared<host::HostDispatcher>(engine)));
}

host::HostDispatcher& currentDispatcher() { return dispatcherOf(currentEngine()); }

void addPath(const std::string& folder) { currentDispatcher().addPath(folder); }
void removePath(const std::string& folder) { currentDispatcher().removePath(folder); }
std::vector<std::string> path() { return currentDispatcher().path(); }
bool clear(const std::string& name) { return currentDispatcher().clear(name); }
void clearAll() { currentDispatcher().clearAll(); }

}  // namespace vhost
