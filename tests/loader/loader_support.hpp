// Driving orb modules in tests: a module record made by the runtime's factory for one of the
// built test modules, called directly through its function record, or a module called by name
// through the host language.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cfenv>
#include <cstdint>
#include <fstream>
#include <ostream>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ry.h>

#include "host/dispatcher.hpp"
#include "host/exceptions.hpp"
#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "host/ut.hpp"
#include "capi/per_engine.hpp"
#include "vhost/ry/leaks.hpp"
#include "loader/orb_module_file.hpp"
#include "support/engine_test.hpp"
#include "support/orb_tool.hpp"
#include "vhost/boot/boot.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/lang/functions.hpp"
#include "vhost/lang/interpreter.hpp"

namespace orbtest {

// The process's resident memory now, in bytes.
inline std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Whether the library at `path` is mapped in this process now (without mapping it).
inline bool libraryMapped(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

class TestModule {
public:
    explicit TestModule(const std::string& nameOrPath, host::HostDispatcher* dispatcher = nullptr)
        : m_path(nameOrPath.find('/') == std::string::npos ? modulePath(nameOrPath) : nameOrPath),
          m_file(__construct_lm_orbw64(dispatcher, host::i18n::to_ustring(m_path).c_str())) {}
    ~TestModule() { m_file->unloadModuleFile(); }

    const std::string& path() const { return m_path; }
    orb::loader::OrbFunctionHandle& function() { return *static_cast<orb::loader::OrbModuleFile&>(*m_file).orbFunction(); }
    void unload() { m_file->unloadModuleFile(); }

    // Calls with `nlhs` outputs; the outputs belong to the caller (destroy them).
    std::vector<ryArray*> call(int nlhs, std::vector<ryArray*> inputs) {
        std::vector<ryArray*> outputs(std::max(nlhs, 1), nullptr);
        function().dispatch_file(nlhs, outputs.data(), static_cast<int>(inputs.size()), inputs.data());
        return outputs;
    }
    // A call with scalar inputs and one scalar output.
    double callScalar(std::vector<double> inputs, int nlhs = 1) {
        std::vector<ryArray*> arrays;
        for (double x : inputs) arrays.push_back(ryCreateDoubleScalar(x));
        auto outputs = call(nlhs, arrays);
        double value = outputs[0] ? ryGetScalar(outputs[0]) : -1;
        for (ryArray* a : arrays) ryDestroyArray(a);
        ryDestroyArray(outputs[0]);
        return value;
    }

private:
    std::string m_path;
    std::unique_ptr<host::HostModuleFile> m_file;
};

// The error `body` raised (as the caller sees it); fails the test when it raised none.
inline host::UserException errorOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const host::UserException& error) {
        return error;
    }
    ADD_FAILURE() << "no error was raised";
    return host::UserException("", "");
}

// Every test of this folder runs with the runtime attached to the reference host.
class LoaderTest : public testing::Test {
protected:
    void SetUp() override { vhost::boot::attachRuntime(); }
};

// How the language shows the value of `literal`.
inline std::string shown(const std::string& literal) {
    ryArray* value = vhost::lang::parseLiteral(literal);
    std::string text = vhost::lang::render("", value);
    ryDestroyArray(value);
    return text;
}

// [o1..on] = module(literal arguments...) through the host language, the outputs as it shows them.
inline std::vector<std::string> callShown(const std::string& module, int nlhs, const std::vector<std::string>& literals) {
    std::vector<ryArray*> inputs;
    for (const auto& literal : literals) inputs.push_back(vhost::lang::parseLiteral(literal));
    std::vector<ryArray*> outputs;
    try {
        outputs = vhost::lang::call(module, nlhs, inputs);
    } catch (...) {
        for (ryArray* input : inputs) ryDestroyArray(input);
        throw;
    }
    std::vector<std::string> result;
    for (ryArray* output : outputs) {
        result.push_back(output ? vhost::lang::render("", output) : "(none)");
        ryDestroyArray(output);
    }
    for (ryArray* input : inputs) ryDestroyArray(input);
    return result;
}

// Modules called through the host language on an engine of the test's own, with the test modules
// on the search path.
class ModuleCallTest : public AttachedEngineTest {
protected:
    ModuleCallTest() { vhost::addPath(ORB_TEST_MODULE_DIR); }
};

// What no module call may change, however it ends: the engine's current module and trap flag,
// the floating-point control state, the context depths and what is alive in the array library.
struct HostState {
    impl_info_tag* currentModule;
    bool trapFlag;
    int rounding;
    std::uint16_t x87;
    std::uint32_t mxcsr;
    std::size_t arrayDepth, allocDepth, arrays, blocks;

    static HostState now() {
        const host::utFpControl fp = host::ut_fnstcw();
        const auto live = vhost::ry::liveCounts();
        return {orb::capi::PerEngine<orb::capi::CurrentOrbInfoPerEngine>::getOrCreate().currentModule,
                orb::capi::PerEngine<orb::capi::CurrentOrbInfoPerEngine>::getOrCreate().trapFlag,
                std::fegetround(),
                fp.x87,
                fp.mxcsr & ~0x3Fu,  // the exception flags are sticky status, not state
                vhost::ry::arrayListDepth(),
                vhost::ry::allocListDepth(),
                live.arrays,
                live.blocks};
    }
    bool operator==(const HostState&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const HostState& s) {
    return out << "{module " << s.currentModule << ", trap " << s.trapFlag << ", rounding " << s.rounding
               << ", x87 " << std::hex << s.x87 << ", mxcsr " << s.mxcsr << std::dec << ", depths " << s.arrayDepth
               << "/" << s.allocDepth << ", live " << s.arrays << " arrays " << s.blocks << " blocks}";
}

}  // namespace orbtest
