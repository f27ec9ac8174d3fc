// The version function a module may export: it reports the release and the interface generation
// the module was built for. Finding it and running it are separate steps because running it runs
// module code, which must happen inside the machine-fault guard of module calls.
#pragma once

#include <cstdint>

#include "platform/export.hpp"

namespace orbfile {

// Fills the release number first and the interface number second.
using VersionFunction = void (*)(std::uint32_t* relnum, std::uint32_t* apinum);

// The module's version function under the first spelling it exports, in this order:
// "orbfilerequiredapiversion", "ORBFILEREQUIREDAPIVERSION", "orbfilerequiredapiversion_".
// Null when the handle is null or none is exported.
ORB_API VersionFunction findVersionFunction(void* handle);

// Runs module code: the one place every version-function call goes through. `function` is not
// null. Both outputs are 0 before the call, so a function that writes nothing reports "no version".
ORB_API void callVersionFunction(VersionFunction function, std::uint32_t& relnum, std::uint32_t& apinum);

// Both steps. Outputs are 0 when the module exports no version function; answers whether it does.
ORB_API bool readModuleVersionFunction(void* handle, std::uint32_t& relnum, std::uint32_t& apinum);

}  // namespace orbfile
