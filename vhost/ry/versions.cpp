// Interface generations the host serves and their display names.
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "host/ry.hpp"

namespace host {
namespace {

constexpr std::uint32_t kCompat32 = 0x07000000;
constexpr std::uint32_t kSeparate64 = 0x07300000;
constexpr std::uint32_t kInterleaved = 0x08000000;
constexpr std::uint32_t kCurrent = kInterleaved;

// Names of numbers no generation uses, made once each and kept for the life of the process (the
// contract gives the pointers static lifetime).
const char16_t* unknownName(std::uint32_t apinum) {
    static std::mutex mutex;
    static auto* names = new std::map<std::uint32_t, std::u16string>;
    std::lock_guard lock(mutex);
    auto [it, added] = names->try_emplace(apinum);
    if (added) {
        char text[64];
        std::snprintf(text, sizeof text, "unknown array interface 0x%08X", static_cast<unsigned>(apinum));
        it->second.assign(text, text + std::char_traits<char>::length(text));
    }
    return it->second.c_str();
}

}  // namespace

bool is_interleaved_complex_version(std::uint32_t apinum) { return apinum == kInterleaved; }
bool is_64bit_version(std::uint32_t apinum) { return apinum == kSeparate64 || apinum == kInterleaved; }
bool is_current_version(std::uint32_t apinum) { return apinum == kCurrent; }
bool is_compatible_version(std::uint32_t apinum) {
    return apinum == kCompat32 || apinum == kSeparate64 || apinum == kInterleaved;
}

const char16_t* get_version_name(std::uint32_t apinum) {
    switch (apinum) {
        case kCompat32: return u"compatible array interface (32-bit dimensions, separate complex parts)";
        case kSeparate64: return u"R2017b array interface (64-bit dimensions, separate complex parts)";
        case kInterleaved: return u"R2018a array interface (64-bit dimensions, interleaved complex)";
        default: return unknownName(apinum);
    }
}

const char16_t* get_current_version_name() { return get_version_name(kCurrent); }

}  // namespace host
