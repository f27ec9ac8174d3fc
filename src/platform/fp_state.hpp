// Reading the floating-point state directly, to tell whether a module call changed it.
#pragma once

#include <cstdint>
#include <cstring>

#include "host/ut.hpp"

namespace orb::platform {

static_assert(sizeof(host::utFpControl) == sizeof(std::uint64_t), "the state is compared as one word");

// The calling thread's floating-point control state, as host::ut_fnstcw answers it, read here
// because every module call saves it: stored straight into `into`, so that a scope saves it into
// its own member without a copy.
inline void saveFpState(host::utFpControl& into) noexcept {
#if defined(__x86_64__) || defined(__i386__)
    // The bytes between the two fields too, so that fpStateUnchangedSince compares one word.
    const std::uint64_t zero = 0;
    std::memcpy(static_cast<void*>(&into), &zero, sizeof into);
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
    // Both control words read into one zeroed word laid out as `saved`, and compared whole. MXCSR
    // equal to the saved value: its flags are the caller's own, which the restore would put back
    // anyway.
    host::utFpControl now;
    saveFpState(now);
    std::uint64_t nowWord;
    std::uint64_t savedWord;
    std::memcpy(&nowWord, &now, sizeof nowWord);
    std::memcpy(&savedWord, &saved, sizeof savedWord);
    if (nowWord != savedWord) return false;
    std::uint16_t status;
    __asm__ __volatile__("fnstsw %0" : "=am"(status));
    return (status & kX87Pending) == 0;
#else
    (void)saved;
    return false;
#endif
}

}  // namespace orb::platform
