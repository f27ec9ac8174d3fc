#include "vhost/lang/workspace.hpp"

#include "host/ry.hpp"
#include "host/storage.hpp"

namespace vhost::lang {

const ryArray* Workspace::find(const std::string& name) const {
    if (m_global && m_globals.count(name)) return m_global->find(name);
    auto found = m_values.find(name);
    return found == m_values.end() ? nullptr : found->second.get();
}

void Workspace::assign(const std::string& name, Value value) {
    if (m_global && m_globals.count(name)) {
        // A global variable's value says so (its scope), for services that ask.
        host::rySetArrayScope(value.get(), ryGLOBAL_SCOPE);
        return m_global->assign(name, std::move(value));
    }
    m_values[name] = std::move(value);
}

void Workspace::declareGlobal(const std::string& name) {
    if (!m_global) return;
    m_values.erase(name);
    m_globals.insert(name);
    if (!m_global->find(name)) {
        Value empty = makeEmpty();
        host::rySetArrayScope(empty.get(), ryGLOBAL_SCOPE);
        m_global->assign(name, std::move(empty));
    }
}

bool Workspace::remove(const std::string& name) { return m_globals.erase(name) + m_values.erase(name) > 0; }

void Workspace::clear() {
    m_globals.clear();
    m_values.clear();
}

std::vector<std::string> Workspace::names() const {
    std::set<std::string> all(m_globals);
    for (const auto& entry : m_values) all.insert(entry.first);
    return {all.begin(), all.end()};
}

Workspaces::Workspaces() { m_stack.push_back(&m_base); }

Workspace* Workspaces::find(const std::string& name) {
    if (name == "base") return &m_base;
    if (name == "caller") return &caller();
    if (name == "global") return &m_global;
    return nullptr;
}

Workspace& Workspaces::named(const std::string& name) {
    if (Workspace* workspace = find(name)) return *workspace;
    fail("VELTRA:unknownWorkspace", "There is no workspace named '" + name + "'; use 'base', 'caller' or 'global'.");
}

Workspaces& workspaces() {
    static const host::storage::Key key = host::storage::getNextID(typeid(Workspaces));
    return host::storage::getOrCreate<Workspaces>(key);
}

}  // namespace vhost::lang
