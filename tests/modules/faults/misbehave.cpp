// A module that misbehaves in the way its first input names, for the fault-containment table of
// tests/faults. Before it misbehaves it changes what every call must undo: the rounding mode, an
// output, tracked memory and arrays. Built without sanitizers, as code the host does not control.
#include <cfenv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <xmmintrin.h>

#include <orb.h>

namespace {

// Unknown to the compiler, so nothing below is folded away.
volatile int g_zero = 0;
volatile int g_seven = 7;
void (*volatile g_nothing)() = nullptr;

#pragma GCC diagnostic ignored "-Winfinite-recursion"
int recurse(volatile char* previous) {
    volatile char frame[4096];
    frame[0] = previous ? previous[0] + 1 : 0;
    return recurse(frame) + frame[1];
}

void raisingExit() { orbErrMsgIdAndTxt("misbehave:exit", "the exit function failed"); }
int* volatile g_null = nullptr;
void faultingExit() { *g_null = 1; }

bool is(const char* what, const char* name) { return std::strcmp(what, name) == 0; }

}  // namespace

extern "C" __attribute__((visibility("default"))) void orbFunction(int, ryArray* plhs[], int nrhs,
                                                                   const ryArray* prhs[]) {
    const char* what = nrhs > 0 ? ryArrayToString(prhs[0]) : "";
    std::fesetround(FE_UPWARD);
    plhs[0] = ryCreateDoubleMatrix(10, 10, ryREAL);
    ryMalloc(4096);

    if (is(what, "null read")) {
        plhs[0] = ryCreateDoubleScalar(*static_cast<volatile int*>(nullptr));
    } else if (is(what, "wild write")) {
        // The module's own code is mapped, but not writable.
        *reinterpret_cast<volatile unsigned char*>(reinterpret_cast<std::uintptr_t>(&recurse)) = 0xCC;
    } else if (is(what, "null call")) {
        g_nothing();
    } else if (is(what, "recursion")) {
        plhs[0] = ryCreateDoubleScalar(recurse(nullptr));
    } else if (is(what, "division")) {
        plhs[0] = ryCreateDoubleScalar(g_seven / g_zero);
    } else if (is(what, "illegal")) {
        __builtin_trap();
    } else if (is(what, "abort")) {
        std::abort();
    } else if (is(what, "throw standard")) {
        throw std::runtime_error("a standard exception");
    } else if (is(what, "throw text")) {
        throw "a text";
    } else if (is(what, "throw int")) {
        throw 7;
    } else if (is(what, "raise")) {
        orbErrMsgIdAndTxt("misbehave:raised", "raised by %s", "the module");
    } else if (is(what, "fp state")) {
        // Every exception unmasked, and an invalid operation left pending for the host to trip on.
        _MM_SET_EXCEPTION_MASK(0);
        _MM_SET_EXCEPTION_STATE(_MM_EXCEPT_INVALID);
        std::uint16_t x87;
        __asm__ volatile("fnstcw %0" : "=m"(x87));
        x87 = static_cast<std::uint16_t>((x87 & ~0x3Fu & ~0x300u) | 0x0C00u);  // unmasked, single, toward zero
        __asm__ volatile("fldcw %0" : : "m"(x87));
    } else if (is(what, "leak")) {
        for (int i = 0; i < 100; ++i) {
            ryMalloc(64);
            ryCalloc(8, 8);
            ryCreateDoubleMatrix(3, 3, ryREAL);
            ryCreateString("never destroyed");
        }
    } else if (is(what, "lock")) {
        orbLock();
    } else if (is(what, "unlock")) {
        orbUnlock();
    } else if (is(what, "call faulting")) {
        // Another module's fault passes through this one, untrapped, as that module's error.
        ryArray* none[1] = {nullptr};
        orbCallVELTRA(0, none, 0, nullptr, "fault_null");
    } else if (is(what, "exit raises")) {
        orbAtExit(raisingExit);
    } else if (is(what, "exit faults")) {
        orbAtExit(faultingExit);
    } else if (is(what, "clear null")) {
        // Nothing to clear: answered, not faulted.
        if (orbClearOrbFile(nullptr) != 0) orbErrMsgIdAndTxt("misbehave:cleared", "a null record was cleared");
    } else if (is(what, "services after error")) {
        // A trapped host error, then a failed call with the trap flag set; the services must still
        // work afterwards: the output is twice(21) called through the host.
        ryArray* error = orbEvalStringWithTrap("error('misbehave:inner', 'inner failure')");
        orbSetTrapFlag(1);
        ryArray* none[1] = {nullptr};
        const int failed = orbCallVELTRA(1, none, 0, nullptr, "error");
        ryArray* input = ryCreateDoubleScalar(21);
        ryArray* output[1] = {nullptr};
        orbSetTrapFlag(0);
        const int status = orbCallVELTRA(1, output, 1, &input, "twice");
        orbPrintf("%s", "");
        plhs[0] = ryCreateDoubleScalar(error && failed != 0 && status == 0 && output[0] ? ryGetScalar(output[0]) : -1);
    }
    // Anything that returns answers whether this module is locked now.
    if (!is(what, "services after error")) plhs[0] = ryCreateDoubleScalar(orbIsLocked());
}
