/* module_version.h: the version function of an example module.
 *
 * A module built for the interleaved-complex interface must say which release and interface it
 * was built for; the runtime and `orb check` read it from the exported function
 * orbfilerequiredapiversion. The build tool embeds that statement itself; a module compiled with
 * a plain C compiler, as the examples are, defines the function by hand: include this header in
 * exactly one source file of the module. */
#ifndef EXAMPLES_MODULE_VERSION_H
#define EXAMPLES_MODULE_VERSION_H

#include <stdint.h>

#include "ry.h"

#if RY_INTERFACE_VERSION != 800
#error "module_version.h describes modules built for the interleaved-complex interface (800)"
#endif

/* Release R2024b, spelled in hexadecimal nibbles, and interface generation 800. */
__attribute__((visibility("default"))) void orbfilerequiredapiversion(uint32_t *release, uint32_t *interfaceVersion) {
    *release = 0x2024B;
    *interfaceVersion = 0x08000000;
}

#endif
