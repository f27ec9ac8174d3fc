// Attaching the runtime (liborb) to the reference host: the host installs its callback table,
// registers the orb module factory with its dispatcher, and gives every engine a module-file
// reader. Tools and tests call attachRuntime() once before they run modules.
#pragma once

namespace vhost::boot {

// Idempotent and thread-safe. Acts on the calling thread's current engine now and on every
// engine created later.
void attachRuntime();

// Makes every engine answer the runtime's C++ requests through the host language (part of
// attachRuntime).
void installHostEngine();

}  // namespace vhost::boot
