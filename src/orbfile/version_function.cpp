#include "orbfile/version_function.hpp"

#include <utility>

#include "capi/scopes.hpp"
#include "host/ut.hpp"

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

orb::platform::ModuleOutcome callVersionFunction(VersionFunction function, std::uint32_t& relnum,
                                                 std::uint32_t& apinum) {
    relnum = 0;
    apinum = 0;
    // The module may not change the caller's floating-point state.
    orb::capi::FloatingPointScope fpScope;
    orb::platform::ModuleOutcome outcome = orb::platform::callModuleCode([&] { function(&relnum, &apinum); });
    if (!outcome) relnum = apinum = 0;
    return outcome;
}

bool readModuleVersionFunction(void* handle, std::uint32_t& relnum, std::uint32_t& apinum,
                               orb::platform::ModuleOutcome* outcome) {
    relnum = 0;
    apinum = 0;
    const VersionFunction function = findVersionFunction(handle);
    if (function == nullptr) return false;
    orb::platform::ModuleOutcome ended = callVersionFunction(function, relnum, apinum);
    if (outcome) *outcome = std::move(ended);
    return true;
}

}  // namespace orbfile
