// Workspaces of one engine: "base" and "global"; evalin makes one current for a while. A module
// has no workspace of its own: the one current when it was called is its "caller". A workspace owns
// its values (untracked arrays, so no context exit can free them). A variable declared global in
// a workspace reads and writes the global workspace's variable of that name.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/host_api.hpp"
#include "vhost/lang/values.hpp"

namespace vhost::lang {

class HOST_API Workspace {
public:
    explicit Workspace(Workspace* global) : m_global(global) {}

    // The value of `name` (following a global link), or null.
    const ryArray* find(const std::string& name) const;
    // Stores `value` (takes it), replacing any earlier value.
    void assign(const std::string& name, Value value);
    // Declares `name` global here: the global variable is created empty when it does not exist,
    // and a local value of that name is dropped.
    void declareGlobal(const std::string& name);
    // Removes the variable (or the global link); answers whether there was one.
    bool remove(const std::string& name);
    void clear();
    std::vector<std::string> names() const;

private:
    Workspace* m_global;  // null for the global workspace itself
    std::map<std::string, Value> m_values;
    std::set<std::string> m_globals;
};

class HOST_API Workspaces {
public:
    Workspaces();
    Workspace& base() noexcept { return m_base; }
    Workspace& global() noexcept { return m_global; }
    // The workspace statements run in now.
    Workspace& current() noexcept { return *m_stack.back(); }
    // The workspace the current one was entered from (base at the bottom).
    Workspace& caller() noexcept { return m_stack.size() < 2 ? m_base : *m_stack[m_stack.size() - 2]; }
    // "base", "caller" or "global" as the language means them; raises "VELTRA:unknownWorkspace"
    // for any other name.
    Workspace& named(const std::string& name);
    // Null instead of raising.
    Workspace* find(const std::string& name);
    // As a running module means them: its "caller" is the current workspace.
    Workspace* forModule(const std::string& name) { return name == "caller" ? &current() : find(name); }

    void push(Workspace& workspace) { m_stack.push_back(&workspace); }
    void pop() { m_stack.pop_back(); }

private:
    Workspace m_global{nullptr};
    Workspace m_base{&m_global};
    std::vector<Workspace*> m_stack;
};

// The calling thread's engine's workspaces.
HOST_API Workspaces& workspaces();

// Makes `workspace` current for the scope's lifetime.
class HOST_API WorkspaceScope {
public:
    explicit WorkspaceScope(Workspace& workspace) { workspaces().push(workspace); }
    ~WorkspaceScope() { workspaces().pop(); }
    WorkspaceScope(const WorkspaceScope&) = delete;
    WorkspaceScope& operator=(const WorkspaceScope&) = delete;
};

}  // namespace vhost::lang
