// Floating-point control state on x86-64: the x87 control word (precision, rounding, exception
// masks) and the SSE control and status register. Both must be handled: compilers use SSE for
// double arithmetic, but x87 code (long double, old Fortran libraries) reads the control word.
#include "host/ut.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#else
#include <cfenv>
#endif

namespace host {

#if defined(__x86_64__) || defined(__i386__)

namespace {
// The six exception flags (invalid, denormal, divide-by-zero, overflow, underflow, precision).
constexpr std::uint32_t kMxcsrExceptionFlags = 0x3F;
}  // namespace

utFpControl ut_fnstcw() {
    utFpControl control;
    __asm__ __volatile__("fnstcw %0" : "=m"(control.x87));
    control.mxcsr = _mm_getcsr();
    return control;
}

void ut_fldcw(utFpControl control) {
    __asm__ __volatile__("fldcw %0" : : "m"(control.x87));
    _mm_setcsr(control.mxcsr);
}

void ut_fnclex() {
    __asm__ __volatile__("fnclex");
    _mm_setcsr(_mm_getcsr() & ~kMxcsrExceptionFlags);
}

#else

// Elsewhere only the rounding mode is portable; it travels in the mxcsr field.
utFpControl ut_fnstcw() {
    utFpControl control;
    control.mxcsr = static_cast<std::uint32_t>(std::fegetround());
    return control;
}

void ut_fldcw(utFpControl control) { std::fesetround(static_cast<int>(control.mxcsr)); }

void ut_fnclex() { std::feclearexcept(FE_ALL_EXCEPT); }

#endif

}  // namespace host
