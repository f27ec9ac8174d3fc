// One module call, and one module's load, first call and clear, each beside what the same work
// costs elsewhere: a plain function through a pointer (the floor), a C function of an extension
// module called through the Python C API, and a C function called with lua_call. And a call whose
// data is the work (a 1x1000 vector scaled), beside a plain function that mallocs its output and
// scales into it.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <setjmp.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <ry.h>

#include "host/dispatcher.hpp"
#include "host/i18n.hpp"
#include "loader/orb_module_file.hpp"
#include "vhost/boot/boot.hpp"

#ifdef ORB_BENCH_PYTHON
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#endif
#ifdef ORB_BENCH_LUA
#include <lua.hpp>
#endif

namespace {

const std::string kModule = ORB_BENCH_MODULE_DIR "/bench_twice.orbw64";
const std::string kScaleModule = ORB_BENCH_MODULE_DIR "/bench_scale.orbw64";
const std::string kBareLibrary = ORB_BENCH_MODULE_DIR "/libbench_bare_twice.so";
constexpr std::size_t kVector = 1000;

std::unique_ptr<host::HostModuleFile> makeModuleFile(const std::string& path = kModule) {
    vhost::boot::attachRuntime();
    return std::unique_ptr<host::HostModuleFile>(
        __construct_lm_orbw64(nullptr, host::i18n::to_ustring(path).c_str()));
}

orb::loader::OrbFunctionHandle& functionOf(host::HostModuleFile& file) {
    return *static_cast<orb::loader::OrbModuleFile&>(file).orbFunction();
}

// The whole call as a host makes it: the input made, the call frame, the output read and both freed.
__attribute__((noinline)) double callTwice(orb::loader::OrbFunctionHandle& function, double x) {
    ryArray* input = ryCreateDoubleScalar(x);
    ryArray* output = nullptr;
    function.dispatch_file(1, &output, 1, &input);
    const double y = ryGetScalar(output);
    ryDestroyArray(input);
    ryDestroyArray(output);
    return y;
}

// Every benchmark checks its answer once before it is timed, so a baseline that stopped doing
// the work would not go unnoticed.
bool checkAnswer(benchmark::State& state, double y) {
    if (y == 3.0) return true;
    state.SkipWithError(("wrong answer " + std::to_string(y)).c_str());
    return false;
}

void BM_OrbCall(benchmark::State& state) {
    auto file = makeModuleFile();
    auto& function = functionOf(*file);
    if (!checkAnswer(state, callTwice(function, 1.5))) return;
    double x = 1.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(callTwice(function, x));
    }
    file->unloadModuleFile();
}
BENCHMARK(BM_OrbCall);

// The vector call: the input is made once, as the plain function's input exists before its
// call; the output is read and freed every time.
__attribute__((noinline)) double callScale(orb::loader::OrbFunctionHandle& function, ryArray* input) {
    ryArray* output = nullptr;
    function.dispatch_file(1, &output, 1, &input);
    const double y = ryGetDoubles(output)[kVector - 1];
    ryDestroyArray(output);
    return y;
}

void BM_OrbCallVector(benchmark::State& state) {
    auto file = makeModuleFile(kScaleModule);
    auto& function = functionOf(*file);
    ryArray* input = ryCreateDoubleMatrix(1, kVector, ryREAL);
    double* x = ryGetDoubles(input);
    for (std::size_t i = 0; i < kVector; ++i) x[i] = static_cast<double>(i) / (kVector - 1) * 1.2;
    if (checkAnswer(state, callScale(function, input))) {
        for (auto _ : state) {
            benchmark::DoNotOptimize(callScale(function, input));
        }
    }
    ryDestroyArray(input);
    file->unloadModuleFile();
}
BENCHMARK(BM_OrbCallVector);

void BM_BareCallVector(benchmark::State& state) {
    void* library = dlopen(kBareLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        state.SkipWithError(dlerror());
        return;
    }
    using Scale = double* (*)(const double*, std::size_t);
    Scale volatile scale = reinterpret_cast<Scale>(dlsym(library, "bare_scale"));
    std::vector<double> x(kVector);
    for (std::size_t i = 0; i < kVector; ++i) x[i] = static_cast<double>(i) / (kVector - 1) * 1.2;
    auto call = [&] {
        double* y = scale(x.data(), kVector);
        const double last = y[kVector - 1];
        std::free(y);
        return last;
    };
    if (scale && checkAnswer(state, call())) {
        for (auto _ : state) {
            benchmark::DoNotOptimize(call());
        }
    }
    dlclose(library);
}
BENCHMARK(BM_BareCallVector);

void BM_BareCall(benchmark::State& state) {
    void* library = dlopen(kBareLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        state.SkipWithError(dlerror());
        return;
    }
    double (*volatile twice)(double) = reinterpret_cast<double (*)(double)>(dlsym(library, "bare_twice"));
    if (twice && checkAnswer(state, twice(1.5))) {
        double x = 1.0;
        for (auto _ : state) {
            benchmark::DoNotOptimize(twice(x));
        }
    }
    dlclose(library);
}
BENCHMARK(BM_BareCall);

#ifdef ORB_BENCH_PYTHON
PyObject* pyTwice(PyObject*, PyObject* arg) {
    const double x = PyFloat_AsDouble(arg);
    if (x == -1.0 && PyErr_Occurred()) return nullptr;
    return PyFloat_FromDouble(2 * x);
}
PyMethodDef kPyMethods[] = {{"twice", pyTwice, METH_O, "2 * x"}, {nullptr, nullptr, 0, nullptr}};
PyModuleDef kPyModule = {PyModuleDef_HEAD_INIT, "orbbench", nullptr, -1, kPyMethods, nullptr, nullptr, nullptr, nullptr};
PyObject* initPyModule() { return PyModule_Create(&kPyModule); }

// The interpreter with the extension module built in, and its function.
PyObject* pythonTwice() {
    static PyObject* function = [] {
        PyImport_AppendInittab("orbbench", &initPyModule);
        Py_InitializeEx(0);
        PyObject* module = PyImport_ImportModule("orbbench");
        PyObject* f = module ? PyObject_GetAttrString(module, "twice") : nullptr;
        Py_XDECREF(module);
        return f;
    }();
    return function;
}

double callPython(PyObject* function, double x) {
    PyObject* input = PyFloat_FromDouble(x);
    PyObject* output = PyObject_CallOneArg(function, input);
    const double y = PyFloat_AsDouble(output);
    Py_DECREF(input);
    Py_DECREF(output);
    return y;
}

void BM_PythonCall(benchmark::State& state) {
    PyObject* function = pythonTwice();
    if (!function) {
        state.SkipWithError("the extension module did not load");
        return;
    }
    if (!checkAnswer(state, callPython(function, 1.5))) return;
    double x = 1.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(callPython(function, x));
    }
}
BENCHMARK(BM_PythonCall);
#endif

#ifdef ORB_BENCH_LUA
int luaTwice(lua_State* L) {
    lua_pushnumber(L, 2 * luaL_checknumber(L, 1));
    return 1;
}

double callLua(lua_State* L, double x) {
    lua_pushcfunction(L, luaTwice);
    lua_pushnumber(L, x);
    lua_call(L, 1, 1);
    const double y = lua_tonumber(L, -1);
    lua_pop(L, 1);
    return y;
}

void BM_LuaCall(benchmark::State& state) {
    lua_State* L = luaL_newstate();
    if (checkAnswer(state, callLua(L, 1.5))) {
        double x = 1.0;
        for (auto _ : state) {
            benchmark::DoNotOptimize(callLua(L, x));
        }
    }
    lua_close(L);
}
BENCHMARK(BM_LuaCall);
#endif

// For the analysis of the call: the machine-fault guard arms a jump buffer for every call, and
// saving the signal mask with it is a system call. These two show what that costs here.
__attribute__((noinline)) int armJump(sigjmp_buf& jump, bool saveMask) {
    if (saveMask) return sigsetjmp(jump, 1);
    return sigsetjmp(jump, 0);
}

void BM_SigsetjmpSavingMask(benchmark::State& state) {
    sigjmp_buf jump;
    for (auto _ : state) {
        benchmark::DoNotOptimize(armJump(jump, true));
    }
}
BENCHMARK(BM_SigsetjmpSavingMask);

void BM_SigsetjmpNoMask(benchmark::State& state) {
    sigjmp_buf jump;
    for (auto _ : state) {
        benchmark::DoNotOptimize(armJump(jump, false));
    }
}
BENCHMARK(BM_SigsetjmpNoMask);

// Load, first call and clear: a fresh module record each time, as a host makes for a file it
// finds, loaded by its first call and unloaded by the clear.
void BM_OrbLoadCallClear(benchmark::State& state) {
    vhost::boot::attachRuntime();
    {
        auto file = makeModuleFile();
        const double y = callTwice(functionOf(*file), 1.5);
        file->unloadModuleFile();
        if (!checkAnswer(state, y)) return;
    }
    for (auto _ : state) {
        auto file = makeModuleFile();
        benchmark::DoNotOptimize(callTwice(functionOf(*file), 1.0));
        file->unloadModuleFile();
    }
}
BENCHMARK(BM_OrbLoadCallClear);

// The floor of a load: map the same file, look up the entry points a loader asks for, unmap it.
void BM_DlopenDlsymDlclose(benchmark::State& state) {
    for (auto _ : state) {
        void* library = dlopen(kModule.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            state.SkipWithError(dlerror());
            return;
        }
        for (const char* name : {"orbFunctionAdapter", "orbFunction", "ORBFUNCTION", "orbfilerequiredapiversion"}) {
            benchmark::DoNotOptimize(dlsym(library, name));
        }
        dlclose(library);
    }
}
BENCHMARK(BM_DlopenDlsymDlclose);

}  // namespace

BENCHMARK_MAIN();
