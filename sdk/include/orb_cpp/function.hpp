// The base class of a C++ module's function object.
//
// Derive from Function, implement operator(), and include orb_cpp/module_entry.hpp once, after
// the class (named OrbFunction, or define ORB_FUNCTION_CLASS to its name first). The runtime
// makes one object when it loads the module, calls it for every call of the module, and destroys
// it when the module is cleared, so members keep state between calls.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "orb_cpp/array.hpp"
#include "orb_cpp/engine.hpp"
#include "orb_cpp/services.h"

namespace orb::cpp {

using orb::data::Array;

// A view of the call's inputs or outputs. Outputs start empty; assign the ones you produce, in
// order (the caller sees the leading assigned ones).
class ArgumentList {
public:
    ArgumentList(std::vector<Array>& list) noexcept : m_list(&list) {}
    std::size_t size() const noexcept { return m_list->size(); }
    bool empty() const noexcept { return m_list->empty(); }
    Array& operator[](std::size_t index) {
        if (index >= m_list->size()) throw Exception("orb:cpp:argumentIndex", "Index exceeds the number of arguments.");
        return (*m_list)[index];
    }
    std::vector<Array>::iterator begin() noexcept { return m_list->begin(); }
    std::vector<Array>::iterator end() noexcept { return m_list->end(); }

private:
    std::vector<Array>* m_list;
};

class Function {
public:
    Function() : m_handle(orbGetFunctionImpl()) {}
    virtual ~Function() { orbDestroyFunctionImpl(m_handle); }
    Function(const Function&) = delete;
    Function& operator=(const Function&) = delete;

    virtual void operator()(ArgumentList outputs, ArgumentList inputs) = 0;

    std::shared_ptr<Engine> getEngine() const { return std::make_shared<Engine>(cpporb_getEngine(m_handle)); }

    // The name the function is being called under.
    std::u16string getFunctionName() const {
        char16_t* block = cpporb_getFunctionName(m_handle);
        std::u16string name = block ? block : u"";
        orbReleaseMemory(block, nullptr);
        return name;
    }

    // Keeps the module loaded through clears until unlock (lock and unlock are not counted).
    void lock() { checked(&cpporb_orbLock_with_error_check); }
    void unlock() { checked(&cpporb_orbUnlock_with_error_check); }

private:
    void checked(void (*service)(void*, int*)) {
        int errorType = 0;
        service(m_handle, &errorType);
        if (errorType == 5) throw ThreadMismatchException();
    }

    void* m_handle;
};

}  // namespace orb::cpp
