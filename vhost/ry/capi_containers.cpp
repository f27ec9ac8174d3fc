// ry.h: text, cells and structs.
#include <cstring>
#include <string>

#include "vhost/i18n/conversion.hpp"
#include "vhost/ry/capi.hpp"
#include "vhost/ry/lifetime.hpp"
#include "vhost/ry/memory.hpp"
#include "vhost/ry/raise.hpp"

using namespace vhost::ry;
using namespace vhost::ry::capi;

namespace {

// The text of a char array, column by column; false when it is no char array or not valid UTF-16.
bool textOf(const ryArray* array, std::string& text) {
    if (!array || array->classId() != ryCHAR_CLASS) return false;
    const auto* chars = static_cast<const char16_t*>(array->numeric()->real(Access::Read));
    return vhost::i18n::tryToUtf8(std::u16string_view(chars, array->numberOfElements()), text);
}

// The longest prefix of `text` of at most `limit` bytes that ends on a character boundary.
std::size_t utf8Prefix(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return end;
}

ryArray* structureToChange(ryArray* structure, const char* function) {
    if (!need(structure, function)->structure()) raise("wrongClass", {std::string("struct"), structure->className()});
    return structure;
}

}  // namespace

extern "C" {

char* ryArrayToString(const ryArray* array) {
    std::string text;
    if (!textOf(array, text)) return nullptr;
    auto* buffer = static_cast<char*>(callerAllocate(text.size() + 1, false));
    if (!buffer) raiseOutOfMemory(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return buffer;
}

int ryGetString(const ryArray* array, char* buffer, rySize capacity) {
    if (!buffer || capacity == 0) return 1;
    std::string text;
    if (!textOf(array, text)) {
        buffer[0] = '\0';
        return 1;
    }
    const std::size_t length = utf8Prefix(text, capacity - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return length == text.size() ? 0 : 1;
}

ryArray* ryGetCell(const ryArray* cell, ryIndex index) {
    const CellContent* content = need(cell, "ryGetCell")->cell();
    if (!content) raise("wrongClass", {std::string("cell"), cell->className()});
    if (index >= content->elements.size())
        raise("indexOutOfRange", {static_cast<std::uint64_t>(index), static_cast<std::uint64_t>(content->elements.size())});
    return content->elements[index];
}

void rySetCell(ryArray* cell, ryIndex index, ryArray* value) { setCell(need(cell, "rySetCell"), index, value); }

int ryGetNumberOfFields(const ryArray* structure) {
    const StructContent* content = need(structure, "ryGetNumberOfFields")->structure();
    return content ? static_cast<int>(content->fields.size()) : 0;
}

const char* ryGetFieldNameByNumber(const ryArray* structure, int number) {
    const StructContent* content = need(structure, "ryGetFieldNameByNumber")->structure();
    if (!content || number < 0 || static_cast<std::size_t>(number) >= content->fields.size()) return nullptr;
    return content->fields[static_cast<std::size_t>(number)].c_str();
}

int ryGetFieldNumber(const ryArray* structure, const char* name) {
    if (!name) return -1;
    return fieldNumber(need(structure, "ryGetFieldNumber"), name);
}

ryArray* ryGetFieldByNumber(const ryArray* structure, ryIndex index, int number) {
    const StructContent* content = need(structure, "ryGetFieldByNumber")->structure();
    if (!content || number < 0 || static_cast<std::size_t>(number) >= content->fields.size()) return nullptr;
    if (index >= structure->numberOfElements()) return nullptr;
    return content->values[index * content->fields.size() + static_cast<std::size_t>(number)];
}

ryArray* ryGetField(const ryArray* structure, ryIndex index, const char* name) {
    if (!name) return nullptr;
    return ryGetFieldByNumber(structure, index, fieldNumber(need(structure, "ryGetField"), name));
}

void rySetFieldByNumber(ryArray* structure, ryIndex index, int number, ryArray* value) {
    structureToChange(structure, "rySetFieldByNumber");
    if (number < 0) raise("fieldOutOfRange", {static_cast<std::int64_t>(number), static_cast<std::uint64_t>(ryGetNumberOfFields(structure))});
    setFieldValue(structure, index, static_cast<std::size_t>(number), value);
}

void rySetField(ryArray* structure, ryIndex index, const char* name, ryArray* value) {
    structureToChange(structure, "rySetField");
    const std::string field = name ? name : "";
    int number = fieldNumber(structure, field);
    if (number < 0) number = addField(structure, field);
    setFieldValue(structure, index, static_cast<std::size_t>(number), value);
}

int ryAddField(ryArray* structure, const char* name) {
    structureToChange(structure, "ryAddField");
    if (!name || !isValidFieldName(name)) return -1;
    return addField(structure, name);
}

void ryRemoveField(ryArray* structure, int number) {
    structureToChange(structure, "ryRemoveField");
    if (number >= 0) removeField(structure, static_cast<std::size_t>(number));
}

}  // extern "C"
