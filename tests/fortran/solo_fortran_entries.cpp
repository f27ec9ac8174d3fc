// What the Fortran entries hand to the host: the host's callbacks here only record what reaches
// them, so each conversion (names, statements, messages, counts and lists, array handles read
// through their addresses) can be checked exactly, including where over-long texts are cut.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <orb.h>

#include "capi/callback_table.hpp"
#include "capi/fortran_names.hpp"
#include "capi/trap_flag.hpp"
#include "host/ry.hpp"
#include "vhost/engine/engine.hpp"
#include "vhost/ut/output.hpp"

namespace {

// What the last callback received.
struct Received {
    int slot = -1;
    std::string first;   // function name, workspace, identifier, text
    std::string second;  // variable name, formatted message
    int nlhs = -1;
    ryArray** plhs = nullptr;
    int nrhs = -1;
    ryArray** prhs = nullptr;
    const ryArray* value = nullptr;
    void* pointer = nullptr;
};
Received g_received;

std::string formatted(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    std::string text(static_cast<std::size_t>(std::vsnprintf(nullptr, 0, format, args)), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

void receive(int slot, std::string first = {}, std::string second = {}) {
    g_received = Received{};
    g_received.slot = slot;
    g_received.first = std::move(first);
    g_received.second = std::move(second);
}

void receiveCall(int slot, int nlhs, ryArray** plhs, int nrhs, ryArray** prhs, const char* name) {
    receive(slot, name);
    g_received.nlhs = nlhs;
    g_received.plhs = plhs;
    g_received.nrhs = nrhs;
    g_received.prhs = prhs;
}

OrbCallbackTable recordingTable() {
    OrbCallbackTable table{};
    table.putVariable = [](const char* workspace, const char* name, const ryArray* value) {
        receive(0, workspace, name);
        g_received.value = value;
        return 0;
    };
    table.getVariable = [](const char* workspace, const char* name) -> ryArray* {
        receive(1, workspace, name);
        return nullptr;
    };
    table.getVariablePtr = [](const char* workspace, const char* name) -> const ryArray* {
        receive(2, workspace, name);
        return nullptr;
    };
    table.functionName = []() -> const char* { return "recorded_function"; };
    table.evalString = [](const char* text) {
        receive(9, text);
        return 0;
    };
    table.evalStringWithTrap = [](const char* text) -> ryArray* {
        receive(10, text);
        return nullptr;
    };
    table.callFunction = [](int nlhs, ryArray** plhs, int nrhs, ryArray** prhs, const char* name, bool) {
        receiveCall(11, nlhs, plhs, nrhs, prhs, name);
        return 0;
    };
    table.callFunctionWithTrap = [](int nlhs, ryArray** plhs, int nrhs, ryArray** prhs, const char* name) -> ryArray* {
        receiveCall(12, nlhs, plhs, nrhs, prhs, name);
        return nullptr;
    };
    table.atExit = [](OrbExitFunction function) {
        receive(15);
        g_received.pointer = reinterpret_cast<void*>(function);
        return 7;
    };
    // These callbacks return, so the error entries return here too.
    table.errMsgIdAndTxt = [](const char* id, const char* format, va_list args) {
        receive(17, id, formatted(format, args));
    };
    table.errMsgTxt = [](const char* message) { receive(18, "", message); };
    table.warnMsgIdAndTxt = [](const char* id, const char* format, va_list args) {
        receive(19, id, formatted(format, args));
    };
    table.warnMsgTxt = [](const char* message) { receive(20, "", message); };
    return table;
}

// A Fortran text: exactly its characters, no terminator (the byte after it is a trap).
struct FortranText {
    explicit FortranText(std::string text) : storage(std::move(text)) { storage.push_back('#'); }
    const char* data() const { return storage.data(); }
    FortranLength length() const { return static_cast<FortranLength>(storage.size() - 1); }
    std::string storage;
};

class FortranEntries : public testing::Test {
protected:
    static void SetUpTestSuite() {
        static const OrbCallbackTable table = recordingTable();
        orbSetCallbacks(&table);
    }
    vhost::Engine m_engine;
    vhost::EngineScope m_bound{m_engine};
};

const std::string kLongName = std::string(40, 'a') + std::string(60, 'b');  // 100 characters

TEST_F(FortranEntries, CallEntriesPassNamesTrimmedAndCutAndNoOutputListForNoOutputs) {
    using CallEntry = std::function<void(const int*, ryArray**, const int*, ryArray**, const char*, FortranLength)>;
    const struct {
        const char* entry;
        int slot;
        CallEntry call;
    } entries[] = {
        {"ORBCALLVELTRA", 11, ORBCALLVELTRA},
        {"ORBCALLVELTRA800", 11, ORBCALLVELTRA800},
        {"ORBCALLVELTRAWITHTRAP", 12, ORBCALLVELTRAWITHTRAP},
        {"ORBCALLVELTRAWITHTRAP800", 12, ORBCALLVELTRAWITHTRAP800},
    };
    const struct {
        std::string name;
        int nlhs;
        std::string expected;
    } calls[] = {
        {"sum", 1, "sum"},
        {"  sum      ", 2, "sum"},      // a padded variable holding the name
        {"disp", 0, "disp"},           // no outputs: no list, whatever the caller gave
        {kLongName, 1, kLongName.substr(0, kFortranNameCapacity - 1)},
    };
    ryArray* outputs[3] = {};
    ryArray* inputs[2] = {};
    const int nrhs = 2;
    for (const auto& entry : entries) {
        for (const auto& c : calls) {
            SCOPED_TRACE(std::string(entry.entry) + " '" + c.name + "'");
            FortranText name(c.name);
            entry.call(&c.nlhs, outputs, &nrhs, inputs, name.data(), name.length());
            EXPECT_EQ(g_received.slot, entry.slot);
            EXPECT_EQ(g_received.first, c.expected);
            EXPECT_EQ(g_received.nlhs, c.nlhs);
            EXPECT_EQ(g_received.plhs, c.nlhs == 0 ? nullptr : outputs);
            EXPECT_EQ(g_received.nrhs, nrhs);
            EXPECT_EQ(g_received.prhs, inputs);
        }
    }
}

TEST_F(FortranEntries, VariableEntriesLowerTheWorkspaceOnlyAndReadTheValueThroughItsAddress) {
    using VariableEntry = std::function<void(const char*, const char*, FortranLength, FortranLength)>;
    ryArray* value = ryCreateDoubleScalar(3);
    const FortranHandle handle = reinterpret_cast<FortranHandle>(value);
    const struct {
        const char* entry;
        int slot;
        VariableEntry call;
    } entries[] = {
        {"ORBGETVARIABLE", 1, ORBGETVARIABLE},
        {"ORBGETVARIABLE800", 1, ORBGETVARIABLE800},
        {"ORBGETVARIABLEPTR", 2, ORBGETVARIABLEPTR},
        {"ORBGETVARIABLEPTR800", 2, ORBGETVARIABLEPTR800},
        {"ORBPUTVARIABLE", 0,
         [&](const char* w, const char* n, FortranLength wl, FortranLength nl) { ORBPUTVARIABLE(w, n, &handle, wl, nl); }},
        {"ORBPUTVARIABLE800", 0,
         [&](const char* w, const char* n, FortranLength wl, FortranLength nl) {
             ORBPUTVARIABLE800(w, n, &handle, wl, nl);
         }},
    };
    const struct {
        std::string workspace, name, expectedWorkspace, expectedName;
    } cases[] = {
        {"BASE", "MixedCase", "base", "MixedCase"},
        {"Caller   ", "x  ", "caller", "x"},
        {std::string(70, 'W'), kLongName, std::string(kFortranNameCapacity - 1, 'w'),
         kLongName.substr(0, kFortranNameCapacity - 1)},
    };
    for (const auto& entry : entries) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(entry.entry) + " '" + c.workspace + "' '" + c.name + "'");
            FortranText workspace(c.workspace), name(c.name);
            entry.call(workspace.data(), name.data(), workspace.length(), name.length());
            EXPECT_EQ(g_received.slot, entry.slot);
            EXPECT_EQ(g_received.first, c.expectedWorkspace);
            EXPECT_EQ(g_received.second, c.expectedName);
            if (entry.slot == 0) {
                EXPECT_EQ(g_received.value, value);
            }
        }
    }
    ryDestroyArray(value);
}

TEST_F(FortranEntries, StatementsKeepTheirLeadingBlanksAndAreCutAtTheirCapacity) {
    using EvalEntry = std::function<void(const char*, FortranLength)>;
    const struct {
        const char* entry;
        int slot;
        EvalEntry call;
    } entries[] = {
        {"ORBEVALSTRING", 9, ORBEVALSTRING},
        {"ORBEVALSTRING800", 9, ORBEVALSTRING800},
        {"ORBEVALSTRINGWITHTRAP", 10, ORBEVALSTRINGWITHTRAP},
        {"ORBEVALSTRINGWITHTRAP800", 10, ORBEVALSTRINGWITHTRAP800},
    };
    std::string statements;
    while (statements.size() < 5000) statements += "x = x + 1; ";
    const struct {
        std::string text, expected;
    } cases[] = {
        {"  y = 2;   ", "  y = 2;"},
        {statements, statements.substr(0, kFortranEvalCapacity - 1)},
    };
    for (const auto& entry : entries) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(entry.entry) + " of " + std::to_string(c.text.size()));
            FortranText text(c.text);
            entry.call(text.data(), text.length());
            EXPECT_EQ(g_received.slot, entry.slot);
            EXPECT_EQ(g_received.first, c.expected);
        }
    }
}

TEST_F(FortranEntries, MessagesAreShownVerbatimWhateverTheirLength) {
    const std::string longMessage = std::string(9000, 'm') + " %d";  // longer than any fixed buffer
    const struct {
        const char* entry;
        std::function<void(const FortranText&, const FortranText&)> call;
        int slot;
        bool withIdentifier;
    } entries[] = {
        {"ORBERRMSGIDANDTXT",
         [](const FortranText& id, const FortranText& m) { ORBERRMSGIDANDTXT(id.data(), m.data(), id.length(), m.length()); },
         17, true},
        {"ORBWARNMSGIDANDTXT",
         [](const FortranText& id, const FortranText& m) { ORBWARNMSGIDANDTXT(id.data(), m.data(), id.length(), m.length()); },
         19, true},
        {"ORBERRMSGTXT", [](const FortranText&, const FortranText& m) { ORBERRMSGTXT(m.data(), m.length()); }, 18, false},
        {"ORBWARNMSGTXT", [](const FortranText&, const FortranText& m) { ORBWARNMSGTXT(m.data(), m.length()); }, 20,
         false},
    };
    const struct {
        std::string message, shown;
    } messages[] = {
        {"100% done: %s %d %%", "100% done: %s %d %%"},
        {"padded    ", "padded"},
        {longMessage, longMessage},
    };
    for (const auto& entry : entries) {
        for (const auto& m : messages) {
            SCOPED_TRACE(std::string(entry.entry) + " '" + m.message.substr(0, 30) + "'");
            FortranText identifier("my:id   "), message(m.message);
            entry.call(identifier, message);
            EXPECT_EQ(g_received.slot, entry.slot);
            EXPECT_EQ(g_received.first, entry.withIdentifier ? "my:id" : "");
            EXPECT_EQ(g_received.second, m.shown);
        }
    }
}

TEST_F(FortranEntries, PrintingTakesTheTextAsItsFormatAndAnswersItsLength) {
    vhost::OutputCapture output;
    // "%%" is one percent sign; directives that would need arguments are shown as written.
    const std::string line = "100%, 50%% of %d and %s%%%\n";
    FortranText text("100%%, 50%%%% of %d and %s%%%%%\n    ");
    EXPECT_EQ(ORBPRINTF(text.data(), text.length()), static_cast<int>(line.size()));
    FortranText empty("");
    EXPECT_EQ(ORBPRINTF(empty.data(), empty.length()), 0);
    EXPECT_EQ(output.text(), line);
}

TEST_F(FortranEntries, TheFunctionNameFillsTheCharacterResultPaddedOrCut) {
    const struct {
        FortranLength length;
        std::string expected;
    } cases[] = {
        {20, "recorded_function   "},
        {8, "recorded"},
    };
    for (const auto& c : cases) {
        std::string result(static_cast<std::size_t>(c.length) + 1, '#');
        ORBFUNCTIONNAME(result.data(), c.length);
        EXPECT_EQ(result, c.expected + "#") << "into " << c.length;
    }
}

TEST_F(FortranEntries, StateEntriesAnswerFortranIntegers) {
    ryArray* array = ryCreateDoubleScalar(1);
    const FortranHandle handle = reinterpret_cast<FortranHandle>(array);
    const struct {
        ryScope scope;
        int global;
    } scopes[] = {{ryGLOBAL_SCOPE, 1}, {ryTEMPORARY_SCOPE, 0}, {ryPERSISTENT_SCOPE, 0}};
    for (const auto& s : scopes) {
        host::rySetArrayScope(array, s.scope);
        EXPECT_EQ(ORBISGLOBAL(&handle), s.global) << "scope " << s.scope;
        EXPECT_FALSE(orbIsGlobal(array)) << "the C service cannot tell";
    }

    host::rySetArrayScope(array, ryTEMPORARY_SCOPE);
    ORBMAKEARRAYPERSISTENT(&handle);
    EXPECT_EQ(host::ryGetArrayScope(array), ryPERSISTENT_SCOPE);
    ryDestroyArray(array);

    for (int flag : {5, 0, -1}) {
        ORBSETTRAPFLAG(&flag);
        EXPECT_EQ(orb::capi::chooseTrapFlag(), flag != 0) << flag;
    }

    static void (*const exitFunction)() = [] {};
    EXPECT_EQ(ORBATEXIT(exitFunction), 7);
    EXPECT_EQ(g_received.pointer, reinterpret_cast<void*>(exitFunction));
}

}  // namespace
