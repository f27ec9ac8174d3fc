#include "loader/loaded_interface.hpp"

#include <cstdint>

#include "host/ry.hpp"
#include "loader/orb_module_file.hpp"
#include "orbfile/version_function.hpp"

namespace orbfile {

bool is_interleaved_complex(void* handle) {
    if (!handle) return false;
    std::uint32_t relnum = 0;
    std::uint32_t apinum = 0;
    readModuleVersionFunction(handle, relnum, apinum);
    return relnum != 0 && host::is_interleaved_complex_version(apinum);
}

bool is_interleaved_complex(const host::HostFunctionHandleFile* function) {
    auto* orbFunction = dynamic_cast<const orb::loader::OrbFunctionHandle*>(function);
    if (!orbFunction || !orbFunction->loadRecord()) return false;
    return host::is_interleaved_complex_version(orbFunction->loadRecord()->targetApiVersion);
}

}  // namespace orbfile

int orb_handle_is_interleaved_complex(void* handle) { return orbfile::is_interleaved_complex(handle) ? 1 : 0; }
