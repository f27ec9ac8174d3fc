// The runtime's diagnostic log channels. They are created when the library loads and live until
// it unloads; each is safe to use from any thread. Nothing is logged unless the user switches a
// channel on (see host/log.hpp).
#pragma once

#include "host/log.hpp"
#include "startup/log_record.hpp"
#include "platform/export.hpp"

namespace orb::startup {

// "orb::orbEmbedMetadataUtil": the build-time metadata steps.
ORB_API const host::log::DiagnosticLogger& embedMetadataLog();
// "orb::orbfile_inspector": the module inspector.
ORB_API const host::log::DiagnosticLogger& inspectorLog();
// "orb::ThreadPoolSupport": thread-pool admission of modules.
ORB_API const host::log::DiagnosticLogger& threadPoolSupportLog();
// "orb::retrieve_version": reading a module's embedded version.
ORB_API const host::log::DiagnosticLogger& retrieveVersionLog();

}  // namespace orb::startup
