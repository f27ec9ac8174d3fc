#include "vhost/ry/registry.hpp"

#include <mutex>
#include <unordered_set>

namespace vhost::ry::registry {
namespace {

struct Live {
    std::mutex mutex;
    std::unordered_set<const void*> arrays;
    std::unordered_set<const void*> blocks;
};

// Never destroyed: arrays may still be released by other static destructors at exit.
Live& live() {
    static Live* instance = new Live;
    return *instance;
}

}  // namespace

void addArray(const ryArray* array) {
    Live& l = live();
    std::lock_guard lock(l.mutex);
    l.arrays.insert(array);
}

bool removeArray(const ryArray* array) noexcept {
    Live& l = live();
    std::lock_guard lock(l.mutex);
    return l.arrays.erase(array) != 0;
}

bool hasArray(const ryArray* array) noexcept {
    Live& l = live();
    std::lock_guard lock(l.mutex);
    return l.arrays.count(array) != 0;
}

void addBlock(const void* data) {
    Live& l = live();
    std::lock_guard lock(l.mutex);
    l.blocks.insert(data);
}

bool removeBlock(const void* data) noexcept {
    Live& l = live();
    std::lock_guard lock(l.mutex);
    return l.blocks.erase(data) != 0;
}

bool hasBlock(const void* data) noexcept {
    Live& l = live();
    std::lock_guard lock(l.mutex);
    return l.blocks.count(data) != 0;
}

std::size_t arrayCount() noexcept {
    Live& l = live();
    std::lock_guard lock(l.mutex);
    return l.arrays.size();
}

std::size_t blockCount() noexcept {
    Live& l = live();
    std::lock_guard lock(l.mutex);
    return l.blocks.size();
}

}  // namespace vhost::ry::registry
