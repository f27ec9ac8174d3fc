// Finding a named section of an ELF file. Only the ELF header, the section header table and the
// section names are read; every offset and count comes from the file, so each is checked against
// the file's size (overflow first) before it is used.
#include <cstring>
#include <vector>

#include "vhost/bundle/zip_locator.hpp"

namespace vhost::bundle {
namespace {

using U8 = unsigned char;

// The on-disk layouts, as byte arrays so that no host alignment or byte order leaks in.
struct Elf32_Ehdr {
    U8 e_ident[16], e_type[2], e_machine[2], e_version[4], e_entry[4], e_phoff[4], e_shoff[4], e_flags[4],
        e_ehsize[2], e_phentsize[2], e_phnum[2], e_shentsize[2], e_shnum[2], e_shstrndx[2];
};
struct Elf64_Ehdr {
    U8 e_ident[16], e_type[2], e_machine[2], e_version[4], e_entry[8], e_phoff[8], e_shoff[8], e_flags[4],
        e_ehsize[2], e_phentsize[2], e_phnum[2], e_shentsize[2], e_shnum[2], e_shstrndx[2];
};
struct Elf32_Shdr {
    U8 sh_name[4], sh_type[4], sh_flags[4], sh_addr[4], sh_offset[4], sh_size[4], sh_link[4], sh_info[4],
        sh_addralign[4], sh_entsize[4];
};
struct Elf64_Shdr {
    U8 sh_name[4], sh_type[4], sh_flags[8], sh_addr[8], sh_offset[8], sh_size[8], sh_link[4], sh_info[4],
        sh_addralign[8], sh_entsize[8];
};
static_assert(sizeof(Elf32_Ehdr) == 52 && sizeof(Elf64_Ehdr) == 64);
static_assert(sizeof(Elf32_Shdr) == 40 && sizeof(Elf64_Shdr) == 64);

struct Elf32Traits {
    using Ehdr = Elf32_Ehdr;
    using Shdr = Elf32_Shdr;
};
struct Elf64Traits {
    using Ehdr = Elf64_Ehdr;
    using Shdr = Elf64_Shdr;
};

template <std::size_t N>
std::uint64_t le(const U8 (&field)[N]) {
    static_assert(N == 2 || N == 4 || N == 8);
    if constexpr (N == 2) return loadLE16(field);
    if constexpr (N == 4) return loadLE32(field);
    if constexpr (N == 8) return loadLE64(field);
}

constexpr U8 kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr U8 ELFCLASS32 = 1, ELFCLASS64 = 2, ELFDATA2LSB = 1;
constexpr std::uint32_t SHT_NOBITS = 8;
constexpr std::uint16_t SHN_XINDEX = 0xFFFF;

struct Section {
    std::uint64_t name = 0;
    std::uint64_t type = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t link = 0;
};

template <class ELFT>
class ElfSectionFinder {
public:
    explicit ElfSectionFinder(ByteSource& source) : m_source(source) {}

    BlobLookup find(std::string_view wanted) {
        typename ELFT::Ehdr header;
        if (!m_source.read(0, sizeof header, &header)) return fail("the file ends inside the ELF header");
        m_shoff = le(header.e_shoff);
        m_shentsize = le(header.e_shentsize);
        std::uint64_t shnum = le(header.e_shnum);
        std::uint64_t shstrndx = le(header.e_shstrndx);
        if (m_shoff == 0) return {};  // no section header table: nothing to find
        if (m_shentsize < sizeof(typename ELFT::Shdr)) {
            return fail("e_shentsize " + hex(m_shentsize) + " is smaller than a section header (" +
                        hex(sizeof(typename ELFT::Shdr)) + ")");
        }
        // Files with 0xff00 sections or more keep the true count in section 0's sh_size and the
        // name table's index in its sh_link.
        if (shnum == 0 || shstrndx == SHN_XINDEX) {
            Section first;
            if (!readSection(0, first)) return fail(tableProblem(1));
            if (shnum == 0) shnum = first.size;
            if (shstrndx == SHN_XINDEX) shstrndx = first.link;
        }
        if (shnum > m_source.size() / m_shentsize || !m_source.contains(m_shoff, shnum * m_shentsize)) {
            return fail(tableProblem(shnum));
        }
        if (shnum == 0) return {};
        if (shstrndx >= shnum) {
            return fail("e_shstrndx " + std::to_string(shstrndx) + " is not below the section count " +
                        std::to_string(shnum));
        }
        Section names;
        if (!readSection(shstrndx, names)) return fail("cannot read section header " + std::to_string(shstrndx));
        if (!m_source.contains(names.offset, names.size)) {
            return fail(beyondFile(shstrndx, "(section names)", names));
        }

        std::vector<char> candidate(wanted.size() + 1);
        for (std::uint64_t index = 1; index < shnum; ++index) {
            Section section;
            if (!readSection(index, section)) return fail("cannot read section header " + std::to_string(index));
            if (section.name >= names.size) {
                return fail("section " + std::to_string(index) + " has sh_name " + hex(section.name) +
                            " beyond the section names' size " + hex(names.size));
            }
            // A name that would run past the table cannot be the wanted one with its terminator.
            if (names.size - section.name < candidate.size()) continue;
            if (!m_source.read(names.offset + section.name, candidate.size(), candidate.data())) {
                return fail("cannot read the name of section " + std::to_string(index));
            }
            if (candidate.back() != '\0' || std::memcmp(candidate.data(), wanted.data(), wanted.size()) != 0) continue;

            const std::string label = "'" + std::string(wanted) + "'";
            if (section.type == SHT_NOBITS) {
                return fail("section " + std::to_string(index) + " " + label + " has no bytes in the file (SHT_NOBITS)");
            }
            if (!m_source.contains(section.offset, section.size)) return fail(beyondFile(index, label, section));
            return BlobLookup{ByteRange{section.offset, section.size}, {}};
        }
        return {};
    }

private:
    // Reads header `index`; the caller has checked the table lies within the file, except for
    // section 0, which is checked here.
    bool readSection(std::uint64_t index, Section& out) {
        typename ELFT::Shdr raw;
        if (!m_source.read(m_shoff + index * m_shentsize, sizeof raw, &raw)) return false;
        out = Section{le(raw.sh_name), le(raw.sh_type), le(raw.sh_offset), le(raw.sh_size), le(raw.sh_link)};
        return true;
    }

    std::string tableProblem(std::uint64_t shnum) const {
        return "the section header table at e_shoff " + hex(m_shoff) + " with " + std::to_string(shnum) +
               " entries of e_shentsize " + hex(m_shentsize) + " lies beyond the file size " + hex(m_source.size());
    }

    std::string beyondFile(std::uint64_t index, const std::string& label, const Section& section) const {
        return "section " + std::to_string(index) + " " + label + " has sh_offset " + hex(section.offset) +
               " + sh_size " + hex(section.size) + " beyond the file size " + hex(m_source.size());
    }

    static BlobLookup fail(std::string problem) { return BlobLookup{std::nullopt, std::move(problem)}; }

    ByteSource& m_source;
    std::uint64_t m_shoff = 0;
    std::uint64_t m_shentsize = 0;
};

}  // namespace

BlobLookup findElfSection(ByteSource& source, std::string_view name) {
    U8 ident[6];
    if (!source.read(0, sizeof ident, ident) || std::memcmp(ident, kElfMagic, sizeof kElfMagic) != 0) return {};
    if (ident[5] != ELFDATA2LSB) return BlobLookup{std::nullopt, "big-endian ELF files are not read"};
    switch (ident[4]) {
    case ELFCLASS32: return ElfSectionFinder<Elf32Traits>(source).find(name);
    case ELFCLASS64: return ElfSectionFinder<Elf64Traits>(source).find(name);
    default: return BlobLookup{std::nullopt, "EI_CLASS " + std::to_string(ident[4]) + " is neither 32- nor 64-bit"};
    }
}

}  // namespace vhost::bundle
