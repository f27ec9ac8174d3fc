// Minimal little-endian ELF files built from the system's <elf.h> layouts, for tests of the
// readers: the null section, the sections given, the section-name table, then the section header
// table. Template over the class's header and section layouts (Elf32_Ehdr/Elf32_Shdr, ...).
#pragma once

#include <elf.h>

#include <cstring>
#include <string>
#include <vector>

namespace orbtest {

struct ElfSection {
    std::string name;
    std::uint32_t type = SHT_PROGBITS;
    std::string bytes;
    std::uint32_t link = 0;  // a section index: 1 is the first section given
    std::uint64_t entsize = 0;
};

template <class Ehdr, class Shdr>
std::string buildElf(unsigned char elfClass, std::vector<ElfSection> sections) {
    sections.push_back({".shstrtab", SHT_STRTAB, {}});
    std::string names(1, '\0');
    for (ElfSection& section : sections) {
        if (&section == &sections.back()) section.bytes = names + section.name + '\0';
        names += section.name + '\0';
    }
    std::string bytes(sizeof(Ehdr), '\0');
    std::vector<Shdr> headers(sections.size() + 1, Shdr{});
    std::size_t nameAt = 1;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        Shdr& header = headers[i + 1];
        header.sh_name = nameAt;
        nameAt += sections[i].name.size() + 1;
        header.sh_type = sections[i].type;
        header.sh_offset = bytes.size();
        header.sh_size = sections[i].bytes.size();
        header.sh_link = sections[i].link;
        header.sh_entsize = sections[i].entsize;
        bytes += sections[i].bytes;
    }
    while (bytes.size() % 8) bytes += '\0';
    Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = elfClass;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_DYN;
    header.e_shoff = bytes.size();
    header.e_shentsize = sizeof(Shdr);
    header.e_shnum = headers.size();
    header.e_shstrndx = headers.size() - 1;
    std::memcpy(bytes.data(), &header, sizeof header);
    bytes.append(reinterpret_cast<const char*>(headers.data()), headers.size() * sizeof(Shdr));
    return bytes;
}

}  // namespace orbtest
