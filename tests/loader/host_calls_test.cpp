// Modules calling back into the host through the reference host's dispatcher and language:
// functions and other modules by name, evaluated text, workspace variables, the trap flag, and
// nested module calls that fail.
#include "capi/per_engine.hpp"
#include "loader_support.hpp"

namespace {

using orbtest::errorOf;
using orbtest::shown;

// Each test on an engine of its own, bound to the thread as a host binds its engines (the trap
// flag is the engine's only where an engine is bound).
class HostCallsTest : public orbtest::ModuleCallTest {
protected:
    // [o1..on] = services(literal arguments...), outputs as the language shows them.
    static std::vector<std::string> services(int nlhs, const std::vector<std::string>& literals) {
        return orbtest::callShown("services", nlhs, literals);
    }
};

TEST_F(HostCallsTest, ModulesCallFunctionsAndModulesByName) {
    EXPECT_EQ(services(2, {"'call'", "'twice'", "[1 2 3]"}), (std::vector<std::string>{shown("[2 4 6]"), shown("0")}));
    EXPECT_EQ(services(1, {"'name'"}), std::vector<std::string>{shown("'services'")});
    // An output asked for and left unset is named as the module's, not as too many outputs.
    const host::UserException unset = errorOf([] { vhost::lang::evaluate("[a, b] = twice(1);"); });
    EXPECT_EQ(unset.identifier(), "VELTRA:unassignedOutput");
    EXPECT_EQ(unset.message(), "Output 2 of twice was not set.");
}

TEST_F(HostCallsTest, TheTrapFlagDecidesWhetherAnErrorReturnsOrIsRaised) {
    host::UserException raised = errorOf([] { services(2, {"'call'", "'twice'", "'not a number'"}); });
    EXPECT_EQ(raised.identifier(), "twice:input");
    EXPECT_EQ(raised.functionName(), "twice");

    const auto trapped = services(2, {"'calltrap'", "'twice'", "'not a number'"});
    EXPECT_NE(trapped[1], shown("0"));
    const auto withTrap = services(2, {"'withtrap'", "'twice'", "'not a number'"});
    EXPECT_EQ(withTrap[0], shown("[]"));
    EXPECT_NE(withTrap[1], shown("[]")) << "the error array";
}

TEST_F(HostCallsTest, VariablesAndEvaluatedText) {
    vhost::lang::evaluate("x = 5;");
    EXPECT_EQ(services(1, {"'get'", "'base'", "'x'"})[0], shown("5"));
    EXPECT_EQ(services(1, {"'getptr'", "'caller'", "'x'"})[0], shown("5")) << "called from the base workspace";
    EXPECT_EQ(services(1, {"'get'", "'base'", "'nothing'"})[0], shown("[]"));

    EXPECT_EQ(services(1, {"'put'", "'global'", "'g'", "7"})[0], shown("0"));
    EXPECT_EQ(services(1, {"'get'", "'global'", "'g'"})[0], shown("7"));
    EXPECT_EQ(services(1, {"'put'", "'base'", "'y'", "[1 2]"})[0], shown("0"));
    EXPECT_EQ(services(1, {"'get'", "'base'", "'y'"})[0], shown("[1 2]"));

    EXPECT_EQ(services(1, {"'eval'", "'x = x + 1;'"})[0], shown("0"));
    EXPECT_EQ(services(1, {"'get'", "'caller'", "'x'"})[0], shown("6"));
    EXPECT_EQ(services(1, {"'evaltrap'", "'x = undefined_name_here;'"})[0], shown("true"));
}

TEST_F(HostCallsTest, GraphicsObjectsComeBackAsTheirNumericHandles) {
    vhost::lang::evaluate("f = figure;");  // handles count from 1 on each engine
    EXPECT_EQ(services(1, {"'get'", "'base'", "'f'"})[0], shown("1"));
    EXPECT_EQ(services(2, {"'call'", "'figure'"})[0], shown("2"));
    EXPECT_EQ(services(2, {"'withtrap'", "'figure'"})[0], shown("3"));
}

// The outer module calls the inner one through the host; the inner one raises.
TEST_F(HostCallsTest, ANestedFailureNamesTheInnerModuleAndTheOuterOneIsCurrentAgain) {
    ryArray* trapOff = ryCreateDoubleScalar(0);
    host::UserException error = errorOf([&] { vhost::lang::call("nested_outer", 1, {trapOff}); });
    ryDestroyArray(trapOff);
    EXPECT_EQ(error.identifier(), "nested:inner");
    EXPECT_EQ(error.functionName(), "nested_inner");

    // Trapped, the outer module goes on and registers its exit function: it lands on its own record.
    ryArray* trapOn = ryCreateDoubleScalar(1);
    std::vector<ryArray*> status = vhost::lang::call("nested_outer", 1, {trapOn});
    EXPECT_NE(ryGetScalar(status[0]), 0);
    ryDestroyArray(status[0]);
    ryDestroyArray(trapOn);
    auto record = [](const char* name) {
        auto& function = dynamic_cast<orb::loader::OrbFunctionHandle&>(*vhost::currentDispatcher().findFunction(name));
        return function.loadRecord();
    };
    ASSERT_NE(record("nested_outer"), nullptr);
    ASSERT_NE(record("nested_inner"), nullptr);
    EXPECT_NE(record("nested_outer")->exitFunction, nullptr);
    EXPECT_EQ(record("nested_inner")->exitFunction, nullptr);
    EXPECT_EQ(orb::capi::PerEngine<orb::capi::CurrentOrbInfoPerEngine>::getOrCreate().currentModule, nullptr);
}

}  // namespace
