// Formatted output to the command window and bounded formatting.
#include <cstdio>
#include <string>

#include "host/ut.hpp"
#include "vhost/ut/output.hpp"

namespace host {
namespace {

// Most output lines fit here; longer texts are formatted a second time into the heap.
constexpr std::size_t kStackBuffer = 1024;

}  // namespace

int utVprintf(const char* format, va_list args) {
    if (!format) return -1;
    char small[kStackBuffer];
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (length < 0) return length;
    if (static_cast<std::size_t>(length) < sizeof small) {
        vhost::writeOutput(std::string_view(small, static_cast<std::size_t>(length)));
        return length;
    }
    std::string large(static_cast<std::size_t>(length), '\0');
    va_copy(copy, args);
    std::vsnprintf(large.data(), large.size() + 1, format, copy);
    va_end(copy);
    vhost::writeOutput(large);
    return length;
}

int utPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = utVprintf(format, args);
    va_end(args);
    return length;
}

int utVSNprintf(char* buffer, std::size_t size, const char* format, va_list args) {
    if (!format) return -1;
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(size == 0 ? nullptr : buffer, size, format, copy);
    va_end(copy);
    return length;
}

}  // namespace host
