// Fortran text conversions with lengths and capacities taken from the input. The Fortran text and
// the buffers are heap blocks of exactly the stated sizes, so any read or write past them is
// caught; the results are checked against what the conversions promise.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/ut.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::size_t bufsize = data[0];
    const int flag = data[1] & 1;
    const std::size_t flen = data[2] % 128;
    data += 3;
    size -= 3;
    const std::size_t textLength = std::min(flen, size);

    // Fortran to C.
    std::unique_ptr<char[]> fstr(new char[textLength]);
    if (textLength) std::memcpy(fstr.get(), data, textLength);
    std::unique_ptr<char[]> buffer(new char[bufsize ? bufsize : 1]);
    const int copied = host::utF2cstr(fstr.get(), textLength, bufsize ? buffer.get() : nullptr, bufsize, flag);
    if (bufsize == 0) {
        if (copied != -1) std::abort();
    } else {
        if (copied < 0 || static_cast<std::size_t>(copied) >= bufsize) std::abort();
        if (buffer[copied] != '\0') std::abort();
        // Padding never survives, unless the cut at the buffer's capacity fell after a blank.
        if (copied > 0 && static_cast<std::size_t>(copied) < bufsize - 1 && buffer[copied - 1] == ' ') std::abort();
        if (flag == 0 && copied > 0 && buffer[0] == ' ') std::abort();
        // What was copied is a piece of the Fortran text.
        bool found = false;
        for (std::size_t at = 0; at + copied <= textLength && !found; ++at) {
            found = std::memcmp(fstr.get() + at, buffer.get(), copied) == 0;
        }
        if (copied > 0 && !found) std::abort();
    }

    // C to Fortran: the rest of the input as the C text (NUL-terminated copy), into flen places.
    std::string ctext(reinterpret_cast<const char*>(data) + textLength, size - textLength);
    std::unique_ptr<char[]> out(new char[flen ? flen : 1]);
    host::utC2fstr(ctext.c_str(), out.get(), flen);
    const std::size_t kept = std::min(std::strlen(ctext.c_str()), flen);
    if (std::memcmp(out.get(), ctext.c_str(), kept) != 0) std::abort();
    for (std::size_t i = kept; i < flen; ++i) {
        if (out[i] != ' ') std::abort();
    }
    host::utC2fstr(nullptr, out.get(), flen);
    for (std::size_t i = 0; i < flen; ++i) {
        if (out[i] != ' ') std::abort();
    }
    return 0;
}
