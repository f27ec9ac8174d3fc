// Reading the floating-point state directly, to tell whether a module call changed it.
#pragma once

#include <cstdint>

#include "host/ut.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace orb::platform {

// The calling thread's floating-point control state, as host::ut_fnstcw answers it, read here
// because every module call saves it: stored straight into `into`, so that a scope saves it into
// its own member without a copy.
inline void saveFpState(host::utFpControl& into) noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __asm__ __volatile__("fnstcw %0" : "=m"(into.x87));
    __asm__ __volatile__("stmxcsr %0" : "=m"(into.mxcsr));
#else
    into = host::ut_fnstcw();
#endif
}

// True when the calling thread's floating-point state is exactly `saved` (as host::ut_fnstcw
// gave it) and no x87 exception is pending, so that clearing the flags and loading `saved` again
// (host::ut_fnclex, then host::ut_fldcw) would leave every register as it is. Clearing the x87
// flags and loading MXCSR stall the floating-point unit, and nearly every module call leaves the
// state alone, so the call frame skips both then. False wherever the state cannot be read here;
// the caller then restores as always.
inline bool fpStateUnchangedSince(const host::utFpControl& saved) noexcept {
#if defined(__x86_64__) || defined(__i386__)
    // Exactly what fnclex clears: the six exception flags, stack fault, error summary and busy.
    constexpr std::uint16_t kX87Pending = 0x80FF;
    std::uint16_t control;
    std::uint16_t status;
    __asm__ __volatile__("fnstcw %0" : "=m"(control));
    __asm__ __volatile__("fnstsw %0" : "=am"(status));
    // MXCSR equal to the saved value: its flags are the caller's own, which the restore would put
    // back anyway.
    return control == saved.x87 && (status & kX87Pending) == 0 && _mm_getcsr() == saved.mxcsr;
#else
    (void)saved;
    return false;
#endif
}

}  // namespace orb::platform
