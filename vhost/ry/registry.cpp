#include "vhost/ry/registry.hpp"

#include <mutex>
#include <unordered_set>

namespace vhost::ry::registry {
namespace {

struct Live {
    std::mutex mutex;
    std::unordered_set<const void*> blocks;
};

// Never destroyed: blocks may still be freed by other static destructors at exit.
Live& live() {
    static Live* instance = new Live;
    return *instance;
}

}  // namespace

void addBlock(const void* data) {
    Live& l = live();
    std::lock_guard held(l.mutex);
    l.blocks.insert(data);
}

bool removeBlock(const void* data) noexcept {
    Live& l = live();
    std::lock_guard held(l.mutex);
    return l.blocks.erase(data) != 0;
}

bool hasBlock(const void* data) noexcept {
    Live& l = live();
    std::lock_guard held(l.mutex);
    return l.blocks.count(data) != 0;
}

std::size_t blockCount() noexcept {
    Live& l = live();
    std::lock_guard held(l.mutex);
    return l.blocks.size();
}

}  // namespace vhost::ry::registry
