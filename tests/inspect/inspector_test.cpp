// The inspector on real modules: which findings each kind of module gets in strict and lenient
// mode, the summary and the log, and paths that name no module; and the verdict orb check prints,
// which adds whether the loader would load the file: its findings, their catalogue arguments and
// symbols, and the start-up step left out.
#include <gtest/gtest.h>

#include <regex>

#include "host/i18n.hpp"
#include "inspect/inspect_support.hpp"
#include "orbfile/inspector.hpp"
#include "orbfile/module_verdict.hpp"

namespace {

using namespace inspecttest;
using orbfile::Inspector;

std::string narrow(const std::u16string& text) { return host::i18n::to_string(text); }
std::string narrow(const char16_t* text) { return text ? host::i18n::to_string(text) : "(null)"; }

std::vector<std::string> ids(const Inspector& inspector) {
    std::vector<std::string> names;
    for (const auto& message : inspector.get_messages()) names.push_back(narrow(Inspector::MessageID2uchar(message.id)));
    return names;
}

using Ids = std::vector<std::string>;
using Bytes = std::vector<unsigned char>;

TEST(Inspector, FindingsOfEachKindOfModule) {
    struct Case {
        std::string path;
        Ids strict;
        Ids lenient;
    };
    const Case cases[] = {
        // One generation each, with and without the version function.
        {modulePath("inspect_c700"), {"ULEGACY", "ULATEST"}, {}},
        {modulePath("inspect_c730"), {"UCOMPAT"}, {}},
        {modulePath("inspect_c800_vf"), {}, {}},
        {modulePath("inspect_c800_novf"), {"ENOEVER"}, {"ENOEVER"}},
        // Version functions that disagree with the imports.
        {modulePath("inspect_c800_vf_default"), {"EVERAPI"}, {}},
        {modulePath("inspect_c800_vf730"), {"EVERAPI"}, {"EVERAPI"}},
        {modulePath("inspect_c730_vf800"), {"EVERAPI"}, {"EVERAPI"}},
        {modulePath("inspect_c800_vf_future"), {"EUNKAPI"}, {"EUNKAPI"}},
        // An embedded manifest is read first; the version functions (stating 730) never run.
        {modulePath("inspect_c800_manifest800"), {}, {}},
        {modulePath("inspect_c800_manifest700"), {"EVERAPI"}, {"EVERAPI"}},
        // Mixed generations.
        {modulePath("inspect_mixed_700_800"), {"ELNKAPI"}, {"ELNKAPI"}},
        {modulePath("inspect_mixed_700_730"), {"ELNKAPI"}, {"ELNKAPI"}},
        {modulePath("inspect_namespaced"), {"ENOEVER"}, {"ENOEVER"}},
        // No entry point at all: an upgrade, before the others (whether the loader accepts the
        // entry point is the verdict's question, below).
        {modulePath("inspect_no_entry"), {"UENTRYP", "ULEGACY", "ULATEST"}, {}},
        {modulePath("inspect_fortran_no_underscore"), {"URECOMP"}, {}},
        // C++ modules: never URECOMP; the separate-complex interface is an error.
        {modulePath("inspect_cpp"), {}, {}},
        {modulePath("inspect_cpp_700"), {"ELNKCPP"}, {"ELNKCPP"}},
        // Fortran: without a version function the module is not current.
        {modulePath("inspect_fortran"), {"URECOMP"}, {}},
        {modulePath("inspect_fortran_vf"), {}, {}},
        // Windows modules are read on any platform.
        {pePath("pe64_c800_novf.dll"), {"ENOEVER"}, {"ENOEVER"}},
        {pePath("pe64_mixed_700_800.dll"), {"ELNKAPI"}, {"ELNKAPI"}},
        // Its version function can only be run where the file can be loaded; a manifest is read
        // anywhere.
        {pePath("pe64_c800_vf.dll"), {"ENOTORB"}, {"ENOTORB"}},
    };
    for (const Case& c : cases) {
        for (const bool strict : {true, false}) {
            const Inspector inspector(widen(c.path), strict);
            const Ids& want = strict ? c.strict : c.lenient;
            EXPECT_EQ(ids(inspector), want) << c.path << (strict ? " strict" : " lenient");
            const bool error = !want.empty() && want.front()[0] == 'E';
            EXPECT_EQ(inspector.has_error(), error) << c.path;
            EXPECT_EQ(inspector.needs_upgrade(), !want.empty() && !error) << c.path;
        }
    }
}

TEST(ModuleVerdict, ArgumentsAndSymbolsOfEachFinding) {
    struct Case {
        std::string module;
        bool strict;
        std::string id;
        std::vector<std::string> options;  // the reason's arguments after the path
        std::vector<std::string> symbols;
    };
    const Case cases[] = {
        {"inspect_mixed_700_800", true, "ELNKAPI", {"-compatibleArrayDims", "-R2018a"},
         {"ryGetDimensions", "ryCreateDoubleMatrix", "ryGetDoubles"}},
        // The imaginary-part accessor is listed twice: as a 730 import and as an accessor.
        {"inspect_mixed_730_800", true, "ELNKAPI", {"-R2017b", "-R2018a"},
         {"ryGetPi", "ryGetPi", "ryCreateDoubleMatrix", "ryGetPr", "rySetPr"}},
        {"inspect_c730_vf800", true, "EVERAPI", {"-R2017b", "-R2018a"}, {"ryCreateDoubleMatrix", "ryGetPi"}},
        {"inspect_c800_vf730", true, "EVERAPI", {"-R2018a", "-R2017b"}, {"ryCreateDoubleMatrix", "ryGetDoubles"}},
        // The build default stated by the version function reads as the 64-bit separate interface.
        {"inspect_c800_vf_default", true, "EVERAPI", {"-R2018a", "-R2017b"}, {"ryCreateDoubleMatrix", "ryGetDoubles"}},
        {"inspect_c800_vf_future", true, "EUNKAPI", {"R2025a"}, {}},
        {"inspect_c800_manifest700", false, "EVERAPI", {"-R2018a", "-compatibleArrayDims"},
         {"ryCreateDoubleMatrix", "ryGetDoubles"}},
        {"inspect_cpp_700", true, "ELNKCPP", {"-compatibleArrayDims"}, {"ryGetPr"}},
        {"inspect_c800_novf", true, "ENOEVER", {}, {}},
        {"inspect_c700", true, "ULEGACY", {}, {"ryGetDimensions"}},
        {"inspect_c700", true, "ULATEST", {}, {"ryGetPr"}},
        {"inspect_c730", true, "UCOMPAT", {}, {"ryGetPi"}},
        {"inspect_fortran", true, "URECOMP", {}, {}},
        // Readiness: the lookalike entry point is named; the missing C++ entry, and how the
        // start-up code failed, are the reason's argument.
        {"inspect_no_entry", true, "ENOENTP", {}, {}},
        {"inspect_fortran_no_underscore", true, "ENOENTP", {}, {"orbfunction"}},
        {"shape_cpp_no_destroy", true, "ECPPENT", {"orbDestroyOrbFunction"}, {}},
        {"hostile_ctor_throw", true, "ESTARTUP", {"its start-up code threw std::runtime_error: global ctor failed"}, {}},
        {"hostile_ctor_null", false, "ESTARTUP", {"its start-up code failed: signal 11 (Segmentation fault)"}, {}},
    };
    for (const Case& c : cases) {
        const std::string path = modulePath(c.module);
        const orbfile::ModuleVerdict verdict = orbfile::checkModule(widen(path), {c.strict, true});
        const orbfile::ModuleVerdict::Finding* found = nullptr;
        for (const auto& finding : verdict.findings()) {
            if (finding.id == c.id) found = &finding;
        }
        ASSERT_NE(found, nullptr) << c.module << " " << c.id;
        std::vector<host::MessageArg> args = {widen(path)};
        for (const auto& option : c.options) args.emplace_back(widen(option));
        EXPECT_EQ(narrow(found->reason), narrow(host::i18n::GetFormattedMessage("VELTRA:orb:" + c.id + "_reason", args)))
            << c.module;
        EXPECT_EQ(narrow(found->action), narrow(host::i18n::get_message("VELTRA:orb:" + c.id + "_action"))) << c.module;
        EXPECT_FALSE(found->action.empty()) << c.module;
        std::vector<std::string> symbols;
        for (const auto& symbol : found->symbols) symbols.push_back(narrow(symbol));
        EXPECT_EQ(symbols, c.symbols) << c.module << " " << c.id;
    }
}

// The verdict's findings: the loader's refusals first, the Inspector's errors with them, its
// upgrades only when nothing is refused. (Agreement with the loader over every test module is
// tests/inspect/verdict_agrees_with_loader_test.cpp.)
TEST(ModuleVerdict, FindingsOfFilesTheLoaderRefusesAndTheStartUpStepLeftOut) {
    ScratchDir dir;
    const std::string text = dir.write("notes.orbw64", Bytes{'n', 'o', 't', 'e', 's', '\n'});
    struct Case {
        std::string path;
        bool startup;
        Ids ids;  // strict
        bool skipped;
    };
    const Case cases[] = {
        {modulePath("inspect_c800_vf"), true, {}, false},
        {modulePath("inspect_c700"), true, {"ULEGACY", "ULATEST"}, false},
        // Refused by the loader: no upgrade advice with it.
        {modulePath("inspect_no_entry"), true, {"ENOENTP"}, false},
        {modulePath("hostile_ctor_undefined"), true, {"ENOLOAD"}, false},
        {modulePath("shape_missing_dependency"), true, {"ENOLOAD"}, false},
        // Not a binary, or a Windows module with its own error: that error; without one, the
        // platform.
        {text, true, {"ENOTORB"}, false},
        {pePath("pe64_c800_novf.dll"), true, {"ENOEVER"}, false},
        {pePath("pe64_c700.dll"), true, {"EPLATFM"}, false},
        {pePath("pe64_c800_manifest.dll"), true, {"EPLATFM"}, false},
        // Left out, the start-up code runs nowhere: its failure is not seen, and a version only the
        // version function holds cannot be read. A manifest is read without running anything.
        {modulePath("hostile_ctor_null"), false, {"URECOMP"}, true},
        {modulePath("inspect_c800_vf"), false, {"ENOTORB"}, true},
        {modulePath("inspect_c800_manifest800"), false, {}, true},
        {modulePath("inspect_no_entry"), false, {"ENOENTP"}, false},
    };
    for (const Case& c : cases) {
        const orbfile::ModuleVerdict verdict = orbfile::checkModule(widen(c.path), {true, c.startup});
        Ids found;
        for (const auto& finding : verdict.findings()) found.push_back(finding.id);
        EXPECT_EQ(found, c.ids) << c.path << (c.startup ? "" : " --no-startup");
        EXPECT_EQ(verdict.has_error(), !c.ids.empty() && c.ids.front()[0] == 'E') << c.path;
        EXPECT_EQ(verdict.startup_skipped(), c.skipped) << c.path;
    }
}

TEST(Inspector, PathsThatNameNoModule) {
    ScratchDir dir;
    const std::string text = dir.write("notes.orbw64", Bytes{'n', 'o', 't', 'e', 's', '\n'});
    const std::string missing = dir.path("missing.orbw64");
    struct Case {
        std::u16string path;
        std::string id;
        std::u16string shownPath;  // as the reason names it
    };
    const Case cases[] = {
        {u"", "ENONAME", u""},
        {u"\"\"", "ENONAME", u""},
        {widen(missing), "ENOFILE", widen(missing)},
        {u"\"" + widen(missing) + u"\"", "ENOFILE", widen(missing)},
        {widen(dir.path("")), "ENOTORB", widen(dir.path(""))},
        {widen(text), "ENOTORB", widen(text)},
    };
    for (const Case& c : cases) {
        const Inspector inspector(c.path, true);
        ASSERT_EQ(ids(inspector), Ids{c.id}) << narrow(c.path);
        EXPECT_TRUE(inspector.has_error());
        const auto& message = inspector.get_messages().front();
        EXPECT_TRUE(message.symbols.empty());
        const bool hasAction = c.id != "ENONAME" && c.id != "ENOFILE";
        EXPECT_EQ(message.action.empty(), !hasAction) << c.id;
        const auto args = c.id == "ENONAME" ? std::vector<host::MessageArg>{} : std::vector<host::MessageArg>{c.shownPath};
        EXPECT_EQ(message.reason, host::i18n::GetFormattedMessage("VELTRA:orb:" + c.id + "_reason", args));
        EXPECT_TRUE(inspector.get_defined_symbols().empty());
    }
    // Quotes around a module's path are not part of it.
    const Inspector quoted(u"\"" + widen(modulePath("inspect_c800_novf")) + u"\"", true);
    EXPECT_EQ(ids(quoted), Ids{"ENOEVER"});
}

TEST(Inspector, ABareFileNameIsTheFileInTheCurrentDirectory) {
    ScratchDir dir;
    dir.write("m.orbw64", readBytes(modulePath("inspect_c800_vf")));
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path(""));
    Inspector inspector(u"m.orbw64", true);  // its version function is read by loading it
    std::filesystem::current_path(previous);
    EXPECT_EQ(ids(inspector), Ids{});
    EXPECT_NE(narrow(inspector.get_summary()).find(" | R2024b 0x8000000 | "), std::string::npos);
}

TEST(Inspector, WhatTheAccessorsAnswer) {
    struct Case {
        std::string path;
        bool cpp;
        const char* macro;
        bool needsConsistentVersion;
        const char16_t* strategy;
    };
    const Case cases[] = {
        // No version function: the default version, which states no interface.
        {modulePath("inspect_c700"), false, "-DRY_COMPAT_32", true, u"1.0"},
        {modulePath("inspect_c730_vf"), false, "-DVELTRA_ORBCMD_RELEASE=R2017b", false, u"1.0"},
        {modulePath("inspect_c800_vf"), false, "-DVELTRA_ORBCMD_RELEASE=R2018a", false, u"1.0"},
        {modulePath("inspect_c800_vf_default"), false, "-DVELTRA_ORBCMD_RELEASE=R2018a", true, u"1.0"},
        {modulePath("inspect_c800_manifest800"), false, "-DVELTRA_ORBCMD_RELEASE=R2018a", false, u"2.0"},
        {modulePath("inspect_cpp"), true, "(null)", false, u"1.0"},
        {modulePath("inspect_fortran"), false, "(null)", false, u"1.0"},
    };
    for (const Case& c : cases) {
        const Inspector inspector(widen(c.path), true);
        EXPECT_EQ(inspector.is_cpp_orb(), c.cpp) << c.path;
        EXPECT_EQ(narrow(inspector.get_embedded_version_compiler_flag()), c.macro) << c.path;
        EXPECT_EQ(inspector.needs_consistent_embedded_version(), c.needsConsistentVersion) << c.path;
        EXPECT_FALSE(inspector.is_threadpool_safe());
        EXPECT_TRUE(inspector.get_first_compatible_release().empty());
        EXPECT_EQ(inspector.get_versioning_strategy(), c.strategy) << c.path;
    }
    const char16_t* names[] = {u"ENONAME", u"ENOFILE", u"ENOREAD", u"ENOTORB", u"ELNKAPI", u"EVERAPI",
                               u"EUNKAPI", u"ELNKCPP", u"ENOEVER", u"URECOMP", u"ULATEST", u"UCOMPAT",
                               u"ULEGACY", u"UENTRYP"};
    for (int id = 0; id < 14; ++id) {
        EXPECT_EQ(std::u16string(Inspector::MessageID2uchar(static_cast<Inspector::MessageID>(id))), names[id]);
    }
}

TEST(Inspector, SummaryLine) {
    const std::string stamp = R"(\d{4}-[A-Z][a-z]{2}-\d{2} \d{2}:\d{2}:\d{2})";
    struct Case {
        std::string path;
        bool strict;
        std::string after;  // the summary after the path and the time stamp
    };
    const Case cases[] = {
        {modulePath("inspect_c800_vf"), true,
         " | R2024b 0x8000000 | EP:1 IC:2 UN:1 | VersioningStrategy: 1.0 | ThreadpoolSupport: 0\n"},
        {modulePath("inspect_no_entry"), true,
         " | 0 0 | 32:1 UN:1 GD:1 AR:1 | HasUpg: UENTRYP ULEGACY ULATEST | VersioningStrategy: 1.0 | "
         "ThreadpoolSupport: 0\n"},
        {modulePath("inspect_mixed_700_800"), true,
         " | 0 0 | EP:1 32:1 IC:2 GD:1 | HasErr: ELNKAPI | VersioningStrategy: 1.0 | ThreadpoolSupport: 0\n"},
        {modulePath("inspect_cpp"), true, " | 0 0 | CP:3 | VersioningStrategy: 1.0 | ThreadpoolSupport: 0\n"},
        {modulePath("inspect_fortran_vf"), true,
         " | R2024b 0x8000000 | EP:1 FR:1 | VersioningStrategy: 1.0 | ThreadpoolSupport: 0\n"},
        {modulePath("inspect_c800_manifest700"), true,
         " | R2024b 0x7000000 | EP:1 IC:2 UN:1 | HasErr: EVERAPI | VersioningStrategy: 2.0 | ThreadpoolSupport: 0\n"},
    };
    for (const Case& c : cases) {
        Inspector inspector(widen(c.path), c.strict);
        const std::string summary = narrow(inspector.get_summary());
        const std::string prefix = "'" + c.path + "' | ";
        ASSERT_TRUE(summary.starts_with(prefix)) << summary;
        const std::string rest = summary.substr(prefix.size());
        EXPECT_TRUE(std::regex_search(rest, std::regex("^" + stamp + " \\| "))) << summary;
        EXPECT_EQ(rest.substr(rest.find(" | ")), c.after);
    }
    // A file that cannot be examined has no time.
    Inspector missing(u"/nonexistent/module.orbw64", true);
    EXPECT_EQ(narrow(missing.get_summary()), "'/nonexistent/module.orbw64' | not-a-date-time | 0 0 | HasErr: ENOFILE | "
                                             "VersioningStrategy: 1.0 | ThreadpoolSupport: 0\n");
}

TEST(Inspector, LogListsEveryClassification) {
    Inspector inspector(widen(modulePath("inspect_no_entry")), true);
    EXPECT_EQ(narrow(inspector.get_log()),
              "  CP:0\n  EP:0\n  FR:0\n  DV:0\n"
              "  32:1\n    ryGetDimensions_700\n"
              "  64:0\n  IC:0\n"
              "  UN:1\n    ryGetPr\n"
              "  GD:1\n    ryGetDimensions_700\n"
              "  AI:0\n"
              "  AR:1\n    ryGetPr\n"
              "  AU:0\n");
    Inspector fortran(widen(modulePath("inspect_fortran")), true);
    EXPECT_NE(narrow(fortran.get_log()).find("  EP:1\n    orbfunction_\n  FR:1\n    orbfunction_\n"), std::string::npos);
}

}  // namespace
