#include "host/ut.hpp"

namespace host {
namespace {

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool utIsValidMessageIdentifier(const char* identifier) {
    if (!identifier) return false;
    int components = 0;
    const char* p = identifier;
    for (;;) {
        // One component: a letter, then letters, digits, underscores or hyphens.
        if (!isLetter(*p)) return false;
        ++p;
        while (isLetter(*p) || isDigit(*p) || *p == '_' || *p == '-') ++p;
        ++components;
        if (*p == '\0') break;
        if (*p != ':') return false;
        ++p;
    }
    return components >= 2;
}

}  // namespace host
