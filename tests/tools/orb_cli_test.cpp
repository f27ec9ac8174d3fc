// The orb command line: subcommand dispatch, help, usage errors and `orb version`.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "support/run_child.hpp"

namespace {

const std::string kOrb = std::string(ORB_STAGE_DIR) + "/bin/orb";

orbtest::ChildResult orb(const std::vector<std::string>& args) {
    if (!std::filesystem::exists(kOrb)) throw std::runtime_error(kOrb + " is not built");
    return orbtest::runChild(kOrb, args);
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(OrbCli, DispatchHelpAndUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* out;  // expected in standard output ("" for nothing in particular)
        const char* err;  // expected in standard error
    };
    const Case cases[] = {
        {{}, 2, "", "usage: orb SUBCOMMAND"},
        {{"help"}, 0, "version", ""},
        {{"--help"}, 0, "usage: orb SUBCOMMAND", ""},
        {{"version", "--help"}, 0, "usage: orb version", ""},
        {{"help", "version"}, 0, "usage: orb version", ""},
        {{"frobnicate"}, 2, "", "unknown subcommand 'frobnicate'"},
        {{"--version"}, 2, "", "unknown subcommand '--version'"},
        {{"version", "--frobnicate"}, 2, "", "orb version: "},
    };
    for (const auto& c : cases) {
        std::string label = "orb";
        for (const auto& a : c.args) label += " " + a;
        const auto result = orb(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << label << "\n" << result.out << result.err;
        EXPECT_TRUE(contains(result.out, c.out)) << label << " stdout:\n" << result.out;
        EXPECT_TRUE(contains(result.err, c.err)) << label << " stderr:\n" << result.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(result.err, "") << label;
        }
    }
}

TEST(OrbCli, VersionNamesReleaseAndCurrentInterface) {
    const auto result = orb({"version"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "R2024b")) << result.out;
    const std::string interfaceName = host::i18n::to_string(host::get_current_version_name());
    ASSERT_FALSE(interfaceName.empty());
    EXPECT_TRUE(contains(result.out, interfaceName)) << result.out;
}

}  // namespace
