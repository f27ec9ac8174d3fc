// Fortran strings are blank padded to their declared length and carry no terminator.
#include <algorithm>
#include <cstring>

#include "host/ut.hpp"

namespace host {

int utF2cstr(const char* fstr, std::size_t flen, char* buffer, std::size_t bufsize, int flag) {
    if (!buffer || bufsize == 0) return -1;
    std::size_t length = fstr ? flen : 0;
    // Padding is never part of the text; a name holds no blanks at all, so blanks in front of
    // one are layout too.
    while (length > 0 && fstr[length - 1] == ' ') --length;
    std::size_t start = 0;
    if (flag == 0) {
        while (start < length && fstr[start] == ' ') ++start;
    }
    length = std::min(length - start, bufsize - 1);
    if (length > 0) std::memcpy(buffer, fstr + start, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

void utC2fstr(const char* cstr, char* fstr, std::size_t flen) {
    if (!fstr) return;
    std::size_t length = cstr ? strnlen(cstr, flen) : 0;
    if (length > 0) std::memcpy(fstr, cstr, length);
    std::memset(fstr + length, ' ', flen - length);
}

}  // namespace host
