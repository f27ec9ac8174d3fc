// Every message identifier of the library's catalogue, as a tag type.
//
// An identifier "A:b:mnemonic" is the type A::b::mnemonic, carrying its component, its mnemonic
// and the number of arguments its catalogue text takes ({0}, {1}, ...). An error is raised as the
// host's typed exception, `host::MsgIdException<VELTRA::orb::ErrOutOfMem>(path)` (see
// capi/raise.hpp), which lets a caller catch exactly that identifier. Texts that are only
// formatted, never raised, have tags too, so that every identifier the library uses is declared
// once, here, and has a catalogue text (resources/messages/orb.json; the test suite checks both
// directions against ORB_MESSAGE_IDS).
#pragma once

#include <string>

#include "host/exceptions.hpp"

// X2(first, second, mnemonic, argument count) for identifiers of a two-part component;
// X3(first, second, third, mnemonic, argument count) for a three-part component.
#define ORB_MESSAGE_IDS(X2, X3)                                                                   \
    /* C services. assertion: annotation, message, file name, line, stack text. */               \
    X2(VELTRA, orbapi, invalidErrorIdentifier, 0)                                                 \
    X2(VELTRA, orbapi, invalidWarningIdentifier, 0)                                               \
    X2(VELTRA, orb, assertion, 5)                                                                 \
    /* Loading: the module's full path first; then the loader's reason, or the release the */    \
    /* module was built for, or (OrbLoaded) the entry point's address. */                        \
    X2(VELTRA, orb, ErrInvalidORBFile, 2)                                                         \
    X2(VELTRA, orb, ErrInvalidCPPORBFile, 1)                                                      \
    X2(VELTRA, orb, ErrOutOfMem, 1)                                                               \
    X2(VELTRA, orb, MsgIncompatRel, 2)                                                            \
    X2(VELTRA, orb, MsgNoEntryPoint, 0)                                                           \
    X2(VELTRA, orb, OrbLoaded, 2)                                                                 \
    X2(VELTRA, orb, IssueContinue, 0)                                                             \
    /* Calling a module a machine fault stopped: its function name, the fault's identifier. */    \
    X2(VELTRA, orb, ModuleFaulted, 2)                                                             \
    /* Unloading (warnings): the full path, and the text of the error the clean-up raised. */    \
    X2(VELTRA, orb, CppOrbFailedToCleanupError, 2)                                                \
    X2(VELTRA, orb, CppOrbFailedToCleanup, 1)                                                     \
    X2(VELTRA, atExit, FailedToCleanupError, 2)                                                   \
    X2(VELTRA, atExit, FailedToCleanup, 1)                                                        \
    /* A cleared module whose library stays mapped: the file it was mapped from, and why. */      \
    X2(VELTRA, orb, UnloadCodeFailed, 2)                                                          \
    X2(VELTRA, orb, UnloadCodeWaits, 2)                                                           \
    /* Foreign exceptions leaving a module: the outer error carries one of the inner texts. */   \
    X2(VELTRA, legacy_two_part, unexpectedCPPexception, 1)                                        \
    X2(VELTRA, legacy_two_part, unexpectedVELTRAException, 0)                                     \
    X2(VELTRA, legacy_two_part, unexpectedStandardException, 1)                                   \
    X2(VELTRA, legacy_two_part, unexpectedCharException, 1)                                       \
    X2(VELTRA, legacy_two_part, unexpectedUnkException, 0)                                        \
    /* The version report built-in. */                                                           \
    X2(VELTRA, legacy_two_part, badopt, 0)                                                        \
    X2(VELTRA, orb, invalidArgument, 0)                                                           \
    /* Refused on the thread pool (raised under the error identifier below). */                  \
    X3(VELTRA, mtasks, constraints, DisallowedOrbFunction, 0)                                     \
    /* C++ modules: function name; variable name and workspace; property name. */                \
    X2(VELTRA, orb, CppOrbErrorWithNoIDOrMsg, 0)                                                  \
    X2(VELTRA, orb, CppOrbThreadMismatch, 0)                                                      \
    X2(VELTRA, orb, CppOrbFevalError, 1)                                                          \
    X2(VELTRA, orb, CppOrbGetVariableError, 2)                                                    \
    X2(VELTRA, orb, CppOrbSetVariableError, 2)                                                    \
    X2(VELTRA, orb, CppOrbNotObjectError, 0)                                                      \
    X2(VELTRA, orb, CppOrbIndexExceedsBounds, 0)                                                  \
    X2(VELTRA, orb, CppOrbGetPropertyError, 1)                                                    \
    X2(VELTRA, orb, CppOrbSetPropertyError, 1)                                                    \
    /* Module-file diagnosis (formatted, never raised): path; then the two build options */      \
    /* (ELNKAPI, EVERAPI), the release text (EUNKAPI) or one build option (ELNKCPP). */          \
    X2(VELTRA, orb, ENONAME_reason, 0)                                                            \
    X2(VELTRA, orb, ENOFILE_reason, 1)                                                            \
    X2(VELTRA, orb, ENOREAD_reason, 1)                                                            \
    X2(VELTRA, orb, ENOREAD_action, 0)                                                            \
    X2(VELTRA, orb, ENOTORB_reason, 1)                                                            \
    X2(VELTRA, orb, ENOTORB_action, 0)                                                            \
    X2(VELTRA, orb, ELNKAPI_reason, 3)                                                            \
    X2(VELTRA, orb, ELNKAPI_action, 0)                                                            \
    X2(VELTRA, orb, EVERAPI_reason, 3)                                                            \
    X2(VELTRA, orb, EVERAPI_action, 0)                                                            \
    X2(VELTRA, orb, EUNKAPI_reason, 2)                                                            \
    X2(VELTRA, orb, EUNKAPI_action, 0)                                                            \
    X2(VELTRA, orb, ELNKCPP_reason, 2)                                                            \
    X2(VELTRA, orb, ELNKCPP_action, 0)                                                            \
    X2(VELTRA, orb, ENOEVER_reason, 1)                                                            \
    X2(VELTRA, orb, ENOEVER_action, 0)                                                            \
    X2(VELTRA, orb, URECOMP_reason, 1)                                                            \
    X2(VELTRA, orb, URECOMP_action, 0)                                                            \
    X2(VELTRA, orb, ULATEST_reason, 1)                                                            \
    X2(VELTRA, orb, ULATEST_action, 0)                                                            \
    X2(VELTRA, orb, UCOMPAT_reason, 1)                                                            \
    X2(VELTRA, orb, UCOMPAT_action, 0)                                                            \
    X2(VELTRA, orb, ULEGACY_reason, 1)                                                            \
    X2(VELTRA, orb, ULEGACY_action, 0)                                                            \
    X2(VELTRA, orb, UENTRYP_reason, 1)                                                            \
    X2(VELTRA, orb, UENTRYP_action, 0)                                                            \
    /* A C++ module's create entry point made nothing and reported nothing. */                    \
    X2(VELTRA, orb, MsgNoFunctionObject, 0)                                                       \
    /* A service refused an argument before using it: the service, what was wrong. */             \
    X2(VELTRA, orbapi, invalidArgument, 2)                                                        \
    /* Asynchronous requests of C++ modules. CallbackFaulted: the module's function name, the */ \
    /* fault's identifier. EngineHeld: the function whose call holds the engine, the seconds */  \
    /* the request waited. */                                                                    \
    X2(VELTRA, orbapi, CallbackFaulted, 2)                                                        \
    X2(VELTRA, orbapi, EngineHeld, 2)                                                             \
    /* Load readiness, for files the loader refuses: path; then what is wrong (EBADBIN, */      \
    /* EPLATFM), the missing C++ entry point (ECPPENT), the system loader's reason (ENOLOAD) or */ \
    /* how the start-up code failed (ESTARTUP). */                                               \
    X2(VELTRA, orb, EBADBIN_reason, 2)                                                            \
    X2(VELTRA, orb, EBADBIN_action, 0)                                                            \
    X2(VELTRA, orb, EPLATFM_reason, 2)                                                            \
    X2(VELTRA, orb, EPLATFM_action, 0)                                                            \
    X2(VELTRA, orb, ECPPENT_reason, 2)                                                            \
    X2(VELTRA, orb, ECPPENT_action, 0)                                                            \
    X2(VELTRA, orb, ENOENTP_reason, 1)                                                            \
    X2(VELTRA, orb, ENOENTP_action, 0)                                                            \
    X2(VELTRA, orb, ENOLOAD_reason, 2)                                                            \
    X2(VELTRA, orb, ENOLOAD_action, 0)                                                            \
    X2(VELTRA, orb, ESTARTUP_reason, 2)                                                           \
    X2(VELTRA, orb, ESTARTUP_action, 0)

#define ORB_DECLARE_MESSAGE_ID2(a, b, m, n)                       \
    namespace a::b {                                              \
    struct m {                                                    \
        static constexpr const char* component = #a ":" #b;       \
        static constexpr const char* mnemonic = #m;               \
        static constexpr int argumentCount = n;                   \
    };                                                            \
    }
#define ORB_DECLARE_MESSAGE_ID3(a, b, c, m, n)                    \
    namespace a::b::c {                                           \
    struct m {                                                    \
        static constexpr const char* component = #a ":" #b ":" #c; \
        static constexpr const char* mnemonic = #m;               \
        static constexpr int argumentCount = n;                   \
    };                                                            \
    }

ORB_MESSAGE_IDS(ORB_DECLARE_MESSAGE_ID2, ORB_DECLARE_MESSAGE_ID3)

#undef ORB_DECLARE_MESSAGE_ID2
#undef ORB_DECLARE_MESSAGE_ID3

namespace orb::capi {

// The full identifier of a tag, "component:mnemonic".
template <class Tag>
std::string messageIdentifier() {
    return std::string(Tag::component) + ":" + Tag::mnemonic;
}

// A refused thread-pool call shows the catalogue text of DisallowedOrbFunction but is reported
// to the user under this error identifier.
inline constexpr const char* kDisallowedOrbFunctionErrorId = "parallel:threadpool:DisallowedOrbFunction";

}  // namespace orb::capi
