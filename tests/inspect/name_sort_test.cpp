// The inspector's name sort against std::sort: the same order on names that share long
// beginnings, end inside one another, repeat, or use bytes above 0x7f, at every size around the
// point where it switches to insertion.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "orbfile/name_sort.hpp"

namespace {

std::vector<std::string> randomNames(std::mt19937& random, std::size_t count, const std::string& alphabet,
                                     std::size_t maxLength, const std::string& prefix) {
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<std::size_t> letter(0, alphabet.size() - 1);
    std::vector<std::string> names(count, prefix);
    for (auto& name : names) {
        for (std::size_t n = length(random); n > 0; --n) name += alphabet[letter(random)];
    }
    return names;
}

void expectSortedLikeStdSort(const std::vector<std::string>& texts, const std::string& label) {
    std::vector<std::string_view> names(texts.begin(), texts.end());
    std::vector<std::string_view> expected = names;
    std::sort(expected.begin(), expected.end());
    orbfile::sortNames(names);
    ASSERT_EQ(names.size(), expected.size()) << label;
    // Equal names may come in any order, so the views are compared by their text.
    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_EQ(names[i], expected[i]) << label << ", position " << i;
    }
}

TEST(NameSort, AgreesWithStdSort) {
    std::mt19937 random(20261206);
    const std::string bytes = std::string("ab_:Z") + "\x7f\x80\xff";
    for (std::size_t count : {0, 1, 2, 3, 15, 16, 17, 33, 1000, 20000}) {
        const std::string size = std::to_string(count) + " names";
        expectSortedLikeStdSort(randomNames(random, count, "ab", 6, ""), size + " of a and b, many equal");
        expectSortedLikeStdSort(randomNames(random, count, bytes, 12, ""), size + " with bytes above 0x7f");
        expectSortedLikeStdSort(randomNames(random, count, "xyz", 4, "_ZN4llvm" + std::string(200, 'L')),
                                size + " sharing a 208-byte beginning");
    }
}

TEST(NameSort, NamesThatEndInsideOthersAndRunsOfOneName) {
    std::vector<std::string> prefixes;  // "", "a", "aa", ... each a beginning of the next
    for (std::size_t n = 0; n < 300; ++n) prefixes.push_back(std::string(n, 'a'));
    std::reverse(prefixes.begin(), prefixes.end());
    expectSortedLikeStdSort(prefixes, "each name a beginning of the next, longest first");

    expectSortedLikeStdSort(std::vector<std::string>(5000, "orbFunction"), "one name 5000 times");
    expectSortedLikeStdSort(std::vector<std::string>(5000, ""), "5000 empty names");

    // Every byte value at one position, in descending order, behind a shared beginning.
    std::vector<std::string> everyByte;
    for (int round = 0; round < 20; ++round) {
        for (int byte = 255; byte >= 0; --byte) everyByte.push_back("ry" + std::string(1, char(byte)) + char('a' + round % 3));
    }
    expectSortedLikeStdSort(everyByte, "every byte value, descending");
}

TEST(NameSort, OrganPipeAndSortedInputs) {
    // Orders that make simple pivot choices split badly, so the comparison fallback runs.
    std::vector<std::string> names;
    for (int i = 0; i < 4000; ++i) {
        const int v = i < 2000 ? i : 3999 - i;
        names.push_back(std::string(1, char(v % 256)) + std::string(1, char(v / 256)) + "_name");
    }
    expectSortedLikeStdSort(names, "organ pipe");
    std::sort(names.begin(), names.end());
    expectSortedLikeStdSort(names, "already sorted");
    std::reverse(names.begin(), names.end());
    expectSortedLikeStdSort(names, "reverse sorted");
}

}  // namespace
