// Modules compiled by the Fortran compiler through the SDK's Fortran includes, called in the
// reference host: the counts their gateway receives, and the services as such a module uses them
// (printing, calling host functions, variables, evaluation, errors, warnings, its name). The
// same source is built for the 64-bit interface (800) and the 32-bit one (700).
#include "capi/fortran_names.hpp"
#include "loader/dispatch_strategies.hpp"
#include "loader/loader_support.hpp"
#include "vhost/ry/warnings.hpp"
#include "vhost/ut/output.hpp"

namespace {

using orbtest::callShown;
using orbtest::errorOf;
using orbtest::shown;

using FortranModuleTest = orbtest::ModuleCallTest;
using orbtest::printed;

struct Build {
    const char* module;
    bool wideCounts;  // built for a 64-bit interface
};
const Build kBuilds[] = {{"fortran_services", true}, {"fortran_services_700", false}};

TEST_F(FortranModuleTest, GatewayCountsHaveTheWidthOfTheInterfaceTheModuleWasBuiltFor) {
    using namespace orb::loader;
    for (const Build& build : kBuilds) {
        SCOPED_TRACE(build.module);
        orbtest::TestModule module(build.module);
        for (int nlhs : {0, 1}) {
            for (int extra : {0, 2}) {
                std::vector<double> inputs(1 + static_cast<std::size_t>(extra), 1.0);
                EXPECT_EQ(module.callScalar(inputs, nlhs), nlhs * 100 + 1 + extra) << nlhs << " outputs";
            }
        }
        const DispatchStrategy* strategy = module.function().strategy();
        ASSERT_NE(strategy, nullptr);
        if (auto* compat = dynamic_cast<const SCCompatDispatchStrategy*>(strategy)) strategy = &compat->inner();
        EXPECT_EQ(dynamic_cast<const Fortran_64bit_DispatchStrategy*>(strategy) != nullptr, build.wideCounts);
        EXPECT_EQ(dynamic_cast<const Fortran_DispatchStrategy*>(strategy) != nullptr, !build.wideCounts);
    }
}

TEST_F(FortranModuleTest, PrintsItsTextAsAFormat) {
    const std::string line = "Fortran prints 100% of this line\n";
    for (const Build& build : kBuilds) {
        SCOPED_TRACE(build.module);
        vhost::OutputCapture output;
        const auto answers = callShown(build.module, 1, {"2"});
        EXPECT_EQ(output.text(), line);
        EXPECT_EQ(answers, std::vector<std::string>{shown(std::to_string(line.size()))});
    }
}

TEST_F(FortranModuleTest, CallsHostFunctionsWithAndWithoutOutputs) {
    for (const Build& build : kBuilds) {
        SCOPED_TRACE(build.module);
        // No outputs asked for: the list the module gave is not handed on, so the host's
        // answer cannot land in it.
        EXPECT_EQ(callShown(build.module, 2, {"3", "5"}), (std::vector<std::string>{shown("0"), shown("1")}));
        // One output, the function's name in a blank-padded variable.
        EXPECT_EQ(callShown(build.module, 1, {"4", "[1 2 3 4]"}), std::vector<std::string>{shown("4")});
    }
}

TEST_F(FortranModuleTest, ReachesWorkspacesNamedInAnyCaseAndKeepsVariableNamesAsWritten) {
    for (const Build& build : kBuilds) {
        SCOPED_TRACE(build.module);
        vhost::lang::evaluate("clear all; MixedCase = 42;");
        EXPECT_EQ(callShown(build.module, 1, {"5"}), std::vector<std::string>{shown("42")});
        vhost::lang::evaluate("clear all; mixedcase = 1;");
        EXPECT_EQ(callShown(build.module, 1, {"5"}), std::vector<std::string>{shown("[]")});

        vhost::lang::evaluate("clear all;");
        EXPECT_EQ(callShown(build.module, 1, {"9", "[7 8]"}), std::vector<std::string>{shown("0")});
        EXPECT_EQ(printed("disp(fromFortran)"), printed("disp([7 8])"));

        EXPECT_EQ(callShown(build.module, 1, {"8"}), std::vector<std::string>{shown("0")});
        EXPECT_EQ(printed("disp(fromEval)"), printed("disp(7)"));
    }
}

TEST_F(FortranModuleTest, ErrorsAndWarningsKeepTheirIdentifiersAndPercentSigns) {
    for (const Build& build : kBuilds) {
        SCOPED_TRACE(build.module);
        host::UserException error = errorOf([&] { callShown(build.module, 1, {"6"}); });
        EXPECT_EQ(error.identifier(), "fortran:percent");
        EXPECT_EQ(error.message(), "100% sure: %d %s %% stay as written");
        EXPECT_EQ(error.functionName(), build.module);

        vhost::ry::clearWarnings();
        EXPECT_EQ(callShown(build.module, 1, {"10"}), std::vector<std::string>{shown("1")});
        EXPECT_EQ(vhost::ry::recordedWarnings(),
                  (std::vector<vhost::ry::RecordedWarning>{{"fortran:warned", "careful: 5% left"}}));

        EXPECT_EQ(callShown(build.module, 1, {"7"}), std::vector<std::string>{shown(std::string("'") + build.module + "'")});
    }
}

TEST_F(FortranModuleTest, AnExitRoutineRunsOnceWhenTheModuleIsCleared) {
    for (const Build& build : kBuilds) {
        SCOPED_TRACE(build.module);
        orbtest::TestModule module(build.module);
        vhost::OutputCapture output;
        EXPECT_EQ(module.callScalar({11}), 0);
        EXPECT_EQ(output.take(), "");
        module.unload();
        module.unload();
        EXPECT_EQ(output.text(), "Fortran says farewell\n");
    }
}

TEST_F(FortranModuleTest, TheExampleGreetsAndDoubles) {
    vhost::OutputCapture output;
    EXPECT_EQ(callShown("hello_fortran", 1, {"21"}), std::vector<std::string>{shown("42")});
    EXPECT_EQ(output.text(), "Hello from Fortran, called as hello_fortran.\n");
    EXPECT_EQ(errorOf([] { callShown("hello_fortran", 1, {}); }).identifier(), "hello_fortran:nargin");
    EXPECT_EQ(errorOf([] { callShown("hello_fortran", 1, {"'text'"}); }).identifier(), "hello_fortran:notScalar");
}

}  // namespace
