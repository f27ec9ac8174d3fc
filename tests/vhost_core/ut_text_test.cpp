// Output, bounded formatting, message identifiers and Fortran strings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/ut.hpp"
#include "vhost/ut/output.hpp"

namespace {

int vsn(char* buffer, std::size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = host::utVSNprintf(buffer, size, format, args);
    va_end(args);
    return n;
}

TEST(UtPrintf, WritesTheFormattedTextToTheCurrentSink) {
    vhost::OutputCapture capture;
    EXPECT_EQ(host::utPrintf("%s=%d;", "x", 42), 5);
    const std::string text(5000, 'a');  // longer than any fixed buffer: arrives whole
    EXPECT_EQ(host::utPrintf("%s\n", text.c_str()), 5001);
    EXPECT_EQ(capture.text(), "x=42;" + text + "\n");
}

TEST(UtPrintf, AnInstalledSinkSeesEveryWriteUntilReplaced) {
    vhost::OutputCapture outer;
    std::vector<std::string> writes;
    auto previous = vhost::setOutputSink([&](std::string_view text) { writes.emplace_back(text); });
    host::utPrintf("a");
    host::utPrintf("%c", 'b');
    auto mine = vhost::setOutputSink(std::move(previous));
    host::utPrintf("after");
    ASSERT_TRUE(mine);
    EXPECT_EQ(writes, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(outer.text(), "after");
}

TEST(UtVSNprintf, CutsAtTheCapacityAndReportsTheFullLength) {
    std::string text(9000, 'q');
    std::vector<char> buffer(8192, '#');
    EXPECT_EQ(vsn(buffer.data(), buffer.size(), "%s", text.c_str()), 9000);
    EXPECT_EQ(std::strlen(buffer.data()), 8191u);
    EXPECT_EQ(std::string(buffer.data()), text.substr(0, 8191));
    EXPECT_EQ(vsn(buffer.data(), 0, "%d", 12345), 5);  // zero capacity writes nothing
    EXPECT_EQ(buffer[0], 'q');
}

struct IdentifierCase {
    const char* text;
    bool valid;
};

TEST(UtIsValidMessageIdentifier, FollowsTheIdentifierRule) {
    const IdentifierCase cases[] = {
        {"a:b", true},
        {"VELTRA:orb:ErrInvalidORBFile", true},
        {"A:B:C:D:E", true},
        {nullptr, false},
        {"", false},
        {"a", false},
        {"a::b", false},
        {"a:", false},
        {"1a:b", false},
        {"_a:b", false},
        {"a:-b", false},
        {"a:b\n", false},
        {"caf\xc3\xa9:b", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(host::utIsValidMessageIdentifier(c.text), c.valid) << (c.text ? c.text : "(null)");
    }
}

struct F2cCase {
    std::string fortran;
    std::size_t capacity;
    int flag;
    const char* expected;
};

TEST(UtF2cstr, CopiesTrimsAndCuts) {
    const F2cCase cases[] = {
        {"abc   ", 32, 1, "abc"},
        {"abc   ", 32, 0, "abc"},
        {"  a b  ", 32, 0, "a b"},
        {"  a b  ", 32, 1, "  a b"},
        {"   abcdef", 4, 0, "abc"},
        {"      ", 32, 1, ""},
        {"abcdef", 4, 1, "abc"},
        {"abcdef", 1, 0, ""},
        {"ab    ", 3, 0, "ab"},
    };
    for (const auto& c : cases) {
        std::vector<char> buffer(c.capacity, '#');
        int n = host::utF2cstr(c.fortran.data(), c.fortran.size(), buffer.data(), buffer.size(), c.flag);
        EXPECT_STREQ(buffer.data(), c.expected) << "'" << c.fortran << "' into " << c.capacity;
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected))) << "'" << c.fortran << "'";
    }
    char one = 'x';
    EXPECT_EQ(host::utF2cstr("abc", 3, nullptr, 10, 1), -1);
    EXPECT_EQ(host::utF2cstr("abc", 3, &one, 0, 1), -1);
    EXPECT_EQ(one, 'x');
}

TEST(UtC2fstr, PadsWithBlanksAndCuts) {
    const struct {
        const char* c;
        std::size_t length;
        std::string expected;
    } cases[] = {
        {"abc", 6, "abc   "},
        {"abcdef", 3, "abc"},
        {"", 4, "    "},
        {nullptr, 4, "    "},
    };
    for (const auto& c : cases) {
        std::string fortran(c.length, '#');
        fortran += "|";  // a guard byte past the Fortran string
        host::utC2fstr(c.c, fortran.data(), c.length);
        EXPECT_EQ(fortran, c.expected + "|") << (c.c ? c.c : "(null)");
    }
}

}  // namespace
