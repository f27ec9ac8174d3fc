// The metadata-aware link, run with the real compiler driver: how many links run, what the
// module embeds, what is left in the folder, and how failures come back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host/process.hpp"
#include "metadata/metadata_support.hpp"
#include "support/run_child.hpp"
#include "orbfile/metadata/linker_commands.hpp"
#include "vhost/ut/output.hpp"

namespace {

namespace fs = std::filesystem;
using orbfile::metadata::Result;

// One metadata-aware link, with the progress lines it printed and the links it ran.
struct Linked {
    Result result;
    std::string progress;
    int links = 0;
};

Linked link(std::vector<std::string>& command, const std::string& optionText = "-o",
            int index = mdtest::kOutputIndex) {
    int links = 0;
    const std::string linker = command.empty() ? std::string() : command.front();
    host::process::setCommandObserver([&](const std::vector<std::string>& args) { links += args[0] == linker; });
    vhost::OutputCapture capture;
    Result result = orbfile::build_orb_linker_cmds(command, optionText, index);
    host::process::setCommandObserver({});
    return {std::move(result), capture.text(), links};
}

TEST(LinkerCommands, CodeNeedingTheDefaultMetadataIsLinkedOnceAndCopied) {
    const fs::path dir = orbtest::scratchDir();
    const std::string module = (dir / "gain.orbw64").string();
    auto command = mdtest::linkCommand("gcc", mdtest::compileGain(dir, "-DVELTRA_ORBCMD_RELEASE=R2018a"), module);
    const auto given = command;
    const Linked linked = link(command);
    ASSERT_EQ(linked.result.get_status(), 0) << linked.result.get_cmdErr() << linked.progress;
    EXPECT_EQ(linked.links, 1);
    EXPECT_EQ(command, given);
    EXPECT_EQ(linked.progress, "Building with orblink\nCreating temp orb file with meta-data\nInspecting ORB file: " +
                                   (dir / "gain_kv_temp_.orbw64").string() +
                                   "\nmeta-data consistent; copying orb file to actual  " + module + "\n");
    const auto embedded = mdtest::embeddedIn(module);
    EXPECT_EQ(embedded.apiVersion, 800u);
    EXPECT_EQ(embedded.strategy, "2.0");
    EXPECT_EQ(mdtest::filesIn(dir), (std::vector<std::string>{"gain.o", "gain.orbw64"}));
}

// Linked through a driver whose folder name holds "gcc": it too takes the bundle as data. A double
// quote in the path is an ordinary character: only a quoted bundle argument (next test) is joined
// back; every other argument reaches the linker as it is. The module is linked with a stack that
// is not executable, though its bundle is linked in as raw data.
TEST(LinkerCommands, CodeOfAnOlderGenerationIsRelinkedWithItsOwnMetadata) {
    const fs::path dir = orbtest::scratchDir() / "with\"quote";
    fs::create_directories(dir / "gcc-tools");
    const fs::path driver = dir / "gcc-tools" / "link-driver";
    orbtest::writeBytes(driver, "#!/bin/sh\nexec gcc \"$@\"\n");
    fs::permissions(driver, fs::perms::owner_all);
    const std::string module = (dir / "gain.orbw64").string();
    auto command = mdtest::linkCommand(driver.string(), mdtest::compileGain(dir, "-DRY_COMPAT_32"), module);
    const auto size = command.size();
    const Linked linked = link(command);
    ASSERT_EQ(linked.result.get_status(), 0) << linked.result.get_cmdErr() << linked.progress;
    EXPECT_EQ(linked.links, 2);
    EXPECT_NE(linked.progress.find("different from default, embedding new data into : " + module), std::string::npos);
    EXPECT_EQ(std::vector<std::string>(command.begin() + static_cast<long>(size), command.end()),
              (std::vector<std::string>{"-Wl,--format=binary", "-Wl," + fs::canonical(dir).string() + "/gainorb_bundle.zip",
                                        "-Wl,--format=default", "-Wl,-z,noexecstack"}));
    EXPECT_EQ(mdtest::embeddedIn(module).apiVersion, 700u);
    EXPECT_EQ(mdtest::filesIn(dir), (std::vector<std::string>{"gain.o", "gain.orbw64", "gcc-tools"}));
    const auto headers = orbtest::runChild("/usr/bin/readelf", {"-lW", module});
    ASSERT_NE(headers.out.find("GNU_STACK"), std::string::npos) << headers.out;
    const std::string stack = headers.out.substr(headers.out.find("GNU_STACK"));
    EXPECT_EQ(stack.substr(0, stack.find('\n')).find("RWE"), std::string::npos) << stack;
}

TEST(LinkerCommands, BlanksInTheOutputPathSplitTheQuotedBundleArgument) {
    const fs::path dir = orbtest::scratchDir() / "with blank";
    fs::create_directories(dir);
    const std::string module = (dir / "my gain.orbw64").string();
    const std::string object = mdtest::compileGain(dir, "-DVELTRA_ORBCMD_RELEASE=R2017b");
    // The output joined to its option this time.
    std::vector<std::string> command = {"gcc", "-shared", object, "-o" + module, "-L" + mdtest::kStage + "/lib",
                                        "-lorb", "-lvhost"};
    const auto size = command.size();
    const Linked linked = link(command, "-o", 3);
    ASSERT_EQ(linked.result.get_status(), 0) << linked.result.get_cmdErr() << linked.progress;
    const std::string bundle = fs::canonical(dir).string() + "/my gainorb_bundle.zip";
    const std::vector<std::string> appended(command.begin() + static_cast<long>(size), command.end());
    EXPECT_EQ(appended, (std::vector<std::string>{"-Wl,--format=binary", "-Wl,\"" + bundle.substr(0, bundle.find(' ')),
                                                  "blank/my", "gainorb_bundle.zip\"", "-Wl,--format=default",
                                                  "-Wl,-z,noexecstack"}));
    EXPECT_EQ(mdtest::embeddedIn(module).apiVersion, 730u);
    EXPECT_EQ(mdtest::filesIn(dir), (std::vector<std::string>{"gain.o", "my gain.orbw64"}));
}

TEST(LinkerCommands, AFailedTemporaryLinkReturnsItsResultAndLeavesNothing) {
    const fs::path dir = orbtest::scratchDir();
    auto command = mdtest::linkCommand("gcc", (dir / "missing.o").string(), (dir / "gain.orbw64").string());
    const Linked linked = link(command);
    EXPECT_NE(linked.result.get_status(), 0);
    EXPECT_NE(linked.result.get_cmdErr().find("missing.o"), std::string::npos) << linked.result.get_cmdErr();
    EXPECT_NE(linked.progress.find("Error with orblink: "), std::string::npos) << linked.progress;
    EXPECT_EQ(linked.links, 1);
    EXPECT_EQ(mdtest::filesIn(dir), std::vector<std::string>{});
}

// The linker and every other bare program name are looked up along PATH: the first executable
// file wins, an empty entry is the current folder, and nothing found is an empty answer.
TEST(ProgramSearch, TheFirstExecutableFileAlongThePathIsTaken) {
    const fs::path dir = orbtest::scratchDir();
    const auto tool = [&](const std::string& folder, fs::perms perms) {
        fs::create_directories(dir / folder);
        orbtest::writeBytes(dir / folder / "tool", "#!/bin/sh\n");
        fs::permissions(dir / folder / "tool", perms);
    };
    tool("plain", fs::perms::owner_read | fs::perms::owner_write);
    tool("exec", fs::perms::owner_all);
    fs::create_directories(dir / "folder" / "tool");
    const std::string plain = (dir / "plain").string(), exec = (dir / "exec").string();
    const std::string folder = (dir / "folder").string();
    const char* const saved = std::getenv("PATH");
    const std::string savedPath = saved == nullptr ? "" : saved;
    const fs::path savedFolder = fs::current_path();
    fs::current_path(dir / "exec");
    const struct {
        std::string path;
        std::string found;
    } cases[] = {
        {plain + ":" + folder + ":" + exec, exec + "/tool"},
        {exec + "/:" + plain, exec + "/tool"},
        {plain + "::" + folder, "tool"},
        {plain + ":" + folder, ""},
    };
    for (const auto& c : cases) {
        setenv("PATH", c.path.c_str(), 1);
        EXPECT_EQ(host::process::which("tool"), c.found) << c.path;
    }
    fs::current_path(savedFolder);
    setenv("PATH", savedPath.c_str(), 1);
}

// The compiler's and the linker's output: both streams kept apart and read while the program runs
// (each of these outruns a pipe's buffer), the exit status or the signal, and a file that cannot
// be run named as such.
TEST(ProgramRun, BothStreamsAreReadWhileItRunsAndItsEndIsReported) {
    const fs::path dir = orbtest::scratchDir();
    const std::string lots = "head -c 300000 /dev/zero | tr '\\0' o; head -c 200000 /dev/zero | tr '\\0' e >&2; ";
    const auto done = host::process::run({"sh", "-c", lots + lots + "exit 3"});
    EXPECT_EQ(done.exitStatus, 3);
    EXPECT_EQ(done.out, std::string(600000, 'o'));
    EXPECT_EQ(done.err, std::string(400000, 'e'));
    EXPECT_EQ(host::process::run({"sh", "-c", "kill -TERM $$"}).exitStatus, 128 + 15);
    orbtest::writeBytes(dir / "garbage", "not a program");
    fs::permissions(dir / "garbage", fs::perms::owner_all);
    try {
        host::process::run({(dir / "garbage").string()});
        ADD_FAILURE() << "a file that is no program ran";
    } catch (const host::process::command_not_found& error) {
        EXPECT_NE(std::string(error.what()).find("garbage' cannot be started: "), std::string::npos) << error.what();
    }
}

}  // namespace
