#include "orbfile/module_binary_reader.hpp"

#include <ios>
#include <stdexcept>

#include "objfile/byte_view.hpp"
#include "objfile/elf.hpp"
#include "objfile/pe.hpp"
#include "platform/native_binary_format.hpp"

namespace orbfile {
namespace {

using objfile::Bytes;
using objfile::dec;
using objfile::hex;
using objfile::Le32;

// The Mach-O header and load-command prefix: all the reader walks of that format.
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

// A description of what is read, for the layer's messages.
auto what(std::string text) {
    return [text = std::move(text)] { return text; };
}

// ELF: the visible, non-local, sized symbols of .symtab with .strtab, or else of .dynsym with
// .dynstr.
template <class C>
std::vector<std::string> readElf(const Bytes& file) {
    namespace elf = objfile::elf;
    const objfile::elf::SectionHeaders<C> sections(file, elf::header<C>(file));
    if (sections.size() == 0) return {};
    std::uint64_t symtab = 0, strtab = 0, dynsym = 0, dynstr = 0;
    for (std::uint64_t i = 0; i < sections.size(); ++i) {
        const typename C::Shdr s = sections[i];
        const std::uint32_t type = s.sh_type.value();
        if (type == elf::SHT_SYMTAB && sections.named(i, s, ".symtab")) symtab = i + 1;
        if (type == elf::SHT_STRTAB && sections.named(i, s, ".strtab")) strtab = i + 1;
        if (type == elf::SHT_STRTAB && sections.named(i, s, ".dynstr")) dynstr = i + 1;
        if (type == elf::SHT_DYNSYM && sections.named(i, s, ".dynsym")) dynsym = i + 1;
    }
    const bool full = symtab != 0 && strtab != 0;
    const std::uint64_t symbolsIndex = full ? symtab : dynsym, stringsIndex = full ? strtab : dynstr;
    if (symbolsIndex == 0 || stringsIndex == 0) return {};

    const typename C::Shdr stringsSection = sections[stringsIndex - 1], symbolsSection = sections[symbolsIndex - 1];
    const std::uint64_t stringsSize = stringsSection.sh_size.value();
    const std::string strings = file.readText(sections.contents(stringsIndex - 1, stringsSection), stringsSize,
                                              what("the string table"));
    const std::string symbols = file.readText(sections.contents(symbolsIndex - 1, symbolsSection),
                                              symbolsSection.sh_size.value(), what("the symbol table"));
    std::vector<std::string> result;
    for (std::uint64_t i = 0; i < symbols.size() / sizeof(typename C::Sym); ++i) {
        typename C::Sym sym;
        std::memcpy(&sym, symbols.data() + i * sizeof sym, sizeof sym);
        const unsigned visibility = elf::symbolVisibility(sym.st_other);
        if (visibility != elf::STV_DEFAULT && visibility != elf::STV_PROTECTED) continue;
        if (elf::symbolBinding(sym.st_info) == elf::STB_LOCAL) continue;
        if (sym.st_size.value() == 0) continue;
        if (sym.st_name.value() >= stringsSize) continue;
        std::string name(strings.c_str() + sym.st_name.value());  // the table's end stands for a NUL
        if (!name.empty()) result.push_back(std::move(name));
    }
    return result;
}

// PE: the export names in the order of the export name table. The RVA of each table is found in
// the first section whose raw data holds it.
template <class NtHeaders>
std::vector<std::string> readPe(const Bytes& file) {
    namespace pe = objfile::pe;
    const std::uint64_t lfanew = file.read<pe::IMAGE_DOS_HEADER>(0, what("the DOS header")).e_lfanew.value();
    const auto nt = file.read<NtHeaders>(lfanew, what("the NT headers"));
    const std::uint64_t exportRva = nt.OptionalHeader.DataDirectory[pe::IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress.value();
    if (exportRva == 0) return {};

    const std::uint64_t sectionCount = nt.FileHeader.NumberOfSections.value();
    const std::uint64_t tableOffset =
        lfanew + offsetof(NtHeaders, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader.value();
    const std::string table = file.readText(tableOffset, sectionCount * sizeof(pe::IMAGE_SECTION_HEADER),
                                            what("the section table"));
    std::vector<pe::IMAGE_SECTION_HEADER> sections(static_cast<std::size_t>(sectionCount));
    if (sectionCount != 0) std::memcpy(sections.data(), table.data(), table.size());
    const auto offsetOf = [&](std::uint64_t rva, const std::string& name) -> std::uint64_t {
        for (const pe::IMAGE_SECTION_HEADER& s : sections) {
            const std::uint64_t va = s.VirtualAddress.value();
            if (va <= rva && rva < va + s.SizeOfRawData.value()) return s.PointerToRawData.value() - va + rva;
        }
        throw std::runtime_error(name + " has RVA " + hex(rva) + ", which no section's raw data contains");
    };

    const auto exports = file.read<pe::IMAGE_EXPORT_DIRECTORY>(offsetOf(exportRva, "the export directory"),
                                                               what("the export directory"));
    const std::uint64_t count = exports.NumberOfNames.value();
    if (count == 0) return {};
    const std::uint64_t names = offsetOf(exports.AddressOfNames.value(), "AddressOfNames");
    file.requireTable(names, count, 4, [&] { return "the export name table at offset " + hex(names) + " with " + dec(count) + " names"; });
    std::vector<std::string> result;
    result.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::string name = "export name " + dec(i);
        const std::uint64_t rva = file.read<Le32>(names + 4 * i, what(name + "'s RVA")).value();
        result.push_back(file.readCString(offsetOf(rva, name), what(name)));
    }
    return result;
}

// Mach-O: the load commands are walked to the symbol table command; no names are collected.
std::vector<std::string> readMachO(const Bytes& file, bool wide) {
    const auto header = file.read<mach_header>(0, what("the Mach-O header"));
    std::uint64_t at = wide ? 32 : 28;
    const std::uint64_t ncmds = header.ncmds.value();
    for (std::uint64_t i = 0; i < ncmds; ++i) {
        const auto command = file.read<load_command>(at, what("load command " + dec(i)));
        if (command.cmd.value() == LC_SYMTAB) break;
        if (command.cmdsize.value() < sizeof(load_command)) {
            throw std::runtime_error("load command " + dec(i) + " has cmdsize " + dec(command.cmdsize.value()));
        }
        at += command.cmdsize.value();
    }
    return {};
}

}  // namespace

ModuleBinaryReader::ModuleBinaryReader(const std::string& path) {
    try {
        m_file = std::make_unique<const objfile::FileBytes>(path);
    } catch (const objfile::FormatError& error) {
        throw std::ios_base::failure(error.what());
    }
}

ModuleBinaryReader::~ModuleBinaryReader() = default;

void ModuleBinaryReader::detect_format(bool nativeOnly) {
    using orb::platform::BinaryFamily;
    namespace pe = objfile::pe;
    const Bytes& file = *m_file;
    m_detected = false;
    const auto accept = [&](BinaryFormat format, BinaryFamily family) {
        if (nativeOnly && family != orb::platform::kNativeBinaryFamily) {
            throw std::runtime_error(orb::platform::kNotNativeFormatMessage);
        }
        m_format = format;
        m_detected = true;
    };
    // Each format is tried in turn; a file too short for one is simply not of that format.
    if (file.contains(0, 5)) {
        const std::string ident = file.readText(0, 5, what("the ELF identification"));
        if (ident == std::string("\x7F" "ELF\x01", 5)) return accept(ELF32, BinaryFamily::Elf);
        if (ident == std::string("\x7F" "ELF\x02", 5)) return accept(ELF64, BinaryFamily::Elf);
    }
    if (file.contains(0, sizeof(pe::IMAGE_DOS_HEADER))) {
        const auto dos = file.read<pe::IMAGE_DOS_HEADER>(0, what("the DOS header"));
        const std::uint16_t magic = dos.e_magic.value();
        const std::uint64_t lfanew = dos.e_lfanew.value();
        // The byte-swapped magic is accepted too.
        if (magic == pe::IMAGE_DOS_SIGNATURE || magic == 0x4D5A) {
            if (file.contains(lfanew, sizeof(pe::IMAGE_NT_HEADERS32))) {
                const auto nt = file.read<pe::IMAGE_NT_HEADERS32>(lfanew, what("the NT headers"));
                if (nt.Signature.value() == pe::IMAGE_NT_SIGNATURE &&
                    nt.OptionalHeader.Magic.value() == pe::IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
                    return accept(PE32, BinaryFamily::Pe);
                }
            }
            if (file.contains(lfanew, sizeof(pe::IMAGE_NT_HEADERS64))) {
                const auto nt = file.read<pe::IMAGE_NT_HEADERS64>(lfanew, what("the NT headers"));
                if (nt.Signature.value() == pe::IMAGE_NT_SIGNATURE &&
                    nt.OptionalHeader.Magic.value() == pe::IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
                    return accept(PE32PLUS, BinaryFamily::Pe);
                }
            }
        }
    }
    if (file.contains(0, 4)) {
        const std::uint32_t word = file.read<Le32>(0, what("the first word")).value();
        if (word == MH_MAGIC) return accept(MACHO32, BinaryFamily::MachO);
        if (word == MH_MAGIC_64) return accept(MACHO64, BinaryFamily::MachO);
    }
    throw std::runtime_error("Unsupported binary format");
}

std::vector<std::string> ModuleBinaryReader::read_defined_symbols() {
    if (!m_detected) throw std::logic_error("read_defined_symbols before detect_format");
    switch (m_format) {
        case ELF32: return readElf<objfile::elf::Elf32>(*m_file);
        case ELF64: return readElf<objfile::elf::Elf64>(*m_file);
        case PE32: return readPe<objfile::pe::IMAGE_NT_HEADERS32>(*m_file);
        case PE32PLUS: return readPe<objfile::pe::IMAGE_NT_HEADERS64>(*m_file);
        case MACHO32:
        case MACHO64: return readMachO(*m_file, m_format == MACHO64);
    }
    throw std::logic_error("unknown binary format " + dec(m_format));
}

}  // namespace orbfile
