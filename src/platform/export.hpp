// Symbol visibility of liborb. The library is built with hidden visibility; ORB_API marks the
// names the host and modules may use. ORB_ALIAS gives an exported name a second name at the same
// address (one entry, two names), which is how the older-generation and Fortran spellings exist.
#pragma once

#if defined(_WIN32)
#  define ORB_API __declspec(dllexport)
#  define ORB_ALIAS(target) /* Windows: aliases come from the .def file */
#else
#  define ORB_API __attribute__((visibility("default")))
#  define ORB_ALIAS(target) __attribute__((alias(#target), visibility("default")))
#endif
