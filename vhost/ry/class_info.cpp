#include "vhost/ry/class_info.hpp"

#include <array>
#include <cstring>

namespace vhost::ry {
namespace {

struct ClassFacts {
    ryClassID id;
    const char* name;
    std::size_t elementSize;
};

constexpr std::array<ClassFacts, 15> kClasses{{
    {ryCELL_CLASS, "cell", 0},
    {rySTRUCT_CLASS, "struct", 0},
    {ryLOGICAL_CLASS, "logical", sizeof(ryLogical)},
    {ryCHAR_CLASS, "char", sizeof(ryChar)},
    {ryDOUBLE_CLASS, "double", 8},
    {rySINGLE_CLASS, "single", 4},
    {ryINT8_CLASS, "int8", 1},
    {ryUINT8_CLASS, "uint8", 1},
    {ryINT16_CLASS, "int16", 2},
    {ryUINT16_CLASS, "uint16", 2},
    {ryINT32_CLASS, "int32", 4},
    {ryUINT32_CLASS, "uint32", 4},
    {ryINT64_CLASS, "int64", 8},
    {ryUINT64_CLASS, "uint64", 8},
    {ryFUNCTION_CLASS, "function_handle", 0},
}};

// Class identifiers are small consecutive numbers: the facts are found by indexing.
constexpr std::size_t kIndexSize = ryOBJECT_CLASS + 1;
constexpr std::array<signed char, kIndexSize> kIndex = [] {
    std::array<signed char, kIndexSize> index{};
    for (signed char& i : index) i = -1;
    for (std::size_t k = 0; k < kClasses.size(); ++k) index[kClasses[k].id] = static_cast<signed char>(k);
    return index;
}();

const ClassFacts* factsOf(ryClassID id) noexcept {
    const auto i = static_cast<std::size_t>(id);
    if (i >= kIndexSize || kIndex[i] < 0) return nullptr;
    return &kClasses[static_cast<std::size_t>(kIndex[i])];
}

}  // namespace

// The sizes inline in the header agree with the table.
static_assert([] {
    for (const ClassFacts& facts : kClasses)
        if (elementSize(facts.id) != facts.elementSize) return false;
    return elementSize(ryUNKNOWN_CLASS) == 0 && elementSize(ryVOID_CLASS) == 0 && elementSize(ryOBJECT_CLASS) == 0;
}());

const char* builtinClassName(ryClassID id) noexcept {
    const ClassFacts* facts = factsOf(id);
    return facts ? facts->name : "unknown";
}

ryClassID builtinClassOf(const std::string& name) noexcept {
    for (const ClassFacts& facts : kClasses)
        if (name == facts.name) return facts.id;
    return ryUNKNOWN_CLASS;
}

}  // namespace vhost::ry
