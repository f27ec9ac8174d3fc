// A three-way radix quicksort: the names are split by the byte at one position into those below,
// at and above a pivot byte; the part at the pivot goes on with the next position, the other two
// with the same one. Small parts are finished by insertion, and a part that keeps splitting badly
// is handed to std::sort, so no input makes the sort quadratic.
#include "orbfile/name_sort.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <utility>

namespace orbfile {
namespace {

using Name = std::string_view;

// Below this many names, insertion is faster than splitting.
constexpr std::size_t kInsertionCount = 16;

// The byte of `name` at `depth` as 0-255, or -1 past its end: a name sorts before the longer
// names it begins.
int byteAt(Name name, std::size_t depth) noexcept {
    return depth < name.size() ? static_cast<unsigned char>(name[depth]) : -1;
}

// Every name of a part shares its first `depth` bytes with the others and is at least that long.
bool lessFrom(Name a, Name b, std::size_t depth) noexcept {
    return Name(a.data() + depth, a.size() - depth) < Name(b.data() + depth, b.size() - depth);
}

void insertionSort(Name* names, std::size_t count, std::size_t depth) noexcept {
    for (std::size_t i = 1; i < count; ++i) {
        const Name name = names[i];
        std::size_t j = i;
        for (; j > 0 && lessFrom(name, names[j - 1], depth); --j) names[j] = names[j - 1];
        names[j] = name;
    }
}

int medianOfThree(int a, int b, int c) noexcept { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

struct Part {
    Name* names;
    std::size_t count;
    std::size_t depth;
};

// `budget` counts the splits that may still leave the largest part at the same position; a part
// that uses it up is sorted by comparison from its position on.
void sortPart(Part part, int budget) noexcept {
    while (part.count > 1) {
        Name* const names = part.names;
        const std::size_t count = part.count;
        const std::size_t depth = part.depth;
        if (count <= kInsertionCount) return insertionSort(names, count, depth);
        if (budget <= 0) {
            std::sort(names, names + count, [depth](Name a, Name b) { return lessFrom(a, b, depth); });
            return;
        }
        const int pivot =
            medianOfThree(byteAt(names[0], depth), byteAt(names[count / 2], depth), byteAt(names[count - 1], depth));
        // [0, below) under the pivot, [below, i) at it, [above, count) over it.
        std::size_t below = 0;
        std::size_t above = count;
        for (std::size_t i = 0; i < above;) {
            const int byte = byteAt(names[i], depth);
            if (byte < pivot) {
                std::swap(names[below++], names[i++]);
            } else if (byte > pivot) {
                std::swap(names[i], names[--above]);
            } else {
                ++i;
            }
        }
        // Names that ended at this position are all equal: nothing is left to sort among them.
        const std::size_t equal = pivot < 0 ? 0 : above - below;
        std::array<Part, 3> parts = {Part{names, below, depth}, Part{names + below, equal, depth + 1},
                                     Part{names + above, count - above, depth}};
        // Loop on the largest part and recurse into the other two, which hold at most half the
        // names each: the recursion stays within the logarithm of the count.
        const auto largest = std::max_element(parts.begin(), parts.end(),
                                              [](const Part& a, const Part& b) { return a.count < b.count; });
        for (auto it = parts.begin(); it != parts.end(); ++it) {
            if (it != largest) sortPart(*it, budget);
        }
        if (largest->depth == depth) --budget;
        part = *largest;
    }
}

}  // namespace

void sortNames(std::vector<std::string_view>& names) noexcept {
    const int budget = 2 * std::bit_width(names.size()) + 8;
    sortPart(Part{names.data(), names.size(), 0}, budget);
}

}  // namespace orbfile
