/* Modules that export the version function under different spellings, compiled once per
 * combination of VF_LOWER, VF_UPPER, VF_UNDERSCORE and VF_SILENT. Each spelling reports a
 * different version, so a caller's result shows which spelling it found. */
#include <stdint.h>

#define EXPORT __attribute__((visibility("default")))

#ifdef VF_LOWER
EXPORT void orbfilerequiredapiversion(uint32_t* relnum, uint32_t* apinum) {
    *relnum = 0x2018A;
    *apinum = 0x08000000;
}
#endif

#ifdef VF_UPPER
EXPORT void ORBFILEREQUIREDAPIVERSION(uint32_t* relnum, uint32_t* apinum) {
    *relnum = 0x2017B;
    *apinum = 0x07300000;
}
#endif

#ifdef VF_UNDERSCORE
EXPORT void orbfilerequiredapiversion_(uint32_t* relnum, uint32_t* apinum) {
    *relnum = 0x2016B;
    *apinum = 0x07000000;
}
#endif

#ifdef VF_SILENT
/* Declares a version function but reports nothing. */
EXPORT void orbfilerequiredapiversion(uint32_t* relnum, uint32_t* apinum) {
    (void)relnum;
    (void)apinum;
}
#endif

EXPORT int versionfn_marker = 1;
