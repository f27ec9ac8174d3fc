// Names of an ELF file's dynamic symbol table.
//
// Only the section headers are walked: the dynamic symbol table is the first SHT_DYNSYM section
// and its string table is the section its sh_link names. Section names are not looked at, so a
// file whose section-name table is damaged still yields its symbols.
#include <string>
#include <string_view>
#include <vector>

#include "vhost/libsyms/elf_format.hpp"
#include "vhost/libsyms/readers.hpp"

namespace vhost::libsyms {
namespace {

using namespace elf;

std::string dec(std::uint64_t value) { return std::to_string(value); }

template <class C>
void readDynamicSymbols(const ByteView& file, std::vector<std::string_view>& defs, std::vector<std::string_view>& undefs) {
    using Ehdr = typename C::Ehdr;
    using Shdr = typename C::Shdr;
    using Sym = typename C::Sym;

    const auto ehdr = file.template read<Ehdr>(0, [] { return "the ELF header of " + dec(sizeof(Ehdr)) + " bytes lies"; });
    const std::uint64_t shoff = ehdr.e_shoff.value();
    std::uint64_t shnum = ehdr.e_shnum.value();
    if (shoff == 0) return;  // no section headers (fully stripped): no table to read
    if (ehdr.e_shentsize.value() != sizeof(Shdr)) {
        throw FormatError("e_shentsize " + dec(ehdr.e_shentsize.value()) + " is not the section header size " +
                          dec(sizeof(Shdr)));
    }
    // With 0xff00 sections or more, e_shnum is 0 and the count is section 0's sh_size.
    if (shnum == 0) {
        shnum = file.template read<Shdr>(shoff, [&] { return "section header 0 at e_shoff " + hex(shoff) + " lies"; })
                    .sh_size.value();
    }
    if (shnum > file.size() / sizeof(Shdr)) {
        throw FormatError("the section count " + dec(shnum) + " needs more section headers than the file size " +
                          hex(file.size()) + " holds");
    }
    const ByteView table = file.sub(shoff, shnum * sizeof(Shdr), [&] {
        return "the section header table at e_shoff " + hex(shoff) + " with " + dec(shnum) + " entries lies";
    });
    const auto sectionAt = [&](std::uint64_t index) {
        return table.template read<Shdr>(index * sizeof(Shdr), [&] { return "section header " + dec(index) + " lies"; });
    };

    std::uint64_t dynsymIndex = 0;
    for (std::uint64_t i = 1; i < shnum && dynsymIndex == 0; ++i) {
        if (sectionAt(i).sh_type.value() == SHT_DYNSYM) dynsymIndex = i;
    }
    if (dynsymIndex == 0) return;  // a static executable or an object file: nothing dynamic

    const Shdr dynsym = sectionAt(dynsymIndex);
    const std::uint64_t link = dynsym.sh_link.value();
    if (link == 0 || link >= shnum) {
        throw FormatError("the dynamic symbol table (section " + dec(dynsymIndex) + ") has sh_link " + dec(link) +
                          " outside the " + dec(shnum) + " sections");
    }
    const Shdr strtab = sectionAt(link);
    if (strtab.sh_type.value() != SHT_STRTAB) {
        throw FormatError("section " + dec(link) + ", the string table of the dynamic symbol table, has sh_type " +
                          dec(strtab.sh_type.value()) + " instead of SHT_STRTAB");
    }
    const ByteView strings = file.sub(strtab.sh_offset.value(), strtab.sh_size.value(), [&] {
        return "section " + dec(link) + " has sh_offset " + hex(strtab.sh_offset.value()) + " + sh_size " +
               hex(strtab.sh_size.value());
    });
    const ByteView symbols = file.sub(dynsym.sh_offset.value(), dynsym.sh_size.value(), [&] {
        return "section " + dec(dynsymIndex) + " has sh_offset " + hex(dynsym.sh_offset.value()) + " + sh_size " +
               hex(dynsym.sh_size.value());
    });
    // Some tools leave sh_entsize 0; the class fixes the entry size anyway. A larger one is a
    // future extension of the entry and is stepped over.
    std::uint64_t entsize = dynsym.sh_entsize.value();
    if (entsize == 0) entsize = sizeof(Sym);
    if (entsize < sizeof(Sym)) {
        throw FormatError("section " + dec(dynsymIndex) + " has sh_entsize " + dec(entsize) +
                          ", smaller than a symbol entry (" + dec(sizeof(Sym)) + ")");
    }

    const std::uint64_t count = symbols.size() / entsize;
    std::uint64_t budget = kNameBytesPerFileByte * file.size();
    defs.reserve(defs.size() + static_cast<std::size_t>(count));
    // Entry 0 is the reserved null symbol.
    for (std::uint64_t i = 1; i < count; ++i) {
        const Sym sym = symbols.template read<Sym>(i * entsize, [&] { return "symbol " + dec(i) + " lies"; });
        const std::uint64_t nameOffset = sym.st_name.value();
        if (nameOffset == 0) continue;
        std::size_t length = 0;
        const char* name = strings.cString(nameOffset, length);
        if (name == nullptr) {
            throw FormatError("symbol " + dec(i) + " has st_name " + hex(nameOffset) +
                              " with no terminated name inside the string table of size " + hex(strings.size()));
        }
        if (length == 0) continue;
        if (length + 1 > budget) {
            throw FormatError("the names of the dynamic symbol table add up to more than " +
                              dec(kNameBytesPerFileByte) + " times the file size " + hex(file.size()) +
                              ": st_name offsets overlap");
        }
        budget -= length + 1;
        (sym.st_shndx.value() == SHN_UNDEF ? undefs : defs).emplace_back(name, length);
    }
}

}  // namespace

bool looksLikeElf(const ByteView& file) noexcept {
    return file.contains(0, sizeof ELFMAG) && std::memcmp(file.data(), ELFMAG, sizeof ELFMAG) == 0;
}

void readElfSymbols(const ByteView& file, std::vector<std::string_view>& defs, std::vector<std::string_view>& undefs) {
    if (!file.contains(0, EI_DATA + 1)) {
        throw FormatError("the ELF identification of " + dec(EI_DATA + 1) + " bytes lies beyond the file size " +
                          hex(file.size()));
    }
    const unsigned char elfClass = file.data()[EI_CLASS];
    const unsigned char data = file.data()[EI_DATA];
    if (data != ELFDATA2LSB) {
        throw FormatError("EI_DATA is " + dec(data) + "; only little-endian ELF files (ELFDATA2LSB) are read");
    }
    switch (elfClass) {
        case ELFCLASS32: return readDynamicSymbols<ElfClass32>(file, defs, undefs);
        case ELFCLASS64: return readDynamicSymbols<ElfClass64>(file, defs, undefs);
    }
    throw FormatError("EI_CLASS is " + dec(elfClass) + ", neither ELFCLASS32 nor ELFCLASS64");
}

}  // namespace vhost::libsyms
