// The host language: what statements compute and show, its errors, literals and workspaces.
#include <utility>
#include <vector>

#include "lang_fixture.hpp"
#include "host/ry.hpp"
#include "vhost/lang/values.hpp"
#include "vhost/ry/leaks.hpp"
#include "vhost/ry/warnings.hpp"

namespace {

struct Shown {
    const char* statements;  // run quietly; then the variable x is shown
    const char* display;
};

TEST_F(LangTest, StatementsComputeWhatTheyShow) {
    const std::vector<Shown> cases{
        {"x = 1 + 2;", "x = 3\n"},
        {"x = [1 2; 3 4];", "x =\n\n    1    2\n    3    4\n"},
        {"x = [1 -2];", "x =\n\n     1    -2\n"},
        {"x = [1, 2\n 3, 4]; x = x(2, 1);", "x = 3\n"},
        {"x = 2.5;", "x = 2.5000\n"},
        {"x = 1+2i;", "x = 1 + 2i\n"},
        {"x = 'it''s';", "x = 'it's'\n"},
        {"x = ['ab'; 'cd'];", "x =\n'ab'\n'cd'\n"},
        {"x = [];", "x = []\n"},
        {"s.a = 1; s.b.c = 'z'; x = s.b.c;", "x = 'z'\n"},
        {"c = {1, 'a'}; x = c{2};", "x = 'a'\n"},
        {"m = [10 20 30]; x = m([3 1]);", "x =\n\n    30    10\n"},
        {"[r, c] = size([1 2 3; 4 5 6]); x = [r c];", "x =\n\n    2    3\n"},
        {"x = struct('a', 1, 'b', 'two');", "x = struct with fields:\n    a: 1\n    b: 'two'\n"},
        {"x = {1, 2};", "x = 1x2 cell\n"},
        {"x = ValueBox(1);", "x = ValueBox object\n"},
        {"x = [1 2 3]; % comment, not code; y = 1\n", "x =\n\n    1    2    3\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statements);
        vhost::lang::workspaces().base().clear();
        EXPECT_EQ(run(c.statements), "");
        EXPECT_EQ(run("x"), c.display);
    }
}

TEST_F(LangTest, UnterminatedStatementsShowTheirResult) {
    EXPECT_EQ(run("y = 5"), "y = 5\n");
    EXPECT_EQ(run("y = 6, z = 7;"), "y = 6\n");
    EXPECT_EQ(run("numel([1 2])"), "ans = 2\n");
    EXPECT_EQ(run("disp([1 2]); disp('hi')"), "    1    2\nhi\n");
    EXPECT_EQ(run("y;"), "");
    // A call that gives nothing leaves ans alone.
    run("ans = 1; disp(2);");
    EXPECT_EQ(vhost::lang::elementAt(base("ans"), 0).real(), 1.0);
}

TEST_F(LangTest, ErrorsCarryTheirIdentifiers) {
    const std::vector<std::pair<const char*, const char*>> cases{
        {"y = undefinedThing;", "VELTRA:undefinedFunction"},
        // A name one character off the built-in found just before is not that built-in.
        {"x = numel(1); y = numex(1);", "VELTRA:undefinedFunction"},
        {"x = ValueBox(1); y = ValueBax(1);", "VELTRA:undefinedFunction"},
        {"x = [1 2; 3];", "VELTRA:dimensionMismatch"},
        {"x = (1;", "VELTRA:parse"},
        {"x = 1 == 1", "VELTRA:parse"},
        {"m = [1 2]; m(3)", "VELTRA:indexOutOfBounds"},
        {"s.a = 1; s.b", "VELTRA:noSuchField"},
        {"[a, b] = class(1);", "VELTRA:tooManyOutputs"},
        {"evalin('nowhere', '1')", "VELTRA:unknownWorkspace"},
        {"assignin('base', '1x', 2)", "VELTRA:invalidArgument"},
        {"error('my:id', 'v=%d', 5)", "my:id"},
        {"x = 1; x = x + 'a' + {1};", "VELTRA:invalidArgument"},
    };
    for (const auto& [statements, identifier] : cases) {
        SCOPED_TRACE(statements);
        EXPECT_EQ(errorOf(statements), identifier);
    }
    // An error stops the remaining statements.
    EXPECT_EQ(errorOf("a = 1; b = nothing; c = 3;"), "VELTRA:undefinedFunction");
    EXPECT_NE(base("a"), nullptr);
    EXPECT_EQ(base("c"), nullptr);
}

TEST_F(LangTest, ErrorAndWarningFormatTheirMessages) {
    try {
        vhost::lang::evaluate("error('my:id', 'bad %s at %d', 'x', 3)");
        FAIL() << "no error";
    } catch (const host::UserException& error) {
        EXPECT_EQ(error.message(), "bad x at 3");
        EXPECT_EQ(error.functionName(), "error");
    }
    vhost::ry::clearWarnings();
    EXPECT_EQ(run("warning('my:w', 'n=%g', 2.5)"), "Warning: n=2.5\n");
    EXPECT_EQ(vhost::ry::takeWarnings(), (std::vector<vhost::ry::RecordedWarning>{{"my:w", "n=2.5"}}));
}

TEST_F(LangTest, LiteralsParseIntoOwnedArrays) {
    const std::vector<std::pair<const char*, const char*>> cases{
        {"-1.5", "-1.5000\n"}, {"[1 2; 3 4]", "    1    2\n    3    4\n"}, {"1+2i", "1 + 2i\n"},
        {"true", "true\n"},    {"'a b'", "a b\n"},                       {"{1, 'a'}", "1x2 cell\n"},
        {"-Inf", "-Inf\n"},    {"[]", "[]\n"},
    };
    for (const auto& [text, shown] : cases) {
        SCOPED_TRACE(text);
        host::ryUnique value = host::from_veltra(vhost::lang::parseLiteral(text));
        vhost::OutputCapture capture;
        vhost::lang::display("", value.get());
        EXPECT_EQ(capture.text(), shown);
    }
    for (const char* refused : {"x", "disp(1)", "1 +", "pi(2)"}) {
        SCOPED_TRACE(refused);
        EXPECT_THROW(vhost::lang::parseLiteral(refused), host::UserException);
    }
}

TEST_F(LangTest, CallByNameGivesTheCallerItsOutputs) {
    host::ryUnique input = host::from_veltra(vhost::lang::parseLiteral("[1 2 3; 4 5 6]"));
    std::vector<ryArray*> outputs = vhost::lang::call("size", 2, {input.get()});
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(vhost::lang::elementAt(outputs[0], 0).real(), 2.0);
    EXPECT_EQ(vhost::lang::elementAt(outputs[1], 0).real(), 3.0);
    for (ryArray* output : outputs) host::destroyArray(output);
    // No output asked for: the first one, if any.
    outputs = vhost::lang::call("size", 0, {input.get()});
    ASSERT_EQ(outputs.size(), 1u);
    host::destroyArray(outputs[0]);
    {
        vhost::OutputCapture quiet;
        EXPECT_TRUE(vhost::lang::call("disp", 0, {input.get()}).empty());
    }
    EXPECT_THROW(vhost::lang::call("noSuchFunction", 0, {}), host::UserException);
}

TEST_F(LangTest, WorkspacesAndGlobals) {
    run("global g; g = 3;");
    EXPECT_EQ(base("g"), vhost::lang::workspaces().global().find("g"));
    run("assignin('base', 'v', 4); evalin('base', 'w = v + 1;');");
    EXPECT_EQ(vhost::lang::elementAt(base("w"), 0).real(), 5.0);
    // At top level the caller of the base workspace is the base workspace.
    run("evalin('caller', 'u = 1;');");
    EXPECT_NE(base("u"), nullptr);
    // A new global starts empty and keeps its value for the next declaration.
    run("clear g; global h; k = numel(h);");
    EXPECT_EQ(vhost::lang::elementAt(base("k"), 0).real(), 0.0);
    EXPECT_EQ(base("g"), nullptr);
    run("global g; gg = g;");
    EXPECT_EQ(vhost::lang::elementAt(base("gg"), 0).real(), 3.0);
    run("clear all");
    EXPECT_EQ(base("gg"), nullptr);
    EXPECT_EQ(vhost::lang::workspaces().global().find("g"), nullptr);
}

TEST_F(LangTest, ValuesOutliveContextsAndTemporariesDoNot) {
    run("keep = [1 2 3];");
    const std::size_t before = vhost::ry::liveCounts().arrays;
    // A variable assigned while a module-call context is open must survive its exit.
    const host::ryContextToken token = host::ryEnterNewArrayListContext();
    run("inner = [4 5 6] + 1; tmp = {1, 'two'}; clear tmp");
    host::ryExitArrayListContext(token, nullptr, 0, false);
    ASSERT_NE(base("inner"), nullptr);
    EXPECT_EQ(vhost::lang::elementAt(base("inner"), 2).real(), 7.0);
    EXPECT_EQ(vhost::ry::liveCounts().arrays, before + 1);
}

TEST_F(LangTest, ObjectsKeepTheirSemantics) {
    run("a = ValueBox(1); b = a; b.Value = 2; h = HandleBox(1); k = h; k.Value = 2;");
    EXPECT_EQ(run("disp(a.Value); disp(h.Value)"), "1\n2\n");
    // Overloaded indexing: b.name goes to the class's own store, not to properties.
    run("ix = IndexedBox(); ix.x = 5; got = ix.x; s = substruct('.', 'x');");
    EXPECT_EQ(vhost::lang::elementAt(base("got"), 0).real(), 5.0);
    EXPECT_EQ(run("disp(subsref(ix, s))"), "5\n");
    EXPECT_EQ(errorOf("v = ValueBox(1); v.x"), "VELTRA:noSuchField");
    run("v = ValueBox(1); v2 = subsasgn(v, substruct('.', 'Value'), 9);");
    EXPECT_EQ(run("disp(v.Value); disp(v2.Value)"), "1\n9\n");
}

TEST_F(LangTest, TheInternalVariableAndPropertyHelpers) {
    run("veltra.internal.orb.setVariable('q', 11, 'base'); r = veltra.internal.orb.getVariable('q', 'base');");
    EXPECT_EQ(vhost::lang::elementAt(base("r"), 0).real(), 11.0);
    run("veltra.internal.orb.setVariable('gq', 12, 'global');");
    EXPECT_NE(vhost::lang::workspaces().global().find("gq"), nullptr);
    run("b = ValueBox(1); b2 = veltra.internal.orb.setProperty(b, uint64(1), 'Value', 3);"
        "p = veltra.internal.orb.getProperty(b2, uint64(1), 'Value');");
    EXPECT_EQ(vhost::lang::elementAt(base("p"), 0).real(), 3.0);
    EXPECT_EQ(errorOf("veltra.internal.orb.getVariable('missing', 'base')"), "VELTRA:undefinedFunction");
    EXPECT_EQ(errorOf("veltra.internal.orb.getProperty(b, uint64(2), 'Value')"), "VELTRA:indexOutOfBounds");
}

}  // namespace
