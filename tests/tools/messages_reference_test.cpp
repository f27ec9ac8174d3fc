// docs/messages.md against the code: every identifier the runtime and the reference host raise
// (found by reading their sources) has an entry, the file is what its generator makes of the
// catalogue, and the generator notices drift and missing advice.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include <unistd.h>

#include "support/files.hpp"
#include "support/orb_tool.hpp"

namespace {

namespace fs = std::filesystem;
const fs::path kSource = ORB_SOURCE_DIR;

// Identifiers raised, warned or formatted in the sources under `folder`, with where each was seen.
std::map<std::string, std::string> identifiersUsedIn(const fs::path& folder) {
    // A tag type: raiseError<VELTRA::orb::ErrOutOfMem>, warn<VELTRA::atExit::FailedToCleanup>, ...
    static const std::regex tag(R"(<\s*(VELTRA(?:::[A-Za-z_0-9]+){2,3})\s*>)");
    // A whole identifier as a text: "VELTRA:parse", "parallel:threadpool:DisallowedOrbFunction".
    static const std::regex literal(R"re("((?:VELTRA|parallel)(?::[A-Za-z_0-9]+)+)")re");
    // A component and a mnemonic given apart: MessageIdException("VELTRA:i18n", "invalidText", ...).
    static const std::regex split(R"re(MessageIdException\(\s*"([A-Za-z_0-9:]+)"\s*,\s*"([A-Za-z_0-9]+)")re");
    // The array library's errors: raise("wrongClass", ...) in vhost/ry.
    static const std::regex arrayError(R"re(\braise\(\s*"([A-Za-z_0-9]+)")re");
    // Rows of the runtime's list.
    static const std::regex row(R"(\bX([23])\(\s*([A-Za-z_0-9]+)\s*,\s*([A-Za-z_0-9]+)\s*,\s*([A-Za-z_0-9]+)\s*(?:,\s*([A-Za-z_0-9]+)\s*)?,\s*\d+\s*\))");

    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const auto extension = entry.path().extension();
        if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".hpp")) continue;
        // Comments may show made-up identifiers as examples: only code counts.
        static const std::regex comment(R"(//[^\n]*|/\*[\s\S]*?\*/)");
        const std::string text = std::regex_replace(orbtest::readBytes(entry.path()), comment, " ");
        const std::string where = fs::relative(entry.path(), kSource).string();
        for (std::sregex_iterator m(text.begin(), text.end(), tag), end; m != end; ++m) {
            found.emplace(std::regex_replace((*m)[1].str(), std::regex("::"), ":"), where);
        }
        for (std::sregex_iterator m(text.begin(), text.end(), literal), end; m != end; ++m) {
            found.emplace((*m)[1].str(), where);
        }
        for (std::sregex_iterator m(text.begin(), text.end(), split), end; m != end; ++m) {
            found.emplace((*m)[1].str() + ":" + (*m)[2].str(), where);
        }
        if (where.starts_with("vhost/ry/")) {
            for (std::sregex_iterator m(text.begin(), text.end(), arrayError), end; m != end; ++m) {
                found.emplace("VELTRA:ry:" + (*m)[1].str(), where);
            }
        }
        for (std::sregex_iterator m(text.begin(), text.end(), row), end; m != end; ++m) {
            std::string id = (*m)[2].str() + ":" + (*m)[3].str() + ":" + (*m)[4].str();
            if ((*m)[5].matched) id += ":" + (*m)[5].str();
            found.emplace(id, where);
        }
    }
    return found;
}

// Identifiers the reference shows in code quotes.
std::set<std::string> documentedIdentifiers(const std::string& reference) {
    static const std::regex quoted(R"(`((?:VELTRA|parallel)(?::[A-Za-z_0-9]+)+)`)");
    std::set<std::string> ids;
    for (std::sregex_iterator m(reference.begin(), reference.end(), quoted), end; m != end; ++m) ids.insert((*m)[1].str());
    return ids;
}

orbtest::ChildResult generator(const fs::path& root, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"python3", (kSource / "docs" / "generate_messages.py").string(), "--root",
                                     root.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return orbtest::runChild("/usr/bin/env", args);
}

TEST(MessagesReference, EveryIdentifierUsedInTheCodeIsDocumented) {
    const std::string reference = orbtest::readBytes(kSource / "docs" / "messages.md");
    ASSERT_FALSE(reference.empty()) << "docs/messages.md is missing";
    const auto documented = documentedIdentifiers(reference);
    std::map<std::string, std::string> used = identifiersUsedIn(kSource / "src");
    used.merge(identifiersUsedIn(kSource / "vhost"));
    // The scan must see the kinds of use it is meant to see, or it proves nothing.
    for (const char* sample : {"VELTRA:orb:ErrInvalidORBFile", "VELTRA:ry:wrongClass", "VELTRA:i18n:invalidText",
                               "VELTRA:parse", "parallel:threadpool:DisallowedOrbFunction",
                               "VELTRA:mtasks:constraints:DisallowedOrbFunction", "VELTRA:orb:ENOEVER_reason"}) {
        EXPECT_TRUE(used.count(sample)) << "the scan of the sources did not find " << sample;
    }
    for (const auto& [id, where] : used) {
        // A component on its own ("VELTRA:ry") is a prefix used to build identifiers.
        const bool component = std::any_of(documented.begin(), documented.end(),
                                           [&](const std::string& d) { return d.starts_with(id + ":"); });
        if (component) continue;
        EXPECT_TRUE(documented.count(id)) << id << " (used in " << where << ") is missing from docs/messages.md";
    }
}

TEST(MessagesReference, IsWhatTheGeneratorMakesOfTheCatalogue) {
    const auto check = generator(kSource, {"--check"});
    EXPECT_EQ(check.exitCode, 0) << check.err;
    EXPECT_EQ(check.err, "");
}

// The generator in a copy of the tree whose sources were changed: each change must be noticed.
TEST(MessagesReference, GeneratorNoticesDriftAndMissingAdvice) {
    const fs::path scratch = fs::temp_directory_path() / ("messages_reference_" + std::to_string(::getpid()));
    struct Case {
        const char* what;
        std::function<void(const fs::path& root)> change;
        const char* complaint;  // expected on standard error
    };
    const auto appendTo = [](const fs::path& file, const std::string& text) {
        std::ofstream(file, std::ios::app) << text;
    };
    const auto replaceIn = [](const fs::path& file, const std::string& from, const std::string& to) {
        std::string text = orbtest::readBytes(file);
        const auto at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    };
    const Case cases[] = {
        {"unchanged", [](const fs::path&) {}, nullptr},
        {"the reference edited by hand",
         [&](const fs::path& root) { appendTo(root / "docs" / "messages.md", "\nA note.\n"); }, "out of date"},
        {"a catalogue text changed",
         [&](const fs::path& root) {
             replaceIn(root / "resources" / "messages" / "vhost_ry.json", "Too many input arguments.",
                       "Too many inputs.");
         },
         "out of date"},
        {"a new catalogue identifier without advice",
         [&](const fs::path& root) {
             replaceIn(root / "resources" / "messages" / "vhost.json", "{\n", "{\n  \"VELTRA:demo:brandNew\": \"New.\",\n");
         },
         "VELTRA:demo:brandNew has no advice"},
        {"a runtime identifier without catalogue text",
         [&](const fs::path& root) {
             replaceIn(root / "src" / "capi" / "message_ids.hpp", "X2(VELTRA, orb, ErrOutOfMem, 1)",
                       "X2(VELTRA, orb, ErrOutOfMem, 1) X2(VELTRA, orb, Unwritten, 0)");
         },
         "VELTRA:orb:Unwritten is in src/capi/message_ids.hpp but has no catalogue text"},
        {"advice for an identifier that no longer exists",
         [&](const fs::path& root) {
             replaceIn(root / "resources" / "messages" / "vhost_ry.json", "\"VELTRA:minrhs\"", "\"VELTRA:minrhs2\"");
         },
         "advice for VELTRA:minrhs, which is in no catalogue"},
    };
    for (const Case& c : cases) {
        fs::remove_all(scratch);
        for (const char* part : {"resources/messages", "docs", "src/capi"}) fs::create_directories(scratch / part);
        fs::copy(kSource / "resources" / "messages", scratch / "resources" / "messages");
        for (const char* file : {"docs/messages.md", "docs/message_advice.json", "src/capi/message_ids.hpp"}) {
            fs::copy_file(kSource / file, scratch / file);
        }
        c.change(scratch);
        const auto result = generator(scratch, {"--check"});
        if (c.complaint == nullptr) {
            EXPECT_EQ(result.exitCode, 0) << c.what << "\n" << result.err;
        } else {
            EXPECT_EQ(result.exitCode, 1) << c.what;
            EXPECT_TRUE(orbtest::contains(result.err, c.complaint)) << c.what << "\n" << result.err;
        }
    }
    fs::remove_all(scratch);
}

}  // namespace
