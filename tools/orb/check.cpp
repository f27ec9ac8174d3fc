// orb check: diagnose module files without loading them. For each file: a one-line verdict, then
// each finding with its identifier, reason, action, the symbols behind it and the command or
// change that fixes it; on request the inspector's summary line and classification log, and the
// symbol names it read. On a terminal the report is wrapped and coloured.

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>
#include <nlohmann/json.hpp>

#include "check_advice.hpp"
#include "check_report.hpp"
#include "host/i18n.hpp"
#include "orbfile/module_verdict.hpp"
#include "platform/isolated_call.hpp"
#include "startup/log_record.hpp"
#include "subcommand.hpp"

namespace orbtool {
namespace {

namespace po = boost::program_options;

constexpr const char* kUsage = R"(usage: orb check [OPTIONS] FILE...

Says for each module file whether it can be used with this release and, if not, why and what to
do: one verdict line per file, then each finding with its reason, the action, the functions
behind it and the orb build command or source change that fixes it (SOURCES stands for the
module's source files when none of its name lies beside it). Findings starting with E are
errors, with U upgrade recommendations; docs/messages.md explains each.

A file passes only if the loader would load it: the file is checked as the loader checks it
before mapping, its entry point is looked up by the loader's rule, and its start-up code (global
constructors) is run to the end in a separate process, as the loader does before it maps a
module. Nothing else of the module runs, except the version function of a module that has one
and no embedded manifest; each file is inspected in a process of its own, so a module that
crashes while it is loaded is reported, not fatal. orb manifest FILE shows the embedded manifest
itself.

Options:
  --strict       apply the upgrade rules too (the default)
  --no-strict    report errors only
  --no-startup   run nothing of the module, not even its start-up code in a separate process:
                 start-up failures are not found, and a module whose version only its version
                 function holds gets ENOTORB; the report says so
  --summary      print the inspector's one-line summary of each file
  --log          print the inspector's classification of the symbols
  --symbols      print the defined and undefined symbol names read from each file
  --json         write the report as one JSON document
  --color WHEN   colour the report: auto (on a terminal, unless NO_COLOR is set), always, never
  -h, --help     show this help

Exit status: 0 no file has an error, 1 a file has an error (a missing file or a folder is one),
2 usage error.
)";

// How long one file's inspection may take (loading a module runs its initialisation).
constexpr unsigned kInspectionSeconds = 30;

using check::Settings;

// Text for the terminal: a text that does not convert is shown with replacement characters
// rather than failing the report.
std::string utf8(std::u16string_view text) { return orb::startup::logText(text); }

void writeOut(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

const char* roleOf(const orbfile::ModuleVerdict& verdict) {
    switch (verdict.kind()) {
        case orbfile::ModuleVerdict::Kind::Error: return "error";
        case orbfile::ModuleVerdict::Kind::Upgrade: return "upgrade";
        case orbfile::ModuleVerdict::Kind::Ok: break;
    }
    return "ok";
}

void appendText(std::string& out, const std::string& file, orbfile::ModuleVerdict& checked, const Settings& settings) {
    const auto& layout = settings.layout;
    orbfile::Inspector& inspector = checked.inspector();
    const char* role = roleOf(checked);
    const std::string verdict = check::verdictLine(checked);
    const std::size_t word = std::string(check::verdictWord(checked)).size();
    out += check::wrapped(check::painted(file, "id", layout) + ": ",
                          check::painted(verdict.substr(0, word), role, layout) + verdict.substr(word), 4, layout);
    if (const std::string note = check::platformNote(file); !note.empty()) {
        out += check::wrapped("  note: ", note, 8, layout);
    }
    if (const std::string note = check::startupNote(checked); !note.empty()) {
        out += check::wrapped("  note: ", note, 8, layout);
    }
    for (const auto& message : checked.findings()) {
        const std::string& id = message.id;
        out += check::wrapped("  " + check::painted(id, "id", layout) + ": ", utf8(message.reason), 4, layout);
        if (!message.action.empty()) out += check::wrapped("    action: ", utf8(message.action), 12, layout);
        if (!message.symbols.empty()) {
            std::string symbols;
            for (const auto& symbol : message.symbols) symbols += (symbols.empty() ? "" : " ") + utf8(symbol);
            out += check::wrapped("    symbols: ", symbols, 13, layout);
        }
        out += check::wrapped("    " + check::painted("fix:", "fix", layout) + " ",
                              check::fixFor(message, file, check::moduleOf(checked)), 9, layout);
    }
    if (settings.summary) out += "  summary: " + utf8(inspector.get_summary());
    if (settings.log) out += "  log:\n" + utf8(inspector.get_log());
    if (settings.symbols) {
        // Listings of large libraries run to megabytes: one allocation for all of it.
        std::size_t size = out.size() + 64;
        for (const auto* names : {&inspector.get_defined_symbols(), &inspector.get_undefined_symbols()}) {
            for (const auto& name : *names) size += name.size() + 5;
        }
        out.reserve(size);
        const auto list = [&](const char* title, const std::vector<std::string_view>& names) {
            out += std::string("  ") + title + " (" + std::to_string(names.size()) + "):\n";
            for (const auto& name : names) {
                out += "    ";
                out += name;
                out += '\n';
            }
        };
        list("defined", inspector.get_defined_symbols());
        list("undefined", inspector.get_undefined_symbols());
    }
}

nlohmann::json toJson(const std::string& file, orbfile::ModuleVerdict& checked, const Settings& settings) {
    orbfile::Inspector& inspector = checked.inspector();
    nlohmann::json entry = {{"file", file},
                            {"verdict", roleOf(checked)},
                            {"headline", check::verdictLine(checked)},
                            {"messages", nlohmann::json::array()}};
    for (const auto& message : checked.findings()) {
        nlohmann::json symbols = nlohmann::json::array();
        for (const auto& symbol : message.symbols) symbols.push_back(utf8(symbol));
        entry["messages"].push_back({{"id", message.id},
                                     {"title", check::findingTitle(message.id)},
                                     {"reason", utf8(message.reason)},
                                     {"action", utf8(message.action)},
                                     {"fix", check::fixFor(message, file, check::moduleOf(checked))},
                                     {"symbols", std::move(symbols)}});
    }
    if (const std::string note = check::platformNote(file); !note.empty()) entry["note"] = note;
    if (checked.startup_skipped()) entry["startup"] = "skipped";
    if (settings.summary) entry["summary"] = utf8(inspector.get_summary());
    if (settings.log) entry["log"] = utf8(inspector.get_log());
    if (settings.symbols) {
        const auto array = [](const std::vector<std::string_view>& names) {
            nlohmann::json list = nlohmann::json::array();
            for (const std::string_view name : names) list.push_back(std::string(name));
            return list;
        };
        entry["defined"] = array(inspector.get_defined_symbols());
        entry["undefined"] = array(inspector.get_undefined_symbols());
    }
    return entry;
}

int runCheck(const std::vector<std::string>& args) {
    tools::CommandLine line;
    line.options.add_options()("help,h", "show this help")
        ("strict", "apply the upgrade rules too (the default)")
        ("no-strict", "report errors only")
        ("no-startup", "run nothing of the module, not even its start-up code in a separate process")
        ("summary", "print the inspector's one-line summary of each file")
        ("log", "print the inspector's classification of the symbols")
        ("symbols", "print the defined and undefined symbol names read from each file")
        ("json", "write the report as one JSON document")
        ("color", po::value<std::string>()->default_value("auto")->value_name("WHEN"),
         "colour the report: auto (on a terminal, unless NO_COLOR is set), always, never");
    line.options.add_options()("file", po::value<std::vector<std::string>>(), "module file");
    line.positional.add("file", -1);

    po::variables_map values;
    try {
        values = tools::readCommandLine(args, line);
        if (values.count("help") != 0) {
            std::cout << kUsage;
            return kExitOk;
        }
        if (values.count("strict") != 0 && values.count("no-strict") != 0) {
            throw UsageError("--strict and --no-strict exclude each other");
        }
        if (values.count("file") == 0) throw UsageError("no module file given: name one or more, as in orb check gain.orbw64");
        const std::string colour = values["color"].as<std::string>();
        if (colour != "auto" && colour != "always" && colour != "never") {
            throw UsageError("--color takes auto, always or never, not '" + colour + "'");
        }
    } catch (const UsageError& error) {
        std::cerr << "orb check: " << error.what() << "\nRun 'orb check --help' for usage.\n";
        return kExitUsage;
    }

    Settings settings;
    settings.strict = values.count("no-strict") == 0;
    settings.startup = values.count("no-startup") == 0;
    settings.summary = values.count("summary") != 0;
    settings.log = values.count("log") != 0;
    settings.symbols = values.count("symbols") != 0;
    settings.json = values.count("json") != 0;
    settings.layout = check::layoutForStdout(values["color"].as<std::string>());
    return check::printReport(values["file"].as<std::vector<std::string>>(), settings);
}

}  // namespace

int check::printReport(const std::vector<std::string>& files, const Settings& settings) {
    // Each inspection runs in a copy of this process: what the caller printed must not be copied
    // with it and printed twice.
    std::cout.flush();
    std::fflush(stdout);
    bool anyError = false;
    nlohmann::json report = {{"strict", settings.strict}, {"files", nlohmann::json::array()}};
    for (const auto& file : files) {
        std::u16string path;
        try {
            path = host::i18n::to_ustring(file);
        } catch (const std::exception&) {
            std::cerr << "orb check: the file name '" << file << "' is not valid UTF-8\n";
            anyError = true;
            continue;
        }
        // A folder is no module file, whatever its name; say so rather than what the inspector
        // makes of the bytes it cannot read.
        std::error_code folderError;
        if (std::filesystem::is_directory(file, folderError)) {
            anyError = true;
            const std::string headline = "error - a folder, not a module file";
            const std::string fix = "check the modules in it: `orb check " + file + "/*.orbw64`";
            if (settings.json) {
                report["files"].push_back({{"file", file}, {"verdict", "error"}, {"headline", headline},
                                           {"fix", fix}, {"messages", nlohmann::json::array()}});
            } else {
                const auto& layout = settings.layout;
                writeOut(check::wrapped(check::painted(file, "id", layout) + ": ",
                                        check::painted("error", "error", layout) + headline.substr(5), 4, layout) +
                         check::wrapped("  " + check::painted("fix:", "fix", layout) + " ", fix, 7, layout));
            }
            continue;
        }
        // The child answers 1 when the file has an error. It writes a text report itself, when
        // the inspection is over (so a child that dies writes nothing), and hands a JSON entry
        // back to be put into the document.
        const auto outcome = orb::platform::runIsolated(
            [&](std::string& out) {
                orbfile::ModuleVerdict checked = orbfile::checkModule(path, {settings.strict, settings.startup});
                if (settings.json) {
                    out = toJson(file, checked, settings).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
                } else {
                    std::string report;
                    appendText(report, file, checked, settings);
                    writeOut(report);
                }
                return checked.has_error() ? 1 : 0;
            },
            kInspectionSeconds);
        if (outcome.completed) {
            anyError = anyError || outcome.status != 0;
            if (settings.json) report["files"].push_back(nlohmann::json::parse(outcome.output));
            continue;
        }
        // Reading the file's version loads it; a damaged library can end the process that does.
        anyError = true;
        const std::string note = "the inspection ended with " + orb::platform::describeFailure(outcome, kInspectionSeconds) +
                                 "; loading a damaged module to read its version can end so";
        const std::string reason = utf8(host::i18n::GetFormattedMessage("VELTRA:orb:ENOTORB_reason", {path}));
        const std::string action = utf8(host::i18n::get_message("VELTRA:orb:ENOTORB_action"));
        const orbfile::ModuleVerdict::Finding finding{"ENOTORB", true, {}, {}, {}};
        const std::string fix = check::fixFor(finding, file, {});
        const std::string title = check::findingTitle("ENOTORB");
        if (settings.json) {
            report["files"].push_back({{"file", file},
                                       {"verdict", "error"},
                                       {"headline", "error - " + title + " (ENOTORB)"},
                                       {"note", note},
                                       {"messages", {{{"id", "ENOTORB"}, {"title", title}, {"reason", reason},
                                                      {"action", action}, {"fix", fix},
                                                      {"symbols", nlohmann::json::array()}}}}});
        } else {
            const auto& layout = settings.layout;
            writeOut(check::wrapped(check::painted(file, "id", layout) + ": ",
                                    check::painted("error", "error", layout) + " - " + title + " (ENOTORB)", 4, layout) +
                     check::wrapped("  " + check::painted("ENOTORB", "id", layout) + ": ", reason, 4, layout) +
                     check::wrapped("    action: ", action, 12, layout) +
                     check::wrapped("    note: ", note, 10, layout) +
                     check::wrapped("    " + check::painted("fix:", "fix", layout) + " ", fix, 9, layout));
        }
    }
    if (settings.json) {
        // Symbol names are bytes; any that are not UTF-8 are shown with replacement characters.
        writeOut(report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    }
    return anyError ? kExitFailure : kExitOk;
}

namespace {

const SubcommandRegistration registration(
    {"check", "say whether module files can be used here, and if not why and how to fix it", &runCheck});

}  // namespace
}  // namespace orbtool
