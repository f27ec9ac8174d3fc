#include "cppapi/text_blocks.hpp"

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "host/i18n.hpp"

namespace {

constexpr std::uint64_t kConversionFailed = 1;
constexpr std::uint64_t kOutOfMemory = 2;

// Copies `units` into a new block with a terminating zero unit; null when the heap is exhausted.
template <class Unit>
Unit* newBlock(std::basic_string_view<Unit> units) {
    auto* block = static_cast<Unit*>(std::malloc((units.size() + 1) * sizeof(Unit)));
    if (!block) return nullptr;
    if (!units.empty()) std::memcpy(block, units.data(), units.size() * sizeof(Unit));
    block[units.size()] = Unit{};
    return block;
}

// Converts with `convert`; a failed conversion leaves an empty result and error value 1. A null
// input is no text: error value 1 and an empty block. A null output has nowhere to take a block:
// error value 1 and nothing allocated. A null error value is simply not written.
template <class Unit, class Input, class Convert>
void convertInto(const Input* input, Unit** output, std::uint64_t* error, Convert convert) {
    const auto fail = [error](std::uint64_t value) {
        if (error) *error = value;
    };
    if (!output) return fail(kConversionFailed);
    std::basic_string<Unit> result;
    try {
        if (!input) throw std::invalid_argument("no input");
        result = convert(std::basic_string_view<Input>(input));
    } catch (...) {
        fail(kConversionFailed);
        result.clear();
    }
    // A converted text may hold a zero unit; like any C string, the block ends at the first one.
    const std::basic_string_view<Unit> units(result.c_str());
    Unit* block = newBlock(units);
    if (!block) return fail(kOutOfMemory);
    *output = block;
}

}  // namespace

extern "C" {

void orb_engine_utf16_to_utf8(const char16_t* input, char** output, std::uint64_t* error) {
    convertInto<char>(input, output, error, [](std::u16string_view text) { return host::i18n::to_string(text); });
}

void orb_engine_utf8_to_utf16(const char* input, char16_t** output, std::uint64_t* error) {
    convertInto<char16_t>(input, output, error, [](std::string_view text) { return host::i18n::to_ustring(text); });
}

void orb_engine_destroy_utf16(void* block) { std::free(block); }

ORB_API void orb_engine_destroy_utf8(void*) ORB_ALIAS(orb_engine_destroy_utf16);

void orbReleaseMemory(void* first, void* second) {
    std::free(first);
    std::free(second);
}

}  // extern "C"
