// Names of an ELF file's dynamic symbol table.
//
// Only the section headers are walked: the dynamic symbol table is the first SHT_DYNSYM section
// and its string table is the section its sh_link names. Section names are not looked at, so a
// file whose section-name table is damaged still yields its symbols.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "objfile/elf.hpp"
#include "vhost/libsyms/readers.hpp"

namespace vhost::libsyms {
namespace {

using namespace objfile::elf;
using objfile::dec;
using objfile::FormatError;
using objfile::hex;

template <class C>
void readDynamicSymbols(const objfile::ByteView& file, std::vector<std::string_view>& defs,
                        std::vector<std::string_view>& undefs) {
    using Sym = typename C::Sym;
    const SectionHeaders<C> sections(file, header<C>(file));  // none without section headers (fully stripped)
    std::uint64_t dynsymIndex = 0;
    for (std::uint64_t i = 1; i < sections.size() && dynsymIndex == 0; ++i) {
        if (sections[i].sh_type.value() == SHT_DYNSYM) dynsymIndex = i;
    }
    if (dynsymIndex == 0) return;  // a static executable or an object file: nothing dynamic

    const auto dynsym = sections[dynsymIndex];
    const std::uint64_t link = dynsym.sh_link.value();
    if (link == 0 || link >= sections.size()) {
        throw FormatError("the dynamic symbol table (section " + dec(dynsymIndex) + ") has sh_link " + dec(link) +
                          " outside the " + dec(sections.size()) + " sections");
    }
    const auto strtab = sections[link];
    if (strtab.sh_type.value() != SHT_STRTAB) {
        throw FormatError("section " + dec(link) + ", the string table of the dynamic symbol table, has sh_type " +
                          dec(strtab.sh_type.value()) + " instead of SHT_STRTAB");
    }
    const std::uint64_t strings = sections.contents(link, strtab), stringsEnd = strings + strtab.sh_size.value();
    const std::uint64_t symbols = sections.contents(dynsymIndex, dynsym);
    // Some tools leave sh_entsize 0; the class fixes the entry size anyway. A larger one is a
    // future extension of the entry and is stepped over.
    std::uint64_t entsize = dynsym.sh_entsize.value();
    if (entsize == 0) entsize = sizeof(Sym);
    if (entsize < sizeof(Sym)) {
        throw FormatError("section " + dec(dynsymIndex) + " has sh_entsize " + dec(entsize) +
                          ", smaller than a symbol entry (" + dec(sizeof(Sym)) + ")");
    }

    const std::uint64_t count = dynsym.sh_size.value() / entsize;
    std::uint64_t budget = kNameBytesPerFileByte * file.size();
    defs.reserve(defs.size() + static_cast<std::size_t>(count));
    // Entry 0 is the reserved null symbol.
    for (std::uint64_t i = 1; i < count; ++i) {
        // Inside the table, which lies inside the file: read where it lies.
        Sym sym;
        std::memcpy(&sym, file.data() + symbols + i * entsize, sizeof sym);
        const std::uint64_t nameOffset = sym.st_name.value();
        if (nameOffset == 0) continue;
        // The string table lies inside the file, so an offset below its size cannot overflow.
        const auto name = nameOffset < strtab.sh_size.value() ? file.cString(strings + nameOffset, stringsEnd)
                                                               : std::nullopt;
        if (!name) {
            throw FormatError("symbol " + dec(i) + " has st_name " + hex(nameOffset) +
                              " with no terminated name inside the string table of size " + hex(strtab.sh_size.value()));
        }
        if (name->empty()) continue;
        if (name->size() + 1 > budget) {
            throw FormatError("the names of the dynamic symbol table add up to more than " + dec(kNameBytesPerFileByte) +
                              " times the file size " + hex(file.size()) + ": st_name offsets overlap");
        }
        budget -= name->size() + 1;
        (sym.st_shndx.value() == SHN_UNDEF ? undefs : defs).push_back(*name);
    }
}

}  // namespace

void readElfSymbols(const objfile::ByteView& file, std::vector<std::string_view>& defs,
                    std::vector<std::string_view>& undefs) {
    withClass(file, [&](auto elfClass) { readDynamicSymbols<decltype(elfClass)>(file, defs, undefs); });
}

}  // namespace vhost::libsyms
