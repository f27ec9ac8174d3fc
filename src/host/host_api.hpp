// Symbol visibility of the host library. The reference host (libvhost) is built with hidden
// visibility; HOST_API marks what other libraries and programs may use: the host operations
// declared in this folder, which the runtime calls, and the reference host's interface for the
// application that embeds it (engines, the language, output capture, the dispatcher). An
// exception type whose type information only the host emits (it has an out-of-line virtual
// function) is marked whole, since catching it in another library needs that information; one
// without such a function is emitted by every library that uses it, so only its out-of-line
// members are marked. The module-facing C array functions are marked in <ry.h>.
#pragma once

#if defined(_WIN32)
#  if defined(HOST_BUILDING_LIBRARY)
#    define HOST_API __declspec(dllexport)
#  else
#    define HOST_API __declspec(dllimport)
#  endif
#else
#  define HOST_API __attribute__((visibility("default")))
#endif
