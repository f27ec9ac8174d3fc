// The language, dispatcher and callbacks with the runtime attached, on real module files.
#include "lang_fixture.hpp"
#include "vhost/boot/boot.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/lang/values.hpp"

namespace {

class RuntimeTest : public LangTest {
protected:
    void SetUp() override {
        vhost::boot::attachRuntime();
        vhost::addPath(ORB_TEST_MODULE_DIR);
    }
    void TearDown() override { vhost::clearAll(); }
    static double number(const char* name) { return vhost::lang::elementAt(base(name), 0).real(); }
};

TEST_F(RuntimeTest, ModulesRunFromTheLanguageAndAreClearedByName) {
    run("x = twice(21); y = twice(twice(1));");
    EXPECT_EQ(number("x"), 42.0);
    EXPECT_EQ(number("y"), 4.0);
    EXPECT_EQ(vhost::currentDispatcher().openModules(), std::vector<std::string>{"twice"});
    run("clear twice");
    EXPECT_TRUE(vhost::currentDispatcher().openModules().empty());
}

}  // namespace
