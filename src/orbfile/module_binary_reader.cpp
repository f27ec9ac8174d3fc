#include "orbfile/module_binary_reader.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "objfile/byte_view.hpp"
#include "platform/native_binary_format.hpp"

namespace orbfile {
namespace {

using objfile::Le16;
using objfile::Le32;
using objfile::Le64;

// --- ELF ------------------------------------------------------------------------------------

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

struct Elf32Layout {
    using Ehdr = Elf32_Ehdr;
    using Shdr = Elf32_Shdr;
    using Sym = Elf32_Sym;
};
struct Elf64Layout {
    using Ehdr = Elf64_Ehdr;
    using Shdr = Elf64_Shdr;
    using Sym = Elf64_Sym;
};

constexpr std::uint32_t SHT_SYMTAB = 2;
constexpr std::uint32_t SHT_STRTAB = 3;
constexpr std::uint32_t SHT_DYNSYM = 11;
constexpr unsigned STV_DEFAULT = 0;
constexpr unsigned STV_PROTECTED = 3;

// --- PE -------------------------------------------------------------------------------------

struct IMAGE_DOS_HEADER {
    Le16 e_magic;
    Le16 e_cblp, e_cp, e_crlc, e_cparhdr, e_minalloc, e_maxalloc, e_ss, e_sp, e_csum, e_ip, e_cs, e_lfarlc, e_ovno;
    Le16 e_res[4];
    Le16 e_oemid, e_oeminfo;
    Le16 e_res2[10];
    Le32 e_lfanew;
};
static_assert(sizeof(IMAGE_DOS_HEADER) == 64);
struct IMAGE_FILE_HEADER {
    Le16 Machine, NumberOfSections;
    Le32 TimeDateStamp, PointerToSymbolTable, NumberOfSymbols;
    Le16 SizeOfOptionalHeader, Characteristics;
};
static_assert(sizeof(IMAGE_FILE_HEADER) == 20);
struct IMAGE_DATA_DIRECTORY {
    Le32 VirtualAddress, Size;
};
struct IMAGE_OPTIONAL_HEADER32 {
    Le16 Magic;
    unsigned char MajorLinkerVersion, MinorLinkerVersion;
    Le32 SizeOfCode, SizeOfInitializedData, SizeOfUninitializedData, AddressOfEntryPoint, BaseOfCode, BaseOfData;
    Le32 ImageBase, SectionAlignment, FileAlignment;
    Le16 MajorOperatingSystemVersion, MinorOperatingSystemVersion, MajorImageVersion, MinorImageVersion;
    Le16 MajorSubsystemVersion, MinorSubsystemVersion;
    Le32 Win32VersionValue, SizeOfImage, SizeOfHeaders, CheckSum;
    Le16 Subsystem, DllCharacteristics;
    Le32 SizeOfStackReserve, SizeOfStackCommit, SizeOfHeapReserve, SizeOfHeapCommit, LoaderFlags;
    Le32 NumberOfRvaAndSizes;
    IMAGE_DATA_DIRECTORY DataDirectory[16];
};
struct IMAGE_OPTIONAL_HEADER64 {
    Le16 Magic;
    unsigned char MajorLinkerVersion, MinorLinkerVersion;
    Le32 SizeOfCode, SizeOfInitializedData, SizeOfUninitializedData, AddressOfEntryPoint, BaseOfCode;
    Le64 ImageBase;
    Le32 SectionAlignment, FileAlignment;
    Le16 MajorOperatingSystemVersion, MinorOperatingSystemVersion, MajorImageVersion, MinorImageVersion;
    Le16 MajorSubsystemVersion, MinorSubsystemVersion;
    Le32 Win32VersionValue, SizeOfImage, SizeOfHeaders, CheckSum;
    Le16 Subsystem, DllCharacteristics;
    Le64 SizeOfStackReserve, SizeOfStackCommit, SizeOfHeapReserve, SizeOfHeapCommit;
    Le32 LoaderFlags, NumberOfRvaAndSizes;
    IMAGE_DATA_DIRECTORY DataDirectory[16];
};
struct IMAGE_NT_HEADERS32 {
    Le32 Signature;
    IMAGE_FILE_HEADER FileHeader;
    IMAGE_OPTIONAL_HEADER32 OptionalHeader;
};
static_assert(sizeof(IMAGE_NT_HEADERS32) == 248 && offsetof(IMAGE_NT_HEADERS32, OptionalHeader.DataDirectory) == 120);
struct IMAGE_NT_HEADERS64 {
    Le32 Signature;
    IMAGE_FILE_HEADER FileHeader;
    IMAGE_OPTIONAL_HEADER64 OptionalHeader;
};
static_assert(sizeof(IMAGE_NT_HEADERS64) == 264 && offsetof(IMAGE_NT_HEADERS64, OptionalHeader.DataDirectory) == 136);
struct IMAGE_SECTION_HEADER {
    unsigned char Name[8];
    Le32 VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData, PointerToRelocations, PointerToLinenumbers;
    Le16 NumberOfRelocations, NumberOfLinenumbers;
    Le32 Characteristics;
};
static_assert(sizeof(IMAGE_SECTION_HEADER) == 40);
struct IMAGE_EXPORT_DIRECTORY {
    Le32 Characteristics, TimeDateStamp;
    Le16 MajorVersion, MinorVersion;
    Le32 Name, Base, NumberOfFunctions, NumberOfNames, AddressOfFunctions, AddressOfNames, AddressOfNameOrdinals;
};
static_assert(sizeof(IMAGE_EXPORT_DIRECTORY) == 40);

constexpr std::uint32_t IMAGE_NT_SIGNATURE = 0x00004550;
constexpr std::uint16_t kOptionalMagic32 = 0x10B;
constexpr std::uint16_t kOptionalMagic64 = 0x20B;

// --- Mach-O ---------------------------------------------------------------------------------

struct mach_header {
    Le32 magic, cputype, cpusubtype, filetype, ncmds, sizeofcmds, flags;
};
static_assert(sizeof(mach_header) == 28);
struct load_command {
    Le32 cmd, cmdsize;
};
constexpr std::uint32_t MH_MAGIC = 0xFEEDFACE;
constexpr std::uint32_t MH_MAGIC_64 = 0xFEEDFACF;
constexpr std::uint32_t LC_SYMTAB = 0x2;

std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}
std::string dec(std::uint64_t value) { return std::to_string(value); }

[[noreturn]] void notNative() { throw std::runtime_error(orb::platform::kNotNativeFormatMessage); }

}  // namespace

ModuleBinaryReader::ModuleBinaryReader(const std::string& path) {
    m_stream.exceptions(std::ios::eofbit | std::ios::failbit | std::ios::badbit);
    m_stream.open(path, std::ios::binary | std::ios::in);
    m_stream.seekg(0, std::ios::end);
    m_size = static_cast<std::uint64_t>(m_stream.tellg());
    m_stream.seekg(0);
}

std::vector<char> ModuleBinaryReader::readAt(std::uint64_t offset, std::uint64_t size, const std::string& what) {
    if (offset > m_size || m_size - offset < size) {
        throw std::runtime_error(what + " at offset " + hex(offset) + " + size " + hex(size) +
                                 " lies beyond the file size " + hex(m_size));
    }
    std::vector<char> bytes(static_cast<std::size_t>(size));
    m_stream.seekg(static_cast<std::streamoff>(offset));
    if (size != 0) m_stream.read(bytes.data(), static_cast<std::streamsize>(size));
    return bytes;
}

template <class T>
T ModuleBinaryReader::readStruct(std::uint64_t offset, const std::string& what) {
    static_assert(std::is_trivially_copyable_v<T> && alignof(T) == 1);
    const std::vector<char> bytes = readAt(offset, sizeof(T), what);
    T value;
    std::memcpy(&value, bytes.data(), sizeof(T));
    return value;
}

std::string ModuleBinaryReader::readCString(std::uint64_t offset, const std::string& what) {
    std::string text;
    constexpr std::uint64_t kChunk = 64;
    for (std::uint64_t at = offset;; at += kChunk) {
        if (at >= m_size) {
            throw std::runtime_error(what + " at offset " + hex(offset) + " is not terminated before the end of the file");
        }
        const std::vector<char> chunk = readAt(at, std::min(kChunk, m_size - at), what);
        const auto nul = std::find(chunk.begin(), chunk.end(), '\0');
        text.append(chunk.begin(), nul);
        if (nul != chunk.end()) return text;
    }
}

void ModuleBinaryReader::detect_format(bool nativeOnly) {
    using orb::platform::BinaryFamily;
    using orb::platform::kNativeBinaryFamily;
    m_detected = false;
    // Detection tries each format in turn; a file too short for one is simply not of that format.
    const auto have = [&](std::uint64_t offset, std::uint64_t size) { return offset <= m_size && m_size - offset >= size; };
    const auto accept = [&](BinaryFormat format, BinaryFamily family) {
        if (nativeOnly && family != kNativeBinaryFamily) notNative();
        m_format = format;
        m_detected = true;
    };

    if (have(0, 5)) {
        const std::vector<char> ident = readAt(0, 5, "the ELF identification");
        if (std::memcmp(ident.data(), "\x7F" "ELF\x01", 5) == 0) return accept(ELF32, BinaryFamily::Elf);
        if (std::memcmp(ident.data(), "\x7F" "ELF\x02", 5) == 0) return accept(ELF64, BinaryFamily::Elf);
    }
    if (have(0, sizeof(IMAGE_DOS_HEADER))) {
        const auto dos = readStruct<IMAGE_DOS_HEADER>(0, "the DOS header");
        const std::uint16_t magic = dos.e_magic.value();
        const std::uint64_t lfanew = dos.e_lfanew.value();
        if (magic == 0x5A4D || magic == 0x4D5A) {
            if (have(lfanew, sizeof(IMAGE_NT_HEADERS32))) {
                const auto nt = readStruct<IMAGE_NT_HEADERS32>(lfanew, "the NT headers");
                if (nt.Signature.value() == IMAGE_NT_SIGNATURE && nt.OptionalHeader.Magic.value() == kOptionalMagic32) {
                    return accept(PE32, BinaryFamily::Pe);
                }
            }
            if (have(lfanew, sizeof(IMAGE_NT_HEADERS64))) {
                const auto nt = readStruct<IMAGE_NT_HEADERS64>(lfanew, "the NT headers");
                if (nt.Signature.value() == IMAGE_NT_SIGNATURE && nt.OptionalHeader.Magic.value() == kOptionalMagic64) {
                    return accept(PE32PLUS, BinaryFamily::Pe);
                }
            }
        }
    }
    if (have(0, 4)) {
        const std::uint32_t word = readStruct<Le32>(0, "the first word").value();
        if (word == MH_MAGIC) return accept(MACHO32, BinaryFamily::MachO);
        if (word == MH_MAGIC_64) return accept(MACHO64, BinaryFamily::MachO);
    }
    throw std::runtime_error("Unsupported binary format");
}

std::vector<std::string> ModuleBinaryReader::read_defined_symbols() {
    if (!m_detected) throw std::logic_error("read_defined_symbols before detect_format");
    switch (m_format) {
        case ELF32: return readElf<Elf32Layout>();
        case ELF64: return readElf<Elf64Layout>();
        case PE32: return readPe<IMAGE_NT_HEADERS32>();
        case PE32PLUS: return readPe<IMAGE_NT_HEADERS64>();
        case MACHO32:
        case MACHO64: return readMachO();
    }
    throw std::logic_error("unknown binary format " + dec(m_format));
}

template <class Layout>
std::vector<std::string> ModuleBinaryReader::readElf() {
    using Shdr = typename Layout::Shdr;
    using Sym = typename Layout::Sym;
    const auto ehdr = readStruct<typename Layout::Ehdr>(0, "the ELF header");
    const std::uint64_t shnum = ehdr.e_shnum.value();
    if (shnum == 0) return {};
    if (ehdr.e_shentsize.value() != sizeof(Shdr)) {
        throw std::runtime_error("e_shentsize " + dec(ehdr.e_shentsize.value()) + " is not the section header size " +
                                 dec(sizeof(Shdr)));
    }
    const std::vector<char> table = readAt(ehdr.e_shoff.value(), shnum * sizeof(Shdr), "the section header table");
    const auto section = [&](std::uint64_t i) {
        Shdr s;
        std::memcpy(&s, table.data() + i * sizeof(Shdr), sizeof(Shdr));
        return s;
    };
    const std::uint64_t shstrndx = ehdr.e_shstrndx.value();
    if (shstrndx >= shnum) {
        throw std::runtime_error("e_shstrndx " + dec(shstrndx) + " is outside the " + dec(shnum) + " sections");
    }
    const Shdr namesSection = section(shstrndx);
    std::vector<char> names = readAt(namesSection.sh_offset.value(), namesSection.sh_size.value(),
                                     "the section name table (section " + dec(shstrndx) + ")");
    names.push_back('\0');
    // A section's name, compared with its terminating NUL: ".symtab" does not match ".symtab2".
    const auto named = [&](const Shdr& s, const char* wanted) {
        const std::uint64_t at = s.sh_name.value();
        return at < names.size() && std::strcmp(names.data() + at, wanted) == 0;
    };

    std::uint64_t symtab = shnum, strtab = shnum, dynsym = shnum, dynstr = shnum;
    for (std::uint64_t i = 0; i < shnum; ++i) {
        const Shdr s = section(i);
        const std::uint32_t type = s.sh_type.value();
        if (type == SHT_SYMTAB && named(s, ".symtab")) symtab = i;
        if (type == SHT_STRTAB && named(s, ".strtab")) strtab = i;
        if (type == SHT_STRTAB && named(s, ".dynstr")) dynstr = i;
        if (type == SHT_DYNSYM && named(s, ".dynsym")) dynsym = i;
    }
    std::uint64_t symbolsIndex = symtab, stringsIndex = strtab;
    if (symtab == shnum || strtab == shnum) {
        symbolsIndex = dynsym;
        stringsIndex = dynstr;
    }
    if (symbolsIndex == shnum || stringsIndex == shnum) return {};

    const Shdr stringsSection = section(stringsIndex);
    std::vector<char> strings = readAt(stringsSection.sh_offset.value(), stringsSection.sh_size.value(),
                                       "the string table (section " + dec(stringsIndex) + ")");
    const std::uint64_t stringsSize = strings.size();
    strings.push_back('\0');
    const Shdr symbolsSection = section(symbolsIndex);
    const std::vector<char> symbols = readAt(symbolsSection.sh_offset.value(), symbolsSection.sh_size.value(),
                                             "the symbol table (section " + dec(symbolsIndex) + ")");

    std::vector<std::string> result;
    for (std::uint64_t i = 0; i < symbols.size() / sizeof(Sym); ++i) {
        Sym sym;
        std::memcpy(&sym, symbols.data() + i * sizeof(Sym), sizeof(Sym));
        const unsigned visibility = sym.st_other & 0x3u;
        if (visibility != STV_DEFAULT && visibility != STV_PROTECTED) continue;
        if (sym.st_info < 16) continue;  // binding STB_LOCAL
        if (sym.st_size.value() == 0) continue;
        if (sym.st_name.value() >= stringsSize) continue;
        std::string name(strings.data() + sym.st_name.value());
        if (!name.empty()) result.push_back(std::move(name));
    }
    return result;
}

template <class NtHeaders>
std::vector<std::string> ModuleBinaryReader::readPe() {
    const auto dos = readStruct<IMAGE_DOS_HEADER>(0, "the DOS header");
    const std::uint64_t lfanew = dos.e_lfanew.value();
    const auto nt = readStruct<NtHeaders>(lfanew, "the NT headers");
    const std::uint64_t exportRva = nt.OptionalHeader.DataDirectory[0].VirtualAddress.value();
    if (exportRva == 0) return {};

    const std::uint64_t sectionCount = nt.FileHeader.NumberOfSections.value();
    const std::uint64_t tableOffset = lfanew + 4 + sizeof(IMAGE_FILE_HEADER) + nt.FileHeader.SizeOfOptionalHeader.value();
    const std::vector<char> table = readAt(tableOffset, sectionCount * sizeof(IMAGE_SECTION_HEADER), "the section table");
    const auto offsetOf = [&](std::uint64_t rva, const std::string& what) -> std::uint64_t {
        for (std::uint64_t i = 0; i < sectionCount; ++i) {
            IMAGE_SECTION_HEADER s;
            std::memcpy(&s, table.data() + i * sizeof s, sizeof s);
            const std::uint64_t va = s.VirtualAddress.value();
            if (va <= rva && rva < va + s.SizeOfRawData.value()) return s.PointerToRawData.value() - va + rva;
        }
        throw std::runtime_error(what + " has RVA " + hex(rva) + ", which no section's raw data contains");
    };

    const auto exports = readStruct<IMAGE_EXPORT_DIRECTORY>(offsetOf(exportRva, "the export directory"), "the export directory");
    const std::uint64_t count = exports.NumberOfNames.value();
    if (count == 0) return {};
    const std::vector<char> nameRvas =
        readAt(offsetOf(exports.AddressOfNames.value(), "AddressOfNames"), count * 4, "the export name table");
    std::vector<std::string> result;
    result.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        Le32 rva;
        std::memcpy(&rva, nameRvas.data() + i * 4, 4);
        const std::string what = "export name " + dec(i);
        result.push_back(readCString(offsetOf(rva.value(), what), what));
    }
    return result;
}

std::vector<std::string> ModuleBinaryReader::readMachO() {
    const auto header = readStruct<mach_header>(0, "the Mach-O header");
    std::uint64_t at = m_format == MACHO64 ? 32 : 28;
    const std::uint64_t ncmds = header.ncmds.value();
    for (std::uint64_t i = 0; i < ncmds; ++i) {
        const auto command = readStruct<load_command>(at, "load command " + dec(i));
        if (command.cmd.value() == LC_SYMTAB) break;
        if (command.cmdsize.value() < sizeof(load_command)) {
            throw std::runtime_error("load command " + dec(i) + " has cmdsize " + dec(command.cmdsize.value()));
        }
        at += command.cmdsize.value();
    }
    return {};
}

}  // namespace orbfile
