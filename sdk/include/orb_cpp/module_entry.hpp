// The three entry points of a C++ module. Include once, in one source file, after the definition
// of the module's function class (OrbFunction, or ORB_FUNCTION_CLASS).
//
// Errors never cross into the runtime as exceptions: an orb::cpp::Exception becomes an error with
// its identifier and message, any other std::exception an error with its what() text, and
// anything else an error without identifier or message.
#pragma once

#include <vector>

#include "orb_cpp/function.hpp"

#ifndef ORB_FUNCTION_CLASS
#define ORB_FUNCTION_CLASS OrbFunction
#endif

namespace orb::cpp::detail {

using ErrorCallback = void (*)(const char* message, const char* identifier);
using OutputCallback = void (*)(int count, void** arrays);

template <class Body>
void reportingErrors(ErrorCallback error, Body&& body) noexcept {
    try {
        body();
    } catch (const Exception& e) {
        error(e.getMessageText().c_str(), e.getMessageID().c_str());
    } catch (const std::exception& e) {
        error(e.what(), "");
    } catch (...) {
        error("", "");
    }
}

}  // namespace orb::cpp::detail

extern "C" __attribute__((visibility("default"))) void* orbCreateOrbFunction(orb::cpp::detail::ErrorCallback error) {
    void* function = nullptr;
    orb::cpp::detail::reportingErrors(error, [&] {
        function = static_cast<orb::cpp::Function*>(new ORB_FUNCTION_CLASS());
    });
    return function;
}

extern "C" __attribute__((visibility("default"))) void orbDestroyOrbFunction(void* function,
                                                                           orb::cpp::detail::ErrorCallback error) {
    orb::cpp::detail::reportingErrors(error, [&] { delete static_cast<orb::cpp::Function*>(function); });
}

extern "C" __attribute__((visibility("default"))) void orbFunctionAdapter(
    int nlhs, int capacity, int nrhs, void** prhs, void* function, orb::cpp::detail::OutputCallback output,
    orb::cpp::detail::ErrorCallback error) {
    orb::cpp::detail::reportingErrors(error, [&] {
        std::vector<orb::data::Array> inputs;
        for (int i = 0; i < nrhs; ++i) inputs.push_back(orb::data::Array::share(prhs[i]));
        // With no output requested there is still room for one value.
        std::vector<orb::data::Array> outputs(static_cast<std::size_t>(nlhs > 0 ? nlhs : 1));
        (*static_cast<orb::cpp::Function*>(function))(outputs, inputs);
        std::vector<void*> handed;
        for (const auto& out : outputs) {
            if (!out || static_cast<int>(handed.size()) == capacity) break;
            handed.push_back(out.impl());
        }
        output(static_cast<int>(handed.size()), handed.data());
    });
}
