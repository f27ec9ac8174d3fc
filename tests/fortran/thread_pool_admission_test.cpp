// Admission of modules to the host's thread pool in tasks mode: only C++ modules, and only with
// the "ThreadPoolCppOrb" switch on; every other module gets a record that loads nothing and is
// refused at each call. Each module file used here is loaded by these tests alone, so whether
// its library was ever mapped can be told (the C-shaped ones set ORB_TEST_MAPPED_<name> when
// mapped; the Fortran one is looked up without loading it).
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "capi/message_ids.hpp"
#include "host/i18n.hpp"
#include "host/services.hpp"
#include "loader/dispatch_strategies.hpp"
#include "loader/loader_support.hpp"
#include "loader/orb_file_reader.hpp"
#include "loader/thread_pool_admission.hpp"
#include "startup/thread_pool_switch.hpp"
#include "vhost/services/features.hpp"

namespace {

using orbtest::errorOf;
using orbtest::modulePath;
using orbtest::TestModule;

bool everMapped(const std::string& module) { return std::getenv(("ORB_TEST_MAPPED_" + module).c_str()) != nullptr; }

std::u16string pathOf(const std::string& module) { return host::i18n::to_ustring(modulePath(module)); }

class ThreadPoolAdmission : public orbtest::LoaderTest {
protected:
    void SetUp() override {
        LoaderTest::SetUp();
        vhost::clearDisallowedTaskBuiltins();
    }
    void TearDown() override {
        vhost::setTasksMode(false);
        host::svSetFeature(orb::startup::kThreadPoolFeatureName, 0);
    }
};

TEST_F(ThreadPoolAdmission, OutsideTasksModeNoAdmissionCheckRuns) {
    // With the switch off the check would refuse this C module; outside tasks mode it loads.
    ASSERT_FALSE(orb::startup::isThreadPoolCppOrbEnabled());
    TestModule module("tasks_outside");
    EXPECT_EQ(module.callScalar({}), 42);
    EXPECT_TRUE(everMapped("tasks_outside"));
}

TEST_F(ThreadPoolAdmission, OnlyCppModulesAreAdmittedAndOnlyWithTheSwitchOn) {
    const auto text = std::filesystem::path(testing::TempDir()) / "admission_text.orbw64";
    std::ofstream(text) << "orbFunctionAdapter is named here, but this is no library\n";
    const struct {
        std::u16string path;
        bool admittedWithSwitchOn;
    } cases[] = {
        {pathOf("tasks_cpp"), true},
        {pathOf("shape_cpp_and_c"), true},  // a C gateway besides does not matter
        {pathOf("tasks_c"), false},
        {pathOf("tasks_fortran"), false},
        {pathOf("tasks_longer_name"), false},  // "orbFunctionAdapterV2" is another name
        {host::i18n::to_ustring(text.string()), false},
        {pathOf("no_such_module"), false},
    };
    for (int switchValue : {0, 2}) {
        ASSERT_TRUE(host::svSetFeature(orb::startup::kThreadPoolFeatureName, switchValue));
        for (const auto& c : cases) {
            EXPECT_EQ(orb::loader::allowThisOrbOnThreadPool(c.path), switchValue != 0 && c.admittedWithSwitchOn)
                << host::i18n::to_string(c.path) << " with the switch at " << switchValue;
        }
    }
    EXPECT_FALSE(everMapped("tasks_cpp")) << "admission reads files, it never loads them";
    EXPECT_FALSE(everMapped("tasks_longer_name"));
}

TEST_F(ThreadPoolAdmission, ATasksModeLoadOfACppModuleProceedsOnlyWithTheSwitchOn) {
    vhost::setTasksMode(true);
    OrbFileReader reader;
    int status = -1;

    impl_info_tag* refused = reader.loadOrb(pathOf("tasks_cpp").c_str(), "tasks_cpp", &status);
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->entryKind, kOrbEntryRefused);
    EXPECT_EQ(refused->library, nullptr);
    EXPECT_EQ(status, kOrbLoadOk);
    EXPECT_FALSE(everMapped("tasks_cpp"));
    orb::loader::clearLoadRecord(refused);

    ASSERT_TRUE(host::svSetFeature(orb::startup::kThreadPoolFeatureName, 1));
    // Admitted, a C++ module loads and runs: this one hands its second input back.
    TestModule module("raw_protocol");
    EXPECT_EQ(module.callScalar({0, 7}), 7);
    ASSERT_NE(module.function().loadRecord(), nullptr);
    EXPECT_EQ(module.function().loadRecord()->entryKind, kOrbEntryCpp);
}

TEST_F(ThreadPoolAdmission, RefusedModulesFailAtEveryCallWithoutEverBeingMapped) {
    vhost::setTasksMode(true);
    ASSERT_TRUE(host::svSetFeature(orb::startup::kThreadPoolFeatureName, 1));
    for (const char* name : {"tasks_c", "tasks_fortran", "tasks_longer_name"}) {
        SCOPED_TRACE(name);
        TestModule module(name);
        for (int call = 0; call < 2; ++call) {
            host::UserException error = errorOf([&] { module.callScalar({1}); });
            EXPECT_EQ(error.identifier(), orb::capi::kDisallowedOrbFunctionErrorId);
            EXPECT_EQ(error.message(), host::i18n::to_string(host::i18n::get_message(
                                           "VELTRA:mtasks:constraints:DisallowedOrbFunction")));
        }
        ASSERT_NE(module.function().loadRecord(), nullptr);
        EXPECT_EQ(module.function().loadRecord()->entryKind, kOrbEntryRefused);
        EXPECT_FALSE(orbtest::libraryMapped(module.path()));
        EXPECT_FALSE(everMapped(name));
    }
    const auto logged = vhost::disallowedTaskBuiltins();
    ASSERT_EQ(logged.size(), 6u) << "one record per refused call";
    for (const auto& record : logged) {
        EXPECT_EQ(record.name, "user written orb");
        EXPECT_EQ(record.kind, "orb");
    }
}

}  // namespace
