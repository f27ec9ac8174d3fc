// Texts the parser's fuzz target found (tests/fixtures/fuzz/lang_syntax): nesting deep enough to
// exhaust the stack while parsing, evaluating or destroying the tree, and long texts of numbers.
// Each must end in a parse error; nesting a little less deep must still parse and compute.
#include <filesystem>
#include <string>

#include <ry.h>

#include "lang_fixture.hpp"
#include "support/files.hpp"
#include "vhost/lang/syntax.hpp"

namespace {

std::string repeated(const std::string& piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += piece;
    return text;
}

TEST_F(LangTest, SavedFuzzInputsEndInAParseError) {
    const std::filesystem::path folder = std::filesystem::path(ORB_SOURCE_DIR) / "tests/fixtures/fuzz/lang_syntax";
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().filename().string());
        const std::string text = orbtest::readBytes(entry.path());
        ASSERT_FALSE(text.empty());
        ++inputs;
        try {
            (void)vhost::lang::parseStatements(text);
            ADD_FAILURE() << "parsed";
        } catch (const host::UserException& error) {
            EXPECT_EQ(error.identifier(), "VELTRA:parse");
            EXPECT_NE(error.message().find("nests too deeply"), std::string::npos) << error.message();
        }
        EXPECT_EQ(errorOf(text), "VELTRA:parse");
    }
    EXPECT_GE(inputs, 6);
}

// Just inside the limit, the same shapes parse and compute what they say.
TEST_F(LangTest, NestingBelowTheLimitStillComputes) {
    const int depth = 400;
    const struct {
        std::string statements;
        double x;
    } cases[] = {
        {"x = " + repeated("(", depth) + "7" + repeated(")", depth) + ";", 7},
        {"x = " + repeated("-", depth + 1) + "3;", -3},
        {"x = 1" + repeated("+1", depth) + ";", depth + 1},
        {"x = 2" + repeated("*1", depth - 1) + "-1;", 1},
        {"x = " + repeated("[", depth) + "5" + repeated("]", depth) + ";", 5},
        {"c = " + repeated("{", depth / 2) + "6" + repeated("}", depth / 2) + "; x = c" + repeated("{1}", depth / 2) + ";", 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statements.substr(0, 40));
        EXPECT_EQ(errorOf(c.statements), "<none>");
        const ryArray* x = base("x");
        ASSERT_NE(x, nullptr);
        EXPECT_EQ(ryGetScalar(x), c.x);
    }
}

}  // namespace
