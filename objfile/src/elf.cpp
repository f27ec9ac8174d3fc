#include "objfile/elf.hpp"

namespace objfile::elf {

bool hasElfMagic(const Bytes& file) {
    if (!file.contains(0, sizeof ELFMAG)) return false;
    const auto magic = file.read<std::array<unsigned char, 4>>(0, [] { return std::string("the ELF magic"); });
    return std::memcmp(magic.data(), ELFMAG, sizeof ELFMAG) == 0;
}

unsigned char littleEndianClass(const Bytes& file) {
    if (!hasElfMagic(file)) throw FormatError("no ELF header: the file does not start with 0x7f 'E' 'L' 'F'");
    const auto ident = file.read<std::array<unsigned char, EI_DATA + 1>>(0, [] {
        return "the ELF identification (" + dec(EI_DATA + 1) + " bytes)";
    });
    if (ident[EI_DATA] != ELFDATA2LSB) {
        throw FormatError("e_ident[EI_DATA] " + dec(ident[EI_DATA]) + " is not ELFDATA2LSB: only little-endian files are read");
    }
    if (ident[EI_CLASS] != ELFCLASS32 && ident[EI_CLASS] != ELFCLASS64) {
        throw FormatError("e_ident[EI_CLASS] " + dec(ident[EI_CLASS]) + " is neither ELFCLASS32 nor ELFCLASS64");
    }
    return ident[EI_CLASS];
}

std::string machineName(std::uint16_t e_machine) {
    switch (e_machine) {
        case EM_386: return "Intel 80386";
        case 8: return "MIPS";
        case 20: return "PowerPC";
        case 21: return "PowerPC64";
        case 22: return "IBM S/390";
        case 40: return "ARM";
        case 43: return "SPARC V9";
        case 50: return "IA-64";
        case EM_X86_64: return "x86-64";
        case EM_AARCH64: return "AArch64";
        case 243: return "RISC-V";
        case 258: return "LoongArch";
    }
    return "machine " + dec(e_machine);
}

std::string dynamicTagName(std::int64_t d_tag) {
    switch (d_tag) {
        case DT_NEEDED: return "DT_NEEDED";
        case DT_PLTRELSZ: return "DT_PLTRELSZ";
        case DT_PLTGOT: return "DT_PLTGOT";
        case DT_HASH: return "DT_HASH";
        case DT_STRTAB: return "DT_STRTAB";
        case DT_SYMTAB: return "DT_SYMTAB";
        case DT_RELA: return "DT_RELA";
        case DT_RELASZ: return "DT_RELASZ";
        case DT_STRSZ: return "DT_STRSZ";
        case DT_INIT: return "DT_INIT";
        case DT_FINI: return "DT_FINI";
        case DT_SONAME: return "DT_SONAME";
        case DT_RPATH: return "DT_RPATH";
        case DT_REL: return "DT_REL";
        case DT_RELSZ: return "DT_RELSZ";
        case DT_PLTREL: return "DT_PLTREL";
        case DT_JMPREL: return "DT_JMPREL";
        case DT_INIT_ARRAY: return "DT_INIT_ARRAY";
        case DT_FINI_ARRAY: return "DT_FINI_ARRAY";
        case DT_INIT_ARRAYSZ: return "DT_INIT_ARRAYSZ";
        case DT_FINI_ARRAYSZ: return "DT_FINI_ARRAYSZ";
        case DT_RUNPATH: return "DT_RUNPATH";
        case DT_PREINIT_ARRAY: return "DT_PREINIT_ARRAY";
        case DT_PREINIT_ARRAYSZ: return "DT_PREINIT_ARRAYSZ";
        case DT_RELRSZ: return "DT_RELRSZ";
        case DT_RELR: return "DT_RELR";
        case DT_GNU_HASH: return "DT_GNU_HASH";
        case DT_VERSYM: return "DT_VERSYM";
        case DT_VERDEF: return "DT_VERDEF";
        case DT_VERNEED: return "DT_VERNEED";
        case DT_FLAGS_1: return "DT_FLAGS_1";
    }
    return "tag " + hex(static_cast<std::uint64_t>(d_tag));
}

}  // namespace objfile::elf
