// Reading what the tools print: the numbers of a displayed value, and plain text searches.
#pragma once

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace tooltest {

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The numbers in a displayed output, in the order shown (names, '=' and words are skipped).
inline std::vector<double> numbersIn(const std::string& text) {
    std::vector<double> numbers;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        char* end = nullptr;
        const double value = std::strtod(word.c_str(), &end);
        if (end != word.c_str() && *end == '\0') numbers.push_back(value);
    }
    return numbers;
}

}  // namespace tooltest
