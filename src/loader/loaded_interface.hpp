// Whether an already loaded module uses interleaved complex storage, asked of the library handle
// or of the dispatcher's function record. (For a module file on disk see retrieve_version.hpp.)
#pragma once

#include "host/dispatcher.hpp"
#include "platform/export.hpp"

namespace orbfile {

// From the version function of the loaded library `handle`: false for a null handle, for a
// module without a version function and for release 0; otherwise the host's answer for the
// interface it reports. Runs the module's version function (through the module boundary; a
// failure answers false).
ORB_API bool is_interleaved_complex(void* handle);

// From the load record of an orb function record; false for any other function record and for
// one whose module is not loaded.
ORB_API bool is_interleaved_complex(const host::HostFunctionHandleFile* function);

}  // namespace orbfile

// orbfile::is_interleaved_complex of a library handle: 1 for yes, 0 for no.
extern "C" ORB_API int orb_handle_is_interleaved_complex(void* handle);
