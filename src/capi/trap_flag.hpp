// The trap flag the call services pass to the host's call slot.
//
// Exported for hosts that run their own strategies, and for the test suite.
#pragma once

#include "platform/export.hpp"

namespace orb::capi {

// The flag for a call made now: on a thread that runs inside an engine context, the engine's own
// flag (set by orbSetTrapFlag, cleared at the start of every module call); elsewhere the host's
// answer through slot 21 when it installed one, else false.
ORB_API bool chooseTrapFlag();

// Clears the calling engine's flag; every module call and every clear starts with this.
ORB_API void resetTrapFlag();

}  // namespace orb::capi
