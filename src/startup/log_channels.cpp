#include "startup/log_channels.hpp"

namespace orb::startup {

// Function-local statics: a channel exists from its first use, whichever static initialiser of
// the library gets there first, and is created once even when threads race to it.

const host::log::DiagnosticLogger& embedMetadataLog() {
    static const host::log::DiagnosticLogger channel("orb::orbEmbedMetadataUtil");
    return channel;
}

const host::log::DiagnosticLogger& inspectorLog() {
    static const host::log::DiagnosticLogger channel("orb::orbfile_inspector");
    return channel;
}

const host::log::DiagnosticLogger& threadPoolSupportLog() {
    static const host::log::DiagnosticLogger channel("orb::ThreadPoolSupport");
    return channel;
}

const host::log::DiagnosticLogger& retrieveVersionLog() {
    static const host::log::DiagnosticLogger channel("orb::retrieve_version");
    return channel;
}

}  // namespace orb::startup
