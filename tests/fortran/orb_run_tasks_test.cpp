// `orb run` in tasks mode and with Fortran modules, as a user runs it: the staged tool in a
// process of its own.
#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

#include "loader/loader_support.hpp"
#include "support/run_child.hpp"

namespace {

const std::string kOrb = std::string(ORB_STAGE_DIR) + "/bin/orb";

orbtest::ChildResult orb(const std::vector<std::string>& args) {
    if (!std::filesystem::exists(kOrb)) throw std::runtime_error(kOrb + " is not built");
    return orbtest::runChild(kOrb, args, {{"VELTRA_ROOT", ORB_STAGE_DIR}});
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(OrbRunTasks, TasksModeRefusesModulesThatAreNotAdmitted) {
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string out, err;
    } cases[] = {
        {{"run", orbtest::modulePath("hello_fortran"), "21"}, 0, "Hello from Fortran", ""},
        {{"run", "--tasks", orbtest::modulePath("hello_fortran"), "21"}, 1, "",
         "parallel:threadpool:DisallowedOrbFunction"},
        {{"run", "--tasks", "--feature", "ThreadPoolCppOrb=1", orbtest::modulePath("tasks_outside")}, 1, "",
         "parallel:threadpool:DisallowedOrbFunction"},
        {{"run", "--feature", "NoSuchFeature=1", orbtest::modulePath("tasks_outside")}, 2, "", "NoSuchFeature"},
        {{"run", "--feature", "ThreadPoolCppOrb", orbtest::modulePath("tasks_outside")}, 2, "", "NAME=VALUE"},
    };
    for (const auto& c : cases) {
        auto result = orb(c.args);
        SCOPED_TRACE(c.args[1] + " ...\n" + result.out + result.err);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_TRUE(contains(result.out, c.out));
        EXPECT_TRUE(contains(result.err, c.err));
    }
}

}  // namespace
