// Which modules may run on the host's thread pool. In tasks mode module calls run on background
// threads; a module is admitted there only when it is a C++ module and the host user has switched
// thread-pool support for C++ modules on (the feature "ThreadPoolCppOrb"). Modules written
// against the C interface keep global state and assume the engine's own thread, so they are
// never admitted. Whether the author declared the module safe there ("kv.orb.threadpoolSafe" 1,
// written by `orb build --threadpool-safe`) is logged and shown by `orb check --summary`; the
// switch, not the declaration, decides.
#pragma once

#include <string>

#include "platform/export.hpp"

namespace orb::loader {

// Whether the module file at `path` (full path, UTF-16) may be loaded for the thread pool. The
// file is read, never loaded: a C++ module is one that exports "orbFunctionAdapter". A file that
// cannot be read as a native module counts as not a C++ module. Each step is logged on the
// channel "orb::ThreadPoolSupport". Keeps no state; any thread.
ORB_API bool allowThisOrbOnThreadPool(const std::u16string& path);

}  // namespace orb::loader
