// UTF-8 <-> UTF-16 through the runtime's converters.
#pragma once

#include <string>

#include "orb_cpp/array.hpp"
#include "orb_cpp/services.h"

namespace orb::cpp {

inline std::string toUTF8(const std::u16string& text) {
    char* block = nullptr;
    std::uint64_t error = 0;
    orb_engine_utf16_to_utf8(text.c_str(), &block, &error);
    std::string result = block ? std::string(block) : std::string();
    orb_engine_destroy_utf8(block);
    if (error) throw Exception("orb:text:invalid", "The text is not valid UTF-16.");
    return result;
}

inline std::u16string toUTF16(const std::string& text) {
    char16_t* block = nullptr;
    std::uint64_t error = 0;
    orb_engine_utf8_to_utf16(text.c_str(), &block, &error);
    std::u16string result = block ? std::u16string(block) : std::u16string();
    orb_engine_destroy_utf16(block);
    if (error) throw Exception("orb:text:invalid", "The text is not valid UTF-8.");
    return result;
}

}  // namespace orb::cpp

namespace orb::data {

inline std::string CharArray::toUTF8() const { return orb::cpp::toUTF8(toUTF16()); }
inline CharArray ArrayFactory::createCharArray(const std::string& utf8) const {
    return createCharArray(orb::cpp::toUTF16(utf8));
}

}  // namespace orb::data
