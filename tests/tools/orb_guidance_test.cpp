// How the tools explain themselves: orb check's verdicts and fixes for every inspector fixture, its
// JSON and terminal layouts, leak reports of orb run and orb shell, and the shell's help and
// completion (driven through a pseudo-terminal, as a person at a keyboard would).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <regex>
#include <string>
#include <vector>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "support/files.hpp"
#include "support/orb_tool.hpp"

namespace {

namespace fs = std::filesystem;
using orbtest::contains;
using orbtest::kOrb;
using orbtest::lines;
using orbtest::orb;

const fs::path kModules = ORB_TEST_MODULE_DIR;
const fs::path kPeFixtures = fs::path(ORB_SOURCE_DIR) / "tests" / "fixtures" / "pe";

// A shell command line run by sh, in `folder`.
orbtest::ChildResult sh(const std::string& command, const fs::path& folder = fs::current_path(),
                        const std::map<std::string, std::string>& env = {}) {
    return orbtest::runChild("/usr/bin/env", {"sh", "-c", "cd \"$0\" && " + command, folder.string()}, env);
}

// Runs `command` on a pseudo-terminal (with `input` typed into it); answers what the terminal
// showed, carriage returns removed.
std::string onTerminal(const std::string& command, const std::string& input, const fs::path& folder,
                       const std::map<std::string, std::string>& env = {}) {
    const fs::path inputFile = fs::path(ORB_TEST_BINARY_DIR) / ("terminal_input_" + std::to_string(::getpid()));
    std::ofstream(inputFile) << input;
    const auto result = sh("timeout 60 script -qec '" + command + "' /dev/null < \"" + inputFile.string() + "\"", folder, env);
    fs::remove(inputFile);
    std::string text;
    for (char c : result.out) {
        if (c != '\r') text += c;
    }
    return text;
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

std::vector<std::string> inspectorFixtures() {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(kModules)) {
        if (entry.path().filename().string().starts_with("inspect_")) files.push_back(entry.path().string());
    }
    for (const auto& folder : {kPeFixtures, kPeFixtures.parent_path() / "bundle"}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            const auto extension = entry.path().extension();
            if (extension == ".dll" || extension == ".exe") files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// One file's part of a text report: the verdict line and the lines under it.
struct FileReport {
    std::string verdict;
    std::vector<std::string> body;
};

std::map<std::string, FileReport> reportsByFile(const std::string& out, const std::vector<std::string>& files) {
    std::map<std::string, FileReport> reports;
    FileReport* current = nullptr;
    for (const auto& line : lines(out)) {
        bool isVerdict = false;
        for (const auto& file : files) {
            if (line.starts_with(file + ": ")) {
                current = &reports[file];
                current->verdict = line.substr(file.size() + 2);
                isVerdict = true;
            }
        }
        if (!isVerdict && current != nullptr) current->body.push_back(line);
    }
    return reports;
}

TEST(OrbCheckGuidance, EveryFixtureGetsAVerdictAndAFixForEachFinding) {
    auto files = inspectorFixtures();
    ASSERT_GE(files.size(), 25u);
    const fs::path scratch = orbtest::scratchDir();
    const std::string text = (scratch / "notes.orbw64").string();
    std::ofstream(text) << "not a module\n";
    files.push_back(text);
    files.push_back((scratch / "missing.orbw64").string());

    std::vector<std::string> args = {"check"};
    args.insert(args.end(), files.begin(), files.end());
    const auto result = orb(args);
    EXPECT_EQ(result.exitCode, 1);
    const auto reports = reportsByFile(result.out, files);
    const std::regex verdict(R"((ok - can be used with this release|error - .+ \([EU][A-Z]{6}\)|upgrade recommended - .+))");
    const std::regex finding(R"(  ([EU][A-Z]{6}): .+)");
    for (const auto& file : files) {
        const auto found = reports.find(file);
        ASSERT_NE(found, reports.end()) << file << " has no verdict\n" << result.out;
        const FileReport& report = found->second;
        EXPECT_TRUE(std::regex_match(report.verdict, verdict)) << file << ": " << report.verdict;
        // Each finding is followed, before the next one, by a fix a newcomer can act on.
        std::string open;
        for (const auto& line : report.body) {
            std::smatch match;
            if (std::regex_match(line, match, finding)) {
                EXPECT_EQ(open, "") << file << ": finding " << open << " has no fix";
                open = match[1];
                EXPECT_TRUE(contains(report.verdict, open) || !report.verdict.starts_with("error"))
                    << file << ": the verdict does not name the error " << open;
            } else if (line.starts_with("    fix: ")) {
                EXPECT_NE(open, "") << file << ": a fix without a finding";
                const std::string fix = line.substr(9);
                EXPECT_TRUE(contains(fix, "orb build") || contains(fix, "chmod") || contains(fix, "orb check"))
                    << file << " " << open << ": " << fix;
                open.clear();
            }
        }
        EXPECT_EQ(open, "") << file << ": finding " << open << " has no fix";
    }

    // What the fix says depends on what was found: the interface option to build with, or the
    // source change.
    struct Case {
        const char* file;
        const char* verdict;
        std::vector<const char*> fix;  // all of these appear in the file's fix lines
    };
    const Case cases[] = {
        {"inspect_mixed_700_800", "error - mixes two array interface generations (ELNKAPI)",
         {"orb build -R2018a SOURCES", "do not link objects compiled with -compatibleArrayDims"}},
        {"inspect_mixed_700_730", "error - mixes", {"orb build -R2017b SOURCES"}},
        {"inspect_mixed_730_800", "error - mixes", {"orb build -R2017b SOURCES", "replace ryGetPi with"}},
        {"inspect_c800_novf", "error - carries no interface version (ENOEVER)", {"orb build -R2018a SOURCES"}},
        {"inspect_c730_vf800", "error - its embedded version contradicts its code (EVERAPI)", {"orb build -R2017b"}},
        {"inspect_c800_vf730", "error - its embedded version", {"orb build -R2018a"}},
        {"inspect_c800_vf_future", "error - built by a newer release (EUNKAPI)", {"orb build SOURCES"}},
        {"inspect_cpp_700", "error - a C++ module", {"orb::data", "remove the calls of ryGetPr"}},
        {"inspect_no_entry", "error - no entry point the loader accepts (ENOENTP)",
         {"void orbFunction(int nlhs", "`orb build SOURCES`"}},
        {"inspect_c730", "upgrade recommended - uses separate imaginary parts", {"replace ryGetPi with ryGetComplexDoubles"}},
        {"inspect_fortran", "upgrade recommended - built for an earlier interface", {"orb build -R2018a"}},
        {"inspect_c800_vf", "ok - can be used with this release", {}},
        {"notes", "error - not a module of this platform (ENOTORB)", {"rebuild it from its sources: `orb build SOURCES`"}},
        {"missing", "error - no such file (ENOFILE)", {"check the path"}},
    };
    for (const Case& c : cases) {
        const auto found = std::find_if(files.begin(), files.end(), [&](const std::string& f) {
            return fs::path(f).stem() == c.file;
        });
        ASSERT_NE(found, files.end()) << c.file;
        const FileReport& report = reports.at(*found);
        EXPECT_TRUE(report.verdict.starts_with(c.verdict)) << c.file << ": " << report.verdict;
        std::string fixes;
        for (const auto& line : report.body) {
            if (line.starts_with("    fix: ")) fixes += line + "\n";
        }
        for (const char* part : c.fix) EXPECT_TRUE(contains(fixes, part)) << c.file << ": " << part << "\n" << fixes;
        if (c.fix.empty()) {
            EXPECT_EQ(fixes, "") << c.file;
        }
    }
    // Windows libraries are inspected, with a note that they do not load here.
    const FileReport& pe = reports.at((kPeFixtures / "pe64_c800_manifest.dll").string());
    ASSERT_FALSE(pe.body.empty());
    EXPECT_TRUE(pe.body[0].starts_with("  note: a Windows library")) << pe.body[0];
}

TEST(OrbCheckGuidance, FixNamesTheModulesSourceWhenItLiesBesideIt) {
    const fs::path scratch = orbtest::scratchDir();
    fs::copy_file(kModules / "inspect_c800_novf.orbw64", scratch / "gain.orbw64");
    fs::copy_file(kModules / "inspect_c800_novf.orbw64", scratch / "alone.orbw64");
    std::ofstream(scratch / "gain.c") << "/* the module's source */\n";
    struct Case {
        std::string command;
        std::string fix;
    };
    const Case cases[] = {
        {kOrb + " check gain.orbw64", "orb build -R2018a gain.c"},
        {kOrb + " check alone.orbw64", "orb build -R2018a SOURCES"},
        {kOrb + " check " + (scratch / "gain.orbw64").string(),
         "orb build -R2018a " + (scratch / "gain.c").string()},
    };
    for (const Case& c : cases) {
        const auto result = sh(c.command, scratch);
        EXPECT_TRUE(contains(result.out, "    fix: link it with orb build, which embeds the version: `" + c.fix + "`\n"))
            << c.command << "\n" << result.out;
    }
    // The fix works: building the source beside the module gives a module that passes.
    std::ofstream(scratch / "gain.c") << "#include \"orb.h\"\n"
                                                "void orbFunction(int nlhs, ryArray *plhs[], int nrhs, const ryArray *prhs[]) {\n"
                                                "    (void)nlhs; (void)nrhs; (void)prhs;\n"
                                                "    plhs[0] = ryCreateDoubleScalar(1);\n"
                                                "}\n";
    const auto build = sh(kOrb + " build -R2018a gain.c && " + kOrb + " check gain.orbw64", scratch,
                          {{"VELTRA_ROOT", ORB_STAGE_DIR}});
    EXPECT_EQ(build.exitCode, 0) << build.out << build.err;
    EXPECT_TRUE(contains(build.out, "gain.orbw64: ok - ")) << build.out;
}

TEST(OrbCheckGuidance, JsonParsesAndSaysWhatTheTextSays) {
    const auto files = inspectorFixtures();
    std::vector<std::string> args = {"check", "--no-strict", "--json", "--symbols"};
    args.insert(args.end(), files.begin(), files.end());
    const auto result = orb(args);
    EXPECT_EQ(result.exitCode, 1);
    const auto json = nlohmann::json::parse(result.out);
    args.erase(args.begin() + 2, args.begin() + 4);
    const auto text = reportsByFile(orb(args).out, files);
    EXPECT_EQ(json["strict"], false);
    ASSERT_EQ(json["files"].size(), files.size());
    for (const auto& entry : json["files"]) {
        const std::string file = entry["file"];
        EXPECT_EQ(entry["headline"], text.at(file).verdict) << file;
        EXPECT_FALSE(entry.contains("summary")) << file;
        std::size_t fixLine = 0;
        for (const auto& message : entry["messages"]) {
            const std::string fix = message["fix"];
            EXPECT_FALSE(fix.empty()) << file << " " << message["id"];
            EXPECT_FALSE(message["title"].get<std::string>().empty()) << file;
            // The same fix as the text report's, in the same order.
            const auto& body = text.at(file).body;
            while (fixLine < body.size() && !body[fixLine].starts_with("    fix: ")) ++fixLine;
            ASSERT_LT(fixLine, body.size()) << file;
            EXPECT_EQ(body[fixLine++].substr(9), fix) << file;
        }
        // The symbol listings are the system's.
        if (!file.ends_with(".orbw64")) continue;
        EXPECT_EQ(entry["defined"].get<std::vector<std::string>>(), orbtest::nmNames(file, true)) << file;
        EXPECT_EQ(entry["undefined"].get<std::vector<std::string>>(), orbtest::nmNames(file, false)) << file;
    }
    const auto mixed = std::find_if(json["files"].begin(), json["files"].end(), [](const auto& entry) {
        return entry["file"].template get<std::string>().ends_with("/inspect_mixed_730_800.orbw64");
    });
    ASSERT_NE(mixed, json["files"].end());
    EXPECT_EQ((*mixed)["verdict"], "error");
    ASSERT_EQ((*mixed)["messages"].size(), 1u);
    EXPECT_EQ((*mixed)["messages"][0]["id"], "ELNKAPI");
    EXPECT_FALSE((*mixed)["messages"][0]["action"].get<std::string>().empty());
    EXPECT_EQ((*mixed)["messages"][0]["symbols"],
              nlohmann::json({"ryGetPi", "ryGetPi", "ryCreateDoubleMatrix", "ryGetPr", "rySetPr"}));
}

TEST(OrbCheckGuidance, ColoursAndWrapsOnlyOnATerminal) {
    const std::string mixed = (kModules / "inspect_mixed_730_800.orbw64").string();
    const std::string ok = (kModules / "inspect_c800_vf.orbw64").string();
    const std::string check = kOrb + " check " + quoted(mixed) + " " + quoted(ok);
    const std::string red = "\x1b[1;31merror\x1b[0m";
    const std::string green = "\x1b[1;32mok\x1b[0m";

    // Piped: plain unless asked for.
    EXPECT_FALSE(contains(orb({"check", mixed, ok}).out, "\x1b["));
    const auto forced = orb({"check", "--color", "always", mixed, ok}).out;
    EXPECT_TRUE(contains(forced, red) && contains(forced, green)) << forced;
    EXPECT_EQ(orb({"check", "--color", "purple", ok}).exitCode, 2);

    // On a terminal: coloured unless NO_COLOR or --color never, and wrapped to COLUMNS.
    const fs::path folder = fs::current_path();
    const auto coloured = onTerminal(check, "", folder, {{"COLUMNS", "60"}});
    EXPECT_TRUE(contains(coloured, red)) << coloured;
    EXPECT_FALSE(contains(onTerminal(check, "", folder, {{"COLUMNS", "60"}, {"NO_COLOR", "1"}}), "\x1b["));
    const auto plain = onTerminal(check + " --color never", "", folder, {{"COLUMNS", "60"}});
    EXPECT_FALSE(contains(plain, "\x1b["));
    // Every line fits, unless a word on it is too long to break (a label and one word, or the
    // file name that starts a verdict line); the words are those of the piped report.
    std::vector<std::string> pipedWords;
    std::istringstream piped(orb({"check", mixed, ok}).out);
    for (std::string word; piped >> word;) pipedWords.push_back(word);
    const auto expectWrapped = [&](const std::string& shown, const char* what) {
        std::size_t continued = 0;
        std::vector<std::string> words;
        for (const auto& line : lines(shown)) {
            std::istringstream in(line);
            std::size_t count = 0;
            for (std::string word; in >> word; ++count) words.push_back(word);
            if (count > 2 && !line.starts_with("/")) {
                EXPECT_LE(line.size(), 60u) << what << ": " << line;
            }
            if (line.starts_with("    ") && !line.starts_with("    action:") && !line.starts_with("    symbols:") &&
                !line.starts_with("    fix:")) {
                ++continued;
            }
        }
        EXPECT_GT(continued, 2u) << what << ": nothing was wrapped:\n" << shown;
        EXPECT_EQ(words, pipedWords) << what;
    };
    expectWrapped(plain, "plain");
    expectWrapped(std::regex_replace(coloured, std::regex("\x1b\\[[0-9;]*m"), ""), "coloured");
}

TEST(OrbLeakReports, EachCallSaysWhatTheRuntimeFreedForIt) {
    const std::string path = "--path=" + kModules.string();
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> expected;  // in this order on standard error
    };
    // alloc_many creates and forgets 10000 1x4 double arrays and 10000 blocks of 32 bytes.
    const std::string allocMany = "leaks: alloc_many left 10000 arrays (320000 bytes) and 10000 memory blocks (320000 bytes)\n";
    const Case cases[] = {
        {{"run", "--leaks", path, "alloc_many"}, {allocMany}},
        {{"run", "--leaks", path, "twice", "[1 2]"}, {"leaks: twice left nothing\n"}},
        // A call made from inside another call is reported first, indented under it.
        {{"run", "--leaks", path, "-e", "s = nested_outer(1)"},
         {"  leaks: nested_inner (failed) left nothing\n", "leaks: nested_outer left nothing\n"}},
        {{"run", "--leaks", path, "-e", "twice(1); alloc_many; twice(2);"},
         {"leaks: twice left nothing\n", allocMany, "leaks: twice left nothing\n"}},
        {{"run", path, "alloc_many"}, {}},
    };
    for (const Case& c : cases) {
        const auto result = orb(c.args);
        const std::string label = orbtest::commandLine(c.args);
        EXPECT_EQ(result.exitCode, 0) << label << "\n" << result.err;
        std::size_t at = 0;
        for (const auto& line : c.expected) {
            const auto found = result.err.find(line, at);
            EXPECT_NE(found, std::string::npos) << label << ": " << line << "in\n" << result.err;
            if (found != std::string::npos) at = found + line.size();
        }
        if (c.expected.empty()) {
            EXPECT_FALSE(contains(result.err, "leaks:")) << label << "\n" << result.err;
        }
    }
}

TEST(OrbShellGuidance, HelpAndLeakCommands) {
    const std::string input =
        "x = int8([1 2 3]);\n"
        "help x\n"
        "help twice\n"
        "help inspect_mixed_700_800\n"
        "help disp\n"
        "help nosuch\n"
        "help\n"
        "leaks\n"
        "leaks on\n"
        "twice(2);\n"
        "alloc_many;\n"
        "leaks off\n"
        "alloc_many;\n"
        "leaks\n"
        "leaks sideways\n"
        "help = 3;\n"
        "help\n";
    const auto result = orbtest::orbShell(input, {"--path", kModules.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::string& out = result.out;
    for (const std::string& expected : {
             std::string("x is a variable: int8 1x3\n"),
             "twice is a module function: " + (kModules / "twice.orbw64").string() + "\n",
             std::string("  not loaded yet; call it as twice(ARGS)"),
             std::string("  a C or Fortran module; check: ok - can be used with this release\n"),
             std::string("check: error - mixes two array interface generations (ELNKAPI)\n  fix: compile every source"),
             std::string("disp is a built-in function of the reference host.\n  disp(value): "),
             std::string("nosuch is neither a variable, a built-in nor a module on the search path: "),
             std::string("Commands of the shell:\n"),
             std::string("leak reports are off; module calls so far left nothing\n"),
             std::string("leak reports on\n"),
             std::string("leak reports off\n"),
             std::string("leak reports are off; module calls so far left 20000 arrays (640000 bytes) and 20000 memory "
                         "blocks (640000 bytes)\n"),
             std::string("usage: leaks [on|off]\n"),
             // A variable named help is a variable, not the command.
             std::string("help = 3\n"),
         }) {
        EXPECT_TRUE(contains(out, expected)) << expected << "\n--- in ---\n" << out;
    }
    // The overview lists the modules found on the path and the built-ins.
    const auto overview = out.find("Modules on the search path:");
    ASSERT_NE(overview, std::string::npos) << out;
    const std::string listing = out.substr(overview, out.find('\n', out.find("Built-ins:", overview)) - overview);
    for (const char* name : {" twice", " alloc_many", " disp", " evalin"}) EXPECT_TRUE(contains(listing, name)) << name;
    // Only the call made while reports were on is reported.
    EXPECT_EQ(result.err, "leaks: twice left nothing\nleaks: alloc_many left 10000 arrays (320000 bytes) and 10000 memory "
                          "blocks (320000 bytes)\n");
}

TEST(OrbShellGuidance, TabCompletesVariablesBuiltinsAndModules) {
    // Typed at a terminal: a tab after the start of a name completes it when it is the only match.
    const std::string typed =
        "someLongVariable = 41;\n"
        "someLo\t + 1\n"      // a variable
        "twi\t([1 2])\n"      // a module on the search path
        "eval\t('base', 'z = 7')\n"  // a built-in
        "z\n"
        "exit\n";
    const auto shown = onTerminal(quoted(kOrb) + " shell --path " + quoted(kModules.string()), typed, fs::current_path());
    EXPECT_TRUE(contains(shown, "ans = 42")) << shown;
    EXPECT_TRUE(contains(shown, "2    4")) << shown;
    EXPECT_TRUE(contains(shown, "z = 7")) << shown;
    EXPECT_FALSE(contains(shown, "Error")) << shown;
}

}  // namespace
