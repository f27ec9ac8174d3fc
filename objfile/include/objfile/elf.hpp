// The ELF format under its own names: the header, program header, section header, dynamic entry
// and symbol layouts of both classes, with their sizes pinned, and the constants the readers use.
// Fields are little-endian, the only byte order read here. The 32- and 64-bit layouts are chosen
// once, from the class byte, through Elf32 / Elf64.
//
// The format's quirks live here too, each in one place: counts and indices that do not fit their
// header field are kept in section 0 (programHeaderCount, SectionHeaders).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "objfile/byte_view.hpp"

namespace objfile::elf {

inline constexpr unsigned char ELFMAG[4] = {0x7F, 'E', 'L', 'F'};
inline constexpr int EI_CLASS = 4;
inline constexpr int EI_DATA = 5;
inline constexpr int EI_VERSION = 6;
inline constexpr int EI_OSABI = 7;
inline constexpr int EI_ABIVERSION = 8;
inline constexpr int EI_PAD = 9;
inline constexpr int EI_NIDENT = 16;
inline constexpr unsigned char ELFCLASS32 = 1;
inline constexpr unsigned char ELFCLASS64 = 2;
inline constexpr unsigned char ELFDATA2LSB = 1;
inline constexpr unsigned char ELFDATA2MSB = 2;
inline constexpr unsigned char EV_CURRENT = 1;
inline constexpr unsigned char ELFOSABI_SYSV = 0;
inline constexpr unsigned char ELFOSABI_GNU = 3;

inline constexpr std::uint16_t ET_REL = 1;
inline constexpr std::uint16_t ET_EXEC = 2;
inline constexpr std::uint16_t ET_DYN = 3;
inline constexpr std::uint16_t ET_CORE = 4;

inline constexpr std::uint16_t EM_386 = 3;
inline constexpr std::uint16_t EM_X86_64 = 62;
inline constexpr std::uint16_t EM_AARCH64 = 183;

inline constexpr std::uint16_t PN_XNUM = 0xFFFF;
inline constexpr std::uint32_t PT_LOAD = 1;
inline constexpr std::uint32_t PT_DYNAMIC = 2;
inline constexpr std::uint32_t PF_W = 0x2;

inline constexpr std::uint16_t SHN_UNDEF = 0;
inline constexpr std::uint16_t SHN_XINDEX = 0xFFFF;
inline constexpr std::uint32_t SHT_SYMTAB = 2;
inline constexpr std::uint32_t SHT_STRTAB = 3;
inline constexpr std::uint32_t SHT_NOBITS = 8;
inline constexpr std::uint32_t SHT_DYNSYM = 11;
inline constexpr std::uint64_t SHF_ALLOC = 0x2;

inline constexpr unsigned char STB_LOCAL = 0;
inline constexpr unsigned char STV_DEFAULT = 0;
inline constexpr unsigned char STV_PROTECTED = 3;
inline constexpr unsigned char symbolBinding(unsigned char st_info) noexcept { return st_info >> 4; }
inline constexpr unsigned char symbolVisibility(unsigned char st_other) noexcept { return st_other & 0x3; }

inline constexpr std::int64_t DT_NULL = 0;
inline constexpr std::int64_t DT_NEEDED = 1;
inline constexpr std::int64_t DT_PLTRELSZ = 2;
inline constexpr std::int64_t DT_PLTGOT = 3;
inline constexpr std::int64_t DT_HASH = 4;
inline constexpr std::int64_t DT_STRTAB = 5;
inline constexpr std::int64_t DT_SYMTAB = 6;
inline constexpr std::int64_t DT_RELA = 7;
inline constexpr std::int64_t DT_RELASZ = 8;
inline constexpr std::int64_t DT_STRSZ = 10;
inline constexpr std::int64_t DT_INIT = 12;
inline constexpr std::int64_t DT_FINI = 13;
inline constexpr std::int64_t DT_SONAME = 14;
inline constexpr std::int64_t DT_RPATH = 15;
inline constexpr std::int64_t DT_REL = 17;
inline constexpr std::int64_t DT_RELSZ = 18;
inline constexpr std::int64_t DT_PLTREL = 20;
inline constexpr std::int64_t DT_TEXTREL = 22;
inline constexpr std::int64_t DT_JMPREL = 23;
inline constexpr std::int64_t DT_INIT_ARRAY = 25;
inline constexpr std::int64_t DT_FINI_ARRAY = 26;
inline constexpr std::int64_t DT_INIT_ARRAYSZ = 27;
inline constexpr std::int64_t DT_FINI_ARRAYSZ = 28;
inline constexpr std::int64_t DT_RUNPATH = 29;
inline constexpr std::int64_t DT_FLAGS = 30;
inline constexpr std::uint64_t DF_TEXTREL = 0x4;
inline constexpr std::int64_t DT_PREINIT_ARRAY = 32;
inline constexpr std::int64_t DT_PREINIT_ARRAYSZ = 33;
inline constexpr std::int64_t DT_RELRSZ = 35;
inline constexpr std::int64_t DT_RELR = 36;
inline constexpr std::int64_t DT_GNU_HASH = 0x6FFFFEF5;
inline constexpr std::int64_t DT_VERSYM = 0x6FFFFFF0;
inline constexpr std::int64_t DT_FLAGS_1 = 0x6FFFFFFB;
inline constexpr std::uint64_t DF_1_PIE = 0x08000000;
inline constexpr std::int64_t DT_VERDEF = 0x6FFFFFFC;
inline constexpr std::int64_t DT_VERNEED = 0x6FFFFFFE;

struct Elf32_Ehdr {
    unsigned char e_ident[16];
    Le16 e_type, e_machine;
    Le32 e_version, e_entry, e_phoff, e_shoff, e_flags;
    Le16 e_ehsize, e_phentsize, e_phnum, e_shentsize, e_shnum, e_shstrndx;
};
static_assert(sizeof(Elf32_Ehdr) == 52);

struct Elf64_Ehdr {
    unsigned char e_ident[16];
    Le16 e_type, e_machine;
    Le32 e_version;
    Le64 e_entry, e_phoff, e_shoff;
    Le32 e_flags;
    Le16 e_ehsize, e_phentsize, e_phnum, e_shentsize, e_shnum, e_shstrndx;
};
static_assert(sizeof(Elf64_Ehdr) == 64);

struct Elf32_Phdr {
    Le32 p_type, p_offset, p_vaddr, p_paddr, p_filesz, p_memsz, p_flags, p_align;
};
static_assert(sizeof(Elf32_Phdr) == 32);

struct Elf64_Phdr {
    Le32 p_type, p_flags;
    Le64 p_offset, p_vaddr, p_paddr, p_filesz, p_memsz, p_align;
};
static_assert(sizeof(Elf64_Phdr) == 56);

struct Elf32_Shdr {
    Le32 sh_name, sh_type, sh_flags, sh_addr, sh_offset, sh_size, sh_link, sh_info, sh_addralign, sh_entsize;
};
static_assert(sizeof(Elf32_Shdr) == 40);

struct Elf64_Shdr {
    Le32 sh_name, sh_type;
    Le64 sh_flags, sh_addr, sh_offset, sh_size;
    Le32 sh_link, sh_info;
    Le64 sh_addralign, sh_entsize;
};
static_assert(sizeof(Elf64_Shdr) == 64);

struct Elf32_Dyn {
    Le32 d_tag, d_val;  // d_val and d_ptr share the word
};
static_assert(sizeof(Elf32_Dyn) == 8);

struct Elf64_Dyn {
    Le64 d_tag, d_val;
};
static_assert(sizeof(Elf64_Dyn) == 16);

struct Elf32_Rel {
    Le32 r_offset, r_info;
};
static_assert(sizeof(Elf32_Rel) == 8);

struct Elf64_Rel {
    Le64 r_offset, r_info;
};
static_assert(sizeof(Elf64_Rel) == 16);

struct Elf32_Rela {
    Le32 r_offset, r_info, r_addend;
};
static_assert(sizeof(Elf32_Rela) == 12);

struct Elf64_Rela {
    Le64 r_offset, r_info, r_addend;
};
static_assert(sizeof(Elf64_Rela) == 24);

struct Elf32_Sym {
    Le32 st_name, st_value, st_size;
    unsigned char st_info, st_other;
    Le16 st_shndx;
};
static_assert(sizeof(Elf32_Sym) == 16);

struct Elf64_Sym {
    Le32 st_name;
    unsigned char st_info, st_other;
    Le16 st_shndx;
    Le64 st_value, st_size;
};
static_assert(sizeof(Elf64_Sym) == 24);

// The layouts of one class.
struct Elf32 {
    using Ehdr = Elf32_Ehdr;
    using Phdr = Elf32_Phdr;
    using Shdr = Elf32_Shdr;
    using Dyn = Elf32_Dyn;
    using Sym = Elf32_Sym;
    using Rel = Elf32_Rel;
    using Rela = Elf32_Rela;
    static constexpr unsigned char kClass = ELFCLASS32;
    static std::uint64_t symbolOf(std::uint64_t r_info) noexcept { return r_info >> 8; }
};
struct Elf64 {
    using Ehdr = Elf64_Ehdr;
    using Phdr = Elf64_Phdr;
    using Shdr = Elf64_Shdr;
    using Dyn = Elf64_Dyn;
    using Sym = Elf64_Sym;
    using Rel = Elf64_Rel;
    using Rela = Elf64_Rela;
    static constexpr unsigned char kClass = ELFCLASS64;
    static std::uint64_t symbolOf(std::uint64_t r_info) noexcept { return r_info >> 32; }
};

// Whether the file starts with the ELF magic.
bool hasElfMagic(const Bytes& file);

// The class byte of a little-endian ELF file (ELFCLASS32 or ELFCLASS64). Throws FormatError for
// a file without the magic, another byte order or another class.
unsigned char littleEndianClass(const Bytes& file);

// Calls `read` with Elf32 or Elf64, as the little-endian file's class says; throws as above.
template <class Read>
decltype(auto) withClass(const Bytes& file, Read&& read) {
    if (littleEndianClass(file) == ELFCLASS32) return read(Elf32{});
    return read(Elf64{});
}

// The header of a file of class `C` (the caller has read the class byte).
template <class C>
typename C::Ehdr header(const Bytes& file) {
    return file.template read<typename C::Ehdr>(0, [&] {
        return std::string("the ELF header (") + hex(sizeof(typename C::Ehdr)) + " bytes) at 0x0 lies";
    });
}

// The section header table of a file of class `C`, checked once against the file. Quirk: when
// the count does not fit e_shnum, e_shnum is 0 and the count is section 0's sh_size; when the
// name table's index does not fit e_shstrndx, that is SHN_XINDEX and the index is section 0's
// sh_link.
template <class C>
class SectionHeaders {
public:
    using Shdr = typename C::Shdr;

    // A file without section headers (e_shoff 0) has none. Throws FormatError when e_shentsize is
    // not a section header's size or the table does not lie inside the file.
    SectionHeaders(const Bytes& file, const typename C::Ehdr& ehdr) : m_file(file), m_shoff(ehdr.e_shoff.value()) {
        if (m_shoff == 0) return;
        if (ehdr.e_shentsize.value() != sizeof(Shdr)) {
            throw FormatError("e_shentsize " + dec(ehdr.e_shentsize.value()) + " is not the size of a section header (" +
                              dec(sizeof(Shdr)) + ")");
        }
        m_count = ehdr.e_shnum.value();
        m_nameTable = ehdr.e_shstrndx.value();
        if (m_count == 0 || m_nameTable == SHN_XINDEX) {
            const Shdr first = read(0);
            if (m_count == 0) m_count = first.sh_size.value();
            if (m_nameTable == SHN_XINDEX) m_nameTable = first.sh_link.value();
        }
        file.requireTable(m_shoff, m_count, sizeof(Shdr), [&] {
            return "the section header table at e_shoff " + hex(m_shoff) + " (" + dec(m_count) + " x " + dec(sizeof(Shdr)) +
                   " bytes) lies";
        });
    }

    std::uint64_t size() const noexcept { return m_count; }

    // Section header `index` (below size()).
    Shdr operator[](std::uint64_t index) const { return read(index); }

    // The index of the section-name string table; throws when it is not a section's.
    std::uint64_t nameTableIndex() const {
        if (m_nameTable >= m_count) {
            throw FormatError("e_shstrndx " + dec(m_nameTable) + " is not below the section count " + dec(m_count));
        }
        return m_nameTable;
    }

    // The file offset of the section's contents, sh_size bytes that lie inside the file.
    std::uint64_t contents(std::uint64_t index, const Shdr& section) const {
        const std::uint64_t offset = section.sh_offset.value(), size = section.sh_size.value();
        m_file.require(offset, size, [&] {
            return "section " + dec(index) + " has sh_offset " + hex(offset) + " + sh_size " + hex(size);
        });
        return offset;
    }

    // Whether section `index` is called `wanted`, compared with its terminating NUL (".symtab"
    // is not ".symtab2"). Throws when its sh_name lies outside the name table. A file without a
    // name table (e_shstrndx SHN_UNDEF) has no section called anything.
    bool named(std::uint64_t index, const Shdr& section, std::string_view wanted) const {
        if (m_nameTable == SHN_UNDEF) return false;
        if (!m_names) {
            const std::uint64_t at = nameTableIndex();
            const Shdr names = read(at);
            m_names = Names{contents(at, names), names.sh_size.value()};
        }
        const std::uint64_t name = section.sh_name.value();
        if (name >= m_names->size) {
            throw FormatError("section " + dec(index) + " has sh_name " + hex(name) + " beyond the section names' size " +
                              hex(m_names->size));
        }
        if (m_names->size - name < wanted.size() + 1) return false;
        const std::string text = m_file.readText(m_names->offset + name, wanted.size() + 1, [] { return std::string(); });
        return text.back() == '\0' && std::string_view(text).substr(0, wanted.size()) == wanted;
    }

private:
    Shdr read(std::uint64_t index) const {
        return m_file.template read<Shdr>(m_shoff + index * sizeof(Shdr), [&] {
            return "section header " + dec(index) + " at e_shoff " + hex(m_shoff) + " + " + dec(index) + " x " +
                   dec(sizeof(Shdr)) + " lies";
        });
    }

    struct Names {
        std::uint64_t offset, size;
    };
    const Bytes& m_file;
    std::uint64_t m_shoff;
    std::uint64_t m_count = 0;
    std::uint64_t m_nameTable = SHN_UNDEF;
    mutable std::optional<Names> m_names;
};

// The number of program headers. Quirk: when it does not fit e_phnum, e_phnum is PN_XNUM and the
// count is section 0's sh_info.
template <class C>
std::uint64_t programHeaderCount(const Bytes& file, const typename C::Ehdr& ehdr) {
    if (ehdr.e_phnum.value() != PN_XNUM) return ehdr.e_phnum.value();
    if (ehdr.e_shoff.value() == 0) {
        throw FormatError("e_phnum is PN_XNUM (0xffff) but there is no section 0 to hold the count: e_shoff is 0");
    }
    return file.template read<typename C::Shdr>(ehdr.e_shoff.value(), [&] {
        return "section header 0 at e_shoff " + hex(ehdr.e_shoff.value());
    }).sh_info.value();
}

// "x86-64", "AArch64", ...; "machine 1234" for a number without a name here.
std::string machineName(std::uint16_t e_machine);

// The name of a dynamic tag the validation checks ("DT_STRTAB"), or its number in hex.
std::string dynamicTagName(std::int64_t d_tag);

}  // namespace objfile::elf
