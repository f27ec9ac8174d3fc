// `orb check` as a user runs it: the text report, the diagnostic log, and damaged files. (Its exit
// statuses are in the command line table, its JSON report and symbol listings with its guidance,
// in tests/tools.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "inspect/inspect_support.hpp"
#include "support/orb_tool.hpp"

namespace {

using namespace inspecttest;
using Bytes = std::vector<unsigned char>;
using orbtest::contains;
using orbtest::orb;

TEST(OrbCheck, TextReport) {
    const std::string mixed = modulePath("inspect_mixed_700_800");
    const std::string noEntry = modulePath("inspect_no_entry");
    const std::string ok = modulePath("inspect_c800_vf");
    const auto result = orb({"check", mixed, noEntry, ok});
    const auto out = lines(result.out);
    // Verdict, then per finding: identifier and reason, action, symbols, fix.
    ASSERT_GE(out.size(), 10u) << result.out;
    EXPECT_EQ(out[0], mixed + ": error - mixes two array interface generations (ELNKAPI)");
    EXPECT_TRUE(out[1].starts_with("  ELNKAPI: ")) << out[1];
    EXPECT_TRUE(contains(out[1], "-compatibleArrayDims") && contains(out[1], "-R2018a")) << out[1];
    EXPECT_TRUE(out[2].starts_with("    action: ")) << out[2];
    EXPECT_EQ(out[3], "    symbols: ryGetDimensions ryCreateDoubleMatrix ryGetDoubles");
    EXPECT_TRUE(out[4].starts_with("    fix: ") && contains(out[4], "orb build -R2018a")) << out[4];
    EXPECT_EQ(out[5], noEntry + ": error - no entry point the loader accepts (ENOENTP)");
    EXPECT_TRUE(out[6].starts_with("  ENOENTP: ")) << out[6];
    EXPECT_TRUE(out[8].starts_with("    fix: define void orbFunction(")) << out[8];
    EXPECT_EQ(out.back(), ok + ": ok - can be used with this release");

    const auto extras = lines(orb({"check", "--summary", "--log", noEntry}).out);
    ASSERT_GE(extras.size(), 7u);
    EXPECT_TRUE(contains(extras[4], "  summary: '" + noEntry + "' | ")) << extras[4];
    EXPECT_TRUE(contains(extras[4], "| HasUpg: UENTRYP ULEGACY ULATEST |")) << extras[4];
    EXPECT_EQ(extras[5], "  log:");
    EXPECT_EQ(extras[6], "  CP:0");
}

TEST(OrbCheck, DiagnosticLogLines) {
    const std::map<std::string, std::string> env = {{"ORB_LOG", "orb::orbfile_inspector:debug"}};
    const auto strict = orb({"check", modulePath("inspect_mixed_700_800")}, env);
    // The records carry the values the inspection found, not only that it ran.
    for (const char* record : {" m_undefs[i]=ryGetDimensions_700", " sIC=2", "Error ELNKAPI", " m_has_error=1"}) {
        EXPECT_TRUE(contains(strict.err, record)) << record << "\n" << strict.err;
    }
    const auto lenient = orb({"check", "--no-strict", modulePath("inspect_c800_vf")}, env);
    for (const char* record : {"=R2024b 0x8000000", " m_is_strict=0", "orb command orbcheck warnings are disabled."}) {
        EXPECT_TRUE(contains(lenient.err, record)) << record << "\n" << lenient.err;
    }
    // Off unless switched on.
    EXPECT_EQ(orb({"check", modulePath("inspect_mixed_700_800")}).err, "");
}

TEST(OrbCheck, DamagedFilesAreReportedNeverCrash) {
    ScratchDir dir;
    std::vector<std::string> files = {dir.write("empty.orbw64", {}), dir.write("text.orbw64", Bytes{'x', '\n'}),
                                      dir.path("")};
    // A module with the version function is loaded to read it, damage and all: the system's loader
    // may fault or give up on it, which must cost only that file's inspection.
    const std::pair<std::string, std::string> sources[] = {{"elf", modulePath("inspect_no_entry")},
                                                           {"elf800", modulePath("inspect_c800_novf")},
                                                           {"elfvf", modulePath("inspect_c800_vf")},
                                                           {"pe64", pePath("pe64_c700.dll")},
                                                           {"pe32", pePath("pe32_c730.dll")}};
    std::mt19937 random(7);
    for (const auto& [label, source] : sources) {
        const Bytes original = readBytes(source);
        for (std::size_t length = 1; length < original.size(); length += original.size() / 23) {
            files.push_back(dir.write(label + "_cut" + std::to_string(length), Bytes(original.begin(), original.begin() + length)));
        }
        for (int round = 0; round < 60; ++round) {
            Bytes bytes = original;
            for (int i = 0; i <= round % 6; ++i) bytes[random() % (i % 2 ? bytes.size() : 1024)] = random() & 0xFF;
            files.push_back(dir.write(label + "_mut" + std::to_string(round), bytes));
        }
    }
    std::vector<std::string> args = {"check", "--symbols"};
    args.insert(args.end(), files.begin(), files.end());
    // Faults inside the system's loader are the damaged modules' doing and are reported as their
    // findings; under AddressSanitizer they are left to the default handling, so that any report
    // the sanitizer makes is about the inspection itself.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const auto result = orb(args, {{"ASAN_OPTIONS", std::string(asan ? asan : "detect_leaks=0") +
                                                        ":handle_segv=0:handle_sigbus=0:handle_abort=0"}});
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 1) << result.exitCode << "\n" << result.err;
    EXPECT_FALSE(contains(result.err, "Sanitizer")) << result.err;
    std::size_t verdicts = 0;
    std::size_t refused = 0;
    for (const std::string& line : lines(result.out)) {
        if (line.starts_with(dir.path(""))) ++verdicts;
        if (line.starts_with("  ENOTORB: ") || line.starts_with("  EBADBIN: ")) ++refused;
    }
    EXPECT_EQ(verdicts, files.size());
    EXPECT_GE(refused, 3u + 3u * 20u);  // the non-binaries and (at least) the cut ELF files
}

}  // namespace
