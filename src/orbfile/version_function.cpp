#include "orbfile/version_function.hpp"

#include "capi/scopes.hpp"
#include "host/ut.hpp"
#include "platform/fault_guard.hpp"

namespace orbfile {

namespace {

// The C spelling, then the two spellings Fortran compilers give the same routine.
constexpr const char* kVersionFunctionNames[] = {
    "orbfilerequiredapiversion",
    "ORBFILEREQUIREDAPIVERSION",
    "orbfilerequiredapiversion_",
};

}  // namespace

VersionFunction findVersionFunction(void* handle) {
    if (handle == nullptr) return nullptr;
    for (const char* name : kVersionFunctionNames) {
        if (void* symbol = host::utFindSymbolInLibrary(handle, name)) {
            return reinterpret_cast<VersionFunction>(symbol);
        }
    }
    return nullptr;
}

void callVersionFunction(VersionFunction function, std::uint32_t& relnum, std::uint32_t& apinum) {
    relnum = 0;
    apinum = 0;
    // Module code: a fault in it becomes a host error, and the module may not change the
    // caller's floating-point state.
    orb::capi::FloatingPointScope fpScope;
    orb::platform::callGuarded([&] { function(&relnum, &apinum); });
}

bool readModuleVersionFunction(void* handle, std::uint32_t& relnum, std::uint32_t& apinum) {
    relnum = 0;
    apinum = 0;
    const VersionFunction function = findVersionFunction(handle);
    if (function == nullptr) return false;
    callVersionFunction(function, relnum, apinum);
    return true;
}

}  // namespace orbfile
