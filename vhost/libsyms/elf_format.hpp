// The parts of the ELF format the symbol reader needs, with the format's own names. Fields are
// little-endian (the only byte order read here); the 32- and 64-bit layouts are selected once,
// from the class byte, through ElfClass32 / ElfClass64.
#pragma once

#include <cstdint>

#include "vhost/libsyms/byte_view.hpp"

namespace vhost::libsyms::elf {

inline constexpr unsigned char ELFMAG[4] = {0x7F, 'E', 'L', 'F'};
inline constexpr int EI_CLASS = 4;
inline constexpr int EI_DATA = 5;
inline constexpr unsigned char ELFCLASS32 = 1;
inline constexpr unsigned char ELFCLASS64 = 2;
inline constexpr unsigned char ELFDATA2LSB = 1;

inline constexpr std::uint32_t SHT_STRTAB = 3;
inline constexpr std::uint32_t SHT_DYNSYM = 11;
inline constexpr std::uint16_t SHN_UNDEF = 0;

struct Elf32_Ehdr {
    unsigned char e_ident[16];
    Le16 e_type;
    Le16 e_machine;
    Le32 e_version;
    Le32 e_entry;
    Le32 e_phoff;
    Le32 e_shoff;
    Le32 e_flags;
    Le16 e_ehsize;
    Le16 e_phentsize;
    Le16 e_phnum;
    Le16 e_shentsize;
    Le16 e_shnum;
    Le16 e_shstrndx;
};
static_assert(sizeof(Elf32_Ehdr) == 52);

struct Elf64_Ehdr {
    unsigned char e_ident[16];
    Le16 e_type;
    Le16 e_machine;
    Le32 e_version;
    Le64 e_entry;
    Le64 e_phoff;
    Le64 e_shoff;
    Le32 e_flags;
    Le16 e_ehsize;
    Le16 e_phentsize;
    Le16 e_phnum;
    Le16 e_shentsize;
    Le16 e_shnum;
    Le16 e_shstrndx;
};
static_assert(sizeof(Elf64_Ehdr) == 64);

struct Elf32_Shdr {
    Le32 sh_name;
    Le32 sh_type;
    Le32 sh_flags;
    Le32 sh_addr;
    Le32 sh_offset;
    Le32 sh_size;
    Le32 sh_link;
    Le32 sh_info;
    Le32 sh_addralign;
    Le32 sh_entsize;
};
static_assert(sizeof(Elf32_Shdr) == 40);

struct Elf64_Shdr {
    Le32 sh_name;
    Le32 sh_type;
    Le64 sh_flags;
    Le64 sh_addr;
    Le64 sh_offset;
    Le64 sh_size;
    Le32 sh_link;
    Le32 sh_info;
    Le64 sh_addralign;
    Le64 sh_entsize;
};
static_assert(sizeof(Elf64_Shdr) == 64);

struct Elf32_Sym {
    Le32 st_name;
    Le32 st_value;
    Le32 st_size;
    unsigned char st_info;
    unsigned char st_other;
    Le16 st_shndx;
};
static_assert(sizeof(Elf32_Sym) == 16);

struct Elf64_Sym {
    Le32 st_name;
    unsigned char st_info;
    unsigned char st_other;
    Le16 st_shndx;
    Le64 st_value;
    Le64 st_size;
};
static_assert(sizeof(Elf64_Sym) == 24);

struct ElfClass32 {
    using Ehdr = Elf32_Ehdr;
    using Shdr = Elf32_Shdr;
    using Sym = Elf32_Sym;
};
struct ElfClass64 {
    using Ehdr = Elf64_Ehdr;
    using Shdr = Elf64_Shdr;
    using Sym = Elf64_Sym;
};

}  // namespace vhost::libsyms::elf
