// Start-up behaviour that depends on the environment the library loads in. Each test re-runs
// itself in a child process with the environment set before the library loads; the child does
// the in-process checks, the parent checks the child's exit status and what it logged.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "host/services.hpp"
#include "orbfile/version.hpp"
#include "startup/data_array_library.hpp"
#include "startup/log_channels.hpp"
#include "startup/startup_values.hpp"
#include "support/run_child.hpp"

namespace {

namespace fs = std::filesystem;
using namespace orb::startup;

constexpr const char* kChildMarker = "ORB_TEST_STARTUP_CHILD";

bool inChild() { return std::getenv(kChildMarker) != nullptr; }

orbtest::ChildResult rerunInChild(const std::map<std::string, std::string>& environment) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    auto env = environment;
    env[kChildMarker] = "1";
    return orbtest::runChild(orbtest::selfExecutable(),
                             {std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name()}, env);
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// --- logging enabled ---------------------------------------------------------------------------

int g_evaluations = 0;
int countedEvaluation() { return ++g_evaluations; }

void admitModule(const std::u16string& fullname) {
    ORB_LOG_FUNCTION(threadPoolSupportLog());
    ORB_LOG(threadPoolSupportLog(), kLogDetail, fullname);
    ORB_LOG(threadPoolSupportLog(), kLogDetail, "ThreadPoolCppOrb not enabled");
}

TEST(StartupLogEnabled, RecordsAreBuiltOnlyOnEnabledChannels) {
    if (!inChild()) {
        const auto child = rerunInChild(
            {{"ORB_LOG", "orb::orbfile_inspector:debug,orb::orbEmbedMetadataUtil:error,orb::ThreadPoolSupport:trace"}});
        ASSERT_EQ(child.exitCode, 0) << child.out << child.err;
        const std::string& log = child.err;
        // Exactly one counted record: the inspector at detail severity.
        EXPECT_EQ(occurrences(log, " countedEvaluation()="), 1u) << log;
        EXPECT_NE(log.find(" countedEvaluation()=1"), std::string::npos) << log;
        // The source text of the expression, "=", then its value.
        EXPECT_NE(log.find(" \"Created RES file \" + resPath=Created RES file /tmp/out/module.res"), std::string::npos)
            << log;
        EXPECT_NE(log.find(" \"ThreadPoolCppOrb not enabled\"=ThreadPoolCppOrb not enabled"), std::string::npos) << log;
        // UTF-16 values are written as 8-bit text; trace lines bracket the function.
        const auto entering = log.find("Entering admitModule");
        const auto value = log.find(" fullname=/modules/\u00dfeta.orbw64");
        const auto leaving = log.find("Leaving admitModule");
        ASSERT_NE(entering, std::string::npos) << log;
        ASSERT_NE(value, std::string::npos) << log;
        ASSERT_NE(leaving, std::string::npos) << log;
        EXPECT_LT(entering, value);
        EXPECT_LT(value, leaving);
        return;
    }

    ASSERT_TRUE(inspectorLog().enabled(kLogDetail));
    g_evaluations = 0;
    ORB_LOG(inspectorLog(), kLogDetail, countedEvaluation());       // enabled: once
    ORB_LOG(inspectorLog(), kLogTrace, countedEvaluation());        // below the channel's level
    ORB_LOG(retrieveVersionLog(), kLogError, countedEvaluation());  // channel not switched on
    ORB_LOG(embedMetadataLog(), kLogInfo, countedEvaluation());     // below error
    EXPECT_EQ(g_evaluations, 1);

    const std::string resPath = "/tmp/out/module.res";
    ORB_LOG(embedMetadataLog(), kLogError, "Created RES file " + resPath);
    admitModule(u"/modules/\u00dfeta.orbw64");
}

// --- another installation root -------------------------------------------------------------------

TEST(StartupInstallRoot, PathsFollowTheRootAndAMissingDataArrayLibraryIsNotFatal) {
    const fs::path root = fs::temp_directory_path() / "orb-startup-no-such-root";
    if (!inChild()) {
        ASSERT_FALSE(fs::exists(root));
        const auto child = rerunInChild({{"VELTRA_ROOT", root.string()}});
        EXPECT_EQ(child.exitCode, 0) << child.out << child.err;
        return;
    }

    EXPECT_EQ(fs::path(manifestTemplatePath()), root / "extern" / "version" / "orbMetadata.json");
    EXPECT_EQ(fs::path(resourceCompilerPath()), root / "bin" / "linux64" / "usResourceCompiler3");
    // No data-array library there: a null handle, and the rest of start-up still happened.
    EXPECT_EQ(dataArrayLibrary(), nullptr);
    EXPECT_EQ(host::svFeatureRegistrationCount("ThreadPoolCppOrb"), 1);
    EXPECT_EQ(orbfile::Version::get_current_relnum(), 0x2024Bu);
}

// --- a process that has no data-array library at all --------------------------------------------

// The runtime and the host copied into a root of their own, without the data-array library; a
// fresh interpreter process loads the runtime from there by path, with lazy binding as a program
// linked against it gets (nothing of this test executable, which links the library, is inherited).
// The runtime loads, its handle is null, and it serves.
TEST(StartupWithoutDataArrayLibrary, TheRuntimeLoadsAndServesWithANullHandle) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The interpreter is not built with the sanitizer, and a sanitized library cannot be its first.
    GTEST_SKIP() << "a sanitized runtime does not load into an interpreter built without the sanitizer";
#endif
    const fs::path root = fs::temp_directory_path() / ("orb-startup-no-dataarray-" + std::to_string(::getpid()));
    fs::create_directories(root / "lib");
    for (const char* library : {"liborb.so", "libvhost.so"})
        fs::copy_file(fs::path(ORB_STAGE_DIR) / "lib" / library, root / "lib" / library);
    const std::string script =
        "import ctypes, os, sys\n"
        "orb = ctypes.CDLL(sys.argv[1], mode=os.RTLD_LAZY)\n"
        "handle = orb._ZN3orb7startup16dataArrayLibraryEv\n"
        "handle.restype = ctypes.c_void_p\n"
        "print('handle', handle())\n"
        "sys.stdout.flush()\n"
        "orb.orbPrintf(b'served %d\\n', ctypes.c_int(7))\n";
    const auto child = orbtest::runChild("/usr/bin/python3", {"-c", script, (root / "lib" / "liborb.so").string()},
                                         {{"VELTRA_ROOT", root.string()}, {"LD_LIBRARY_PATH", ""}});
    fs::remove_all(root);
    EXPECT_EQ(child.exitCode, 0) << child.err;
    EXPECT_EQ(child.out, "handle None\nserved 7\n") << child.err;
}

}  // namespace
