// Output, errors and warnings for C modules.
//
// The four error and warning services hand their arguments to the host's callback when the host
// installed one, and then do nothing else: the host owns the whole behaviour. Only when the slot
// is empty do they validate, format and raise here. Every service is exported a second time with
// the suffix _800, as a true alias of the same entry, for modules of the interleaved-complex
// interface generation.
#include <cstdarg>
#include <cstddef>

#include <orb.h>

#include "capi/callback_table.hpp"
#include "capi/message_ids.hpp"
#include "capi/raise.hpp"
#include "host/exceptions.hpp"
#include "host/ry.hpp"
#include "host/ut.hpp"

namespace orb::capi {
namespace {

// Errors formatted here carry at most 8191 characters; the formatter cuts the rest.
constexpr std::size_t kMessageBufferSize = 8192;

const char* orEmpty(const char* text) noexcept { return text ? text : ""; }

void errorWithIdentifier(const char* identifier, const char* format, va_list args) {
    if (auto slot = installedSlot(&CallbackSlots::errMsgIdAndTxt)) {
        slot(identifier, format, args);
        return;
    }
    if (!host::utIsValidMessageIdentifier(identifier)) raiseError<VELTRA::orbapi::invalidErrorIdentifier>();
    char text[kMessageBufferSize];
    text[0] = '\0';  // stays empty should the format itself be unusable
    host::utVSNprintf(text, sizeof text, format, args);
    throw host::SimpleException(identifier, text);
}

void warningWithIdentifier(const char* identifier, const char* format, va_list args) {
    if (auto slot = installedSlot(&CallbackSlots::warnMsgIdAndTxt)) {
        slot(identifier, format, args);
        return;
    }
    if (!host::utIsValidMessageIdentifier(identifier)) raiseError<VELTRA::orbapi::invalidWarningIdentifier>();
    host::ryVWarningMsgIdAndTxt(identifier, orEmpty(format), args);
}

}  // namespace
}  // namespace orb::capi

extern "C" {

ORB_API int orbPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int count = host::utVprintf(format, args);
    va_end(args);
    return count;
}

ORB_API void orbErrMsgTxt(const char* message) {
    if (auto slot = orb::capi::installedSlot(&orb::capi::CallbackSlots::errMsgTxt)) {
        slot(message);
        return;
    }
    // Through "%s", so the message is shown verbatim: a percent sign in it is not a directive.
    host::ryErrMsgIdAndTxt("", "%s", orb::capi::orEmpty(message));
}

ORB_API void orbErrMsgIdAndTxt(const char* identifier, const char* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        orb::capi::errorWithIdentifier(identifier, format, args);
    } catch (...) {
        // The usual way out of the error services; the list must still be ended.
        va_end(args);
        throw;
    }
    va_end(args);
}

ORB_API void orbWarnMsgTxt(const char* message) {
    if (auto slot = orb::capi::installedSlot(&orb::capi::CallbackSlots::warnMsgTxt)) {
        slot(message);
        return;
    }
    host::ryWarningMsgIdAndTxt("", "%s", orb::capi::orEmpty(message));
}

ORB_API void orbWarnMsgIdAndTxt(const char* identifier, const char* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        orb::capi::warningWithIdentifier(identifier, format, args);
    } catch (...) {
        // The usual way out of the error services; the list must still be ended.
        va_end(args);
        throw;
    }
    va_end(args);
}

ORB_API int orbPrintf_800(const char*, ...) ORB_ALIAS(orbPrintf);
ORB_API void orbErrMsgTxt_800(const char*) ORB_ALIAS(orbErrMsgTxt);
ORB_API void orbErrMsgIdAndTxt_800(const char*, const char*, ...) ORB_ALIAS(orbErrMsgIdAndTxt);
ORB_API void orbWarnMsgTxt_800(const char*) ORB_ALIAS(orbWarnMsgTxt);
ORB_API void orbWarnMsgIdAndTxt_800(const char*, const char*, ...) ORB_ALIAS(orbWarnMsgIdAndTxt);

}  // extern "C"
