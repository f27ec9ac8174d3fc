// Every reader of the object-file layer on the same damaged files: the check before mapping, the
// host's symbol reader, the runtime's module binary reader and the bundle's embedded-zip finders.
// Each damage is named, with the field and the value, by exactly the readers that read what it
// hits: alike by all of them where the layer reads it for all (the section header table, the PE
// headers). And none of them reads outside the bytes of a file cut short or mutated at random.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "inspect/inspect_support.hpp"
#include "objfile/elf.hpp"
#include "objfile/loadable.hpp"
#include "objfile/pe.hpp"
#include "orbfile/module_binary_reader.hpp"
#include "vhost/bundle/zip_locator.hpp"
#include "vhost/libsyms/readers.hpp"

namespace {

using namespace inspecttest;
using objfile::hex;
using Bytes = std::vector<unsigned char>;
namespace elf = objfile::elf;
namespace pe = objfile::pe;

// What each reader says about one file: empty when it read it, else its message.
struct Verdicts {
    std::string loadable, symbols, module, embedded;
};

Verdicts readAll(const Bytes& bytes, const ScratchDir& dir, std::vector<std::string>* moduleNames = nullptr) {
    Verdicts v;
    v.loadable = objfile::checkLoadable(objfile::ByteView(bytes.data(), bytes.size())).reason;
    try {
        std::vector<std::string_view> defs, undefs;
        vhost::libsyms::readSymbolNames(bytes.data(), bytes.size(), defs, undefs);
    } catch (const std::runtime_error& error) {
        v.symbols = error.what();
    }
    try {
        orbfile::ModuleBinaryReader reader(dir.write("file", bytes));
        reader.detect_format(false);
        const auto names = reader.read_defined_symbols();
        if (moduleNames) *moduleNames = names;
    } catch (const std::exception& error) {
        v.module = error.what();
    }
    vhost::bundle::MemoryByteSource source(bytes.data(), bytes.size());
    for (const auto& found : {vhost::bundle::findElfSection(source, ".us_resources"),
                              vhost::bundle::findPeResource(source, 300, "US_RESOURCES")}) {
        if (found.blob) {
            EXPECT_LE(found.blob->end(), bytes.size());
            EXPECT_GE(found.blob->end(), found.blob->offset);
        }
        v.embedded += found.problem;
    }
    return v;
}

template <class T>
T get(const Bytes& bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}
template <class T>
void put(Bytes& bytes, std::size_t offset, std::uint64_t value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A change to a file and what each reader must say: "", the file is read; otherwise its exact
// message, or its beginning when the text ends in "...", and "*" for anything.
struct Damage {
    std::string what;
    std::function<void(Bytes&)> change;
    std::string loadable, symbols, module, embedded;
};

void expectVerdicts(const Bytes& original, const std::vector<Damage>& rows) {
    const ScratchDir dir;
    const auto expect = [](const std::string& actual, const std::string& wanted, const std::string& row, const char* reader) {
        if (wanted == "*") return;
        if (wanted.ends_with("...")) {
            EXPECT_TRUE(actual.starts_with(wanted.substr(0, wanted.size() - 3))) << row << ": " << reader << " said " << actual;
        } else {
            EXPECT_EQ(actual, wanted) << row << ": " << reader;
        }
    };
    for (const Damage& row : rows) {
        Bytes bytes = original;
        row.change(bytes);
        const Verdicts v = readAll(bytes, dir);
        expect(v.loadable, row.loadable, row.what, "checkLoadable");
        expect(v.symbols, row.symbols, row.what, "symbol reader");
        expect(v.module, row.module, row.what, "module binary reader");
        expect(v.embedded, row.embedded, row.what, "embedded-zip finders");
    }
}

// A damage that every reader meets and names alike.
Damage all(std::string what, std::function<void(Bytes&)> change, const std::string& message) {
    return {std::move(what), std::move(change), message, message, message, message};
}

TEST(ObjectFile, DamagedElfFieldsAreNamedByTheReadersThatReadThem) {
    const Bytes original = readBytes(modulePath("inspect_c800_vf"));
    const objfile::ByteView view(original.data(), original.size());
    const auto ehdr = elf::header<elf::Elf64>(view);
    const elf::SectionHeaders<elf::Elf64> sections(view, ehdr);
    const std::uint64_t shoff = ehdr.e_shoff.value(), shnum = sections.size(), names = sections.nameTableIndex();
    std::uint64_t dynsym = 0;
    while (sections[dynsym].sh_type.value() != elf::SHT_DYNSYM) ++dynsym;
    const std::uint64_t dynstr = sections[dynsym].sh_link.value();
    const auto strings = sections[dynstr];
    const auto at = [&](std::uint64_t section, std::size_t field) { return shoff + section * sizeof(elf::Elf64_Shdr) + field; };
    const std::string N = std::to_string(shnum), D = std::to_string(dynsym), L = std::to_string(dynstr);
    const std::string size = hex(original.size());
    const auto table = [&](std::uint64_t offset, std::uint64_t count) {
        return "the section header table at e_shoff " + hex(offset) + " (" + std::to_string(count) + " x 64 bytes) lies";
    };
    // Files with very many sections keep the count in section 0's sh_size and the names' index
    // in its sh_link.
    const auto extended = [&](Bytes& b, std::uint64_t count) {
        put<objfile::Le64>(b, at(0, offsetof(elf::Elf64_Shdr, sh_size)), count);
        put<objfile::Le32>(b, at(0, offsetof(elf::Elf64_Shdr, sh_link)), names);
        put<objfile::Le16>(b, offsetof(elf::Elf64_Ehdr, e_shnum), 0);
        put<objfile::Le16>(b, offsetof(elf::Elf64_Ehdr, e_shstrndx), elf::SHN_XINDEX);
    };
    const std::string badNames = "e_shstrndx " + std::to_string(shnum + 3) + " is not below the section count " + N;
    const std::string stringsBeyond = "section " + L + " has sh_offset " + hex(strings.sh_offset.value()) +
                                      " + sh_size 0x100000 beyond the file size " + size;
    const auto nameTable = sections[names];
    const std::string namesBeyond = "section " + std::to_string(names) + " has sh_offset " + hex(nameTable.sh_offset.value()) +
                                    " + sh_size 0x100000 beyond the file size " + size;
    const std::string header = "the ELF header (0x40 bytes) at 0x0 lies beyond the file size 0x28";
    const std::string notClass = "e_ident[EI_CLASS] 3 is neither ELFCLASS32 nor ELFCLASS64";
    const std::string notLittle = "e_ident[EI_DATA] 2 is not ELFDATA2LSB: only little-endian files are read";
    expectVerdicts(original, {
        all("intact", [](Bytes&) {}, ""),
        all("extended numbering", [&](Bytes& b) { extended(b, shnum); }, ""),
        all("extended count beyond the file", [&](Bytes& b) { extended(b, 0x10000000); },
            table(shoff, 0x10000000) + " beyond the file size " + size),
        all("e_shentsize", [](Bytes& b) { put<objfile::Le16>(b, offsetof(elf::Elf64_Ehdr, e_shentsize), 32); },
            "e_shentsize 32 is not the size of a section header (64)"),
        all("e_shnum", [](Bytes& b) { put<objfile::Le16>(b, offsetof(elf::Elf64_Ehdr, e_shnum), 0xFFFF); },
            table(shoff, 0xFFFF) + " beyond the file size " + size),
        all("e_shoff near the end", [](Bytes& b) { put<objfile::Le64>(b, offsetof(elf::Elf64_Ehdr, e_shoff), b.size() - 64); },
            table(original.size() - 64, shnum) + " beyond the file size " + size),
        all("e_shoff wrapping around", [](Bytes& b) { put<objfile::Le64>(b, offsetof(elf::Elf64_Ehdr, e_shoff), ~0ull - 8); },
            table(~0ull - 8, shnum) + ", which overflows 64 bits"),
        all("no section headers", [](Bytes& b) { put<objfile::Le64>(b, offsetof(elf::Elf64_Ehdr, e_shoff), 0); }, ""),
        // Only the readers that look sections up by name read the name table.
        {"e_shstrndx", [&](Bytes& b) { put<objfile::Le16>(b, offsetof(elf::Elf64_Ehdr, e_shstrndx), shnum + 3); }, "", "",
         badNames, badNames},
        {"name table beyond the file", [&](Bytes& b) { put<objfile::Le64>(b, at(names, offsetof(elf::Elf64_Shdr, sh_size)), 0x100000); },
         "", "", namesBeyond, namesBeyond},
        // The dynamic symbol table: the loader's check and the symbol reader read it (the module
        // binary reader prefers .symtab).
        {"dynamic string table beyond the file", [&](Bytes& b) { put<objfile::Le64>(b, at(dynstr, offsetof(elf::Elf64_Shdr, sh_size)), 0x100000); },
         stringsBeyond, stringsBeyond, "", ""},
        {"st_name past the string table",
         [&](Bytes& b) { put<objfile::Le32>(b, sections[dynsym].sh_offset.value() + sizeof(elf::Elf64_Sym), strings.sh_size.value() + 5); },
         "dynamic symbol 1 has st_name " + hex(strings.sh_size.value() + 5) + " beyond DT_STRSZ " + hex(strings.sh_size.value()),
         "symbol 1 has st_name " + hex(strings.sh_size.value() + 5) +
             " with no terminated name inside the string table of size " + hex(strings.sh_size.value()), "", ""},
        {"sh_link out of range", [&](Bytes& b) { put<objfile::Le32>(b, at(dynsym, offsetof(elf::Elf64_Shdr, sh_link)), 99); }, "",
         "the dynamic symbol table (section " + D + ") has sh_link 99 outside the " + N + " sections", "", ""},
        {"sh_link to a section that is no string table",
         [&](Bytes& b) { put<objfile::Le32>(b, at(dynsym, offsetof(elf::Elf64_Shdr, sh_link)), dynsym); }, "",
         "section " + D + ", the string table of the dynamic symbol table, has sh_type 11 instead of SHT_STRTAB", "", ""},
        {"sh_entsize too small", [&](Bytes& b) { put<objfile::Le64>(b, at(dynsym, offsetof(elf::Elf64_Shdr, sh_entsize)), 8); }, "",
         "section " + D + " has sh_entsize 8, smaller than a symbol entry (24)", "", ""},
        {"no dynamic symbol table", [&](Bytes& b) { put<objfile::Le32>(b, at(dynsym, offsetof(elf::Elf64_Shdr, sh_type)), 1); },
         "", "", "", ""},
        // The identification: the loader's check refuses, the readers say what they cannot read.
        {"class byte", [](Bytes& b) { b[elf::EI_CLASS] = 3; }, "e_ident[EI_CLASS] 3 names no ELF class", notClass,
         "Unsupported binary format", notClass},
        {"byte order", [](Bytes& b) { b[elf::EI_DATA] = 2; }, "a big-endian ELF file (e_ident[EI_DATA] 2), not little-endian", notLittle, "",
         notLittle},
        {"cut inside the header", [](Bytes& b) { b.resize(40); }, "the file is 0x28 bytes long, shorter than the ELF header (0x40 bytes)", header,
         header, header},
    });

    // The extended numbering changes nothing that is read.
    const ScratchDir dir;
    std::vector<std::string> plain, viaSection0;
    readAll(original, dir, &plain);
    Bytes bytes = original;
    extended(bytes, shnum);
    readAll(bytes, dir, &viaSection0);
    EXPECT_FALSE(plain.empty());
    EXPECT_EQ(plain, viaSection0);
}

TEST(ObjectFile, DamagedPeFieldsAreNamedByTheReadersThatReadThem) {
    const Bytes original = readBytes(pePath("pe64_c800_manifest.dll"));
    const objfile::ByteView view(original.data(), original.size());
    const pe::Image image(view);
    const std::uint64_t lfanew = image.ntHeaders();
    const std::uint64_t optional = lfanew + offsetof(pe::IMAGE_NT_HEADERS64, OptionalHeader);
    const std::uint64_t directories = lfanew + offsetof(pe::IMAGE_NT_HEADERS64, OptionalHeader.DataDirectory);
    const std::uint64_t sections = optional + image.fileHeader().SizeOfOptionalHeader.value();
    const auto offsetOf = [&](std::uint64_t rva) { return image.offsetOf(rva, 0, [] { return std::string(); }); };
    const std::uint64_t exportRva = image.directory(pe::IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress.value();
    const std::uint64_t exportOffset = offsetOf(exportRva);
    const auto exports = get<pe::IMAGE_EXPORT_DIRECTORY>(original, exportOffset);
    const std::uint64_t importOffset = offsetOf(image.directory(pe::IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress.value());
    std::uint64_t exportSection = 0;
    while (image.sections()[exportSection].VirtualAddress.value() + image.sections()[exportSection].SizeOfRawData.value() <=
           exportRva) {
        ++exportSection;
    }
    const std::string size = hex(original.size());
    const std::string magic = "the optional header Magic is 0x30b, neither 0x10b (PE32) nor 0x20b (PE32+)";
    const std::string fixedPart = "SizeOfOptionalHeader 16 is smaller than the fixed part of 112 bytes";
    const std::string sectionTable = "the section table at " + hex(sections) + " with NumberOfSections 65535 beyond the file size " + size;
    const std::string unsupported = "Unsupported binary format";
    expectVerdicts(original, {
        // A file that is no PE image has no resource to find: not a problem of the finder's.
        {"intact", [](Bytes&) {}, "*", "", "", ""},
        {"cut inside the DOS header", [](Bytes& b) { b.resize(60); }, "*",
         "the DOS header (0x40 bytes) at 0x0 lies beyond the file size 0x3c", unsupported, ""},
        {"e_lfanew", [&](Bytes& b) { put<objfile::Le32>(b, 60, b.size() - 10); }, "*",
         "the NT headers at e_lfanew " + hex(original.size() - 10) + " lie beyond the file size " + size, unsupported, ""},
        {"signature", [&](Bytes& b) { b[lfanew] = 'Q'; }, "*",
         "the signature at e_lfanew " + hex(lfanew) + " is 0x4551 instead of 0x4550", unsupported, ""},
        {"optional header Magic", [&](Bytes& b) { put<objfile::Le16>(b, optional, 0x30B); }, "*", magic, unsupported, magic},
        {"SizeOfOptionalHeader", [&](Bytes& b) { put<objfile::Le16>(b, lfanew + 4 + 16, 16); }, "*", fixedPart, "*", fixedPart},
        {"NumberOfSections", [&](Bytes& b) { put<objfile::Le16>(b, lfanew + 4 + 2, 0xFFFF); }, "*", sectionTable,
         "the section table beyond the file size " + size, sectionTable},
        // Only the readers of the export and import tables read them.
        {"export directory RVA", [&](Bytes& b) { put<objfile::Le32>(b, directories, 0x7FFF0000); }, "*",
         "the export directory has RVA 0x7fff0000, which no section contains",
         "the export directory has RVA 0x7fff0000, which no section's raw data contains", ""},
        {"export section without raw data",
         [&](Bytes& b) { put<objfile::Le32>(b, sections + exportSection * 40 + offsetof(pe::IMAGE_SECTION_HEADER, SizeOfRawData), 0); },
         "*", "the export directory at RVA " + hex(exportRva) + " lies in the uninitialised part of section " +
             std::to_string(exportSection) + " (SizeOfRawData 0x0)",
         "the export directory has RVA " + hex(exportRva) + ", which no section's raw data contains", ""},
        {"NumberOfNames", [&](Bytes& b) { put<objfile::Le32>(b, exportOffset + offsetof(pe::IMAGE_EXPORT_DIRECTORY, NumberOfNames), 0x10000000); },
         "*", "the export name table at AddressOfNames " + hex(exports.AddressOfNames.value()) +
             " with NumberOfNames 268435456 beyond the file size " + size,
         "the export name table at offset " + hex(offsetOf(exports.AddressOfNames.value())) + " with 268435456 names beyond the file size " + size, ""},
        {"export name RVA", [&](Bytes& b) { put<objfile::Le32>(b, offsetOf(exports.AddressOfNames.value()), 0x7FFF0000); }, "*",
         "export name 0 has RVA 0x7fff0000, which no section contains",
         "export name 0 has RVA 0x7fff0000, which no section's raw data contains", ""},
        // The stricter choice: a table RVA outside every section is not read from the file's start.
        {"AddressOfNames", [&](Bytes& b) { put<objfile::Le32>(b, exportOffset + offsetof(pe::IMAGE_EXPORT_DIRECTORY, AddressOfNames), 0x7FFF0000); },
         "*", "AddressOfNames has RVA 0x7fff0000, which no section contains",
         "AddressOfNames has RVA 0x7fff0000, which no section's raw data contains", ""},
        {"import descriptor without thunks",
         [&](Bytes& b) {
             put<objfile::Le32>(b, importOffset + offsetof(pe::IMAGE_IMPORT_DESCRIPTOR, OriginalFirstThunk), 0);
             put<objfile::Le32>(b, importOffset + offsetof(pe::IMAGE_IMPORT_DESCRIPTOR, FirstThunk), 0);
         },
         "*", "import descriptor 0 has neither OriginalFirstThunk nor FirstThunk", "", ""},
        {"no export directory", [&](Bytes& b) { put<objfile::Le32>(b, directories, 0); }, "*", "", "", ""},
        {"resource directory RVA", [&](Bytes& b) { put<objfile::Le32>(b, directories + 2 * 8, 0x7FFF0000); }, "*", "", "",
         "the resource directory has RVA 0x7fff0000 + 0x1f8, which no section contains"},
    });
}

// Every prefix length class and random byte changes, half of them in the headers: each reader
// either reads the file or says why not, and never reads outside it (the sanitizer build checks
// that).
TEST(ObjectFile, TruncatedAndMutatedFilesFailCleanly) {
    const ScratchDir dir;
    const std::string files[] = {modulePath("inspect_c800_vf"), pePath("pe64_c700.dll"), pePath("pe32_c730.dll"),
                                 pePath("pe64_ordinal_user.dll"), pePath("pe64_c800_manifest.dll")};
    for (const std::string& file : files) {
        const Bytes original = readBytes(file);
        std::size_t refused = 0;
        for (std::size_t length = 0; length < original.size(); length += 1 + length / 16) {
            const Verdicts v = readAll(Bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(length)), dir);
            refused += v.symbols.empty() ? 0 : 1;
        }
        EXPECT_GT(refused, 0u) << file;

        std::mt19937 random(20240917);
        std::uniform_int_distribution<std::size_t> where(0, original.size() - 1);
        std::uniform_int_distribution<int> byte(0, 255);
        refused = 0;
        for (int round = 0; round < 400; ++round) {
            Bytes bytes = original;
            for (int i = 0; i <= round % 8; ++i) {
                const std::size_t at = i % 2 == 0 ? where(random) % 1024 : where(random);
                bytes[at % bytes.size()] = static_cast<unsigned char>(byte(random));
            }
            const Verdicts v = readAll(bytes, dir);
            refused += v.symbols.empty() && v.module.empty() ? 0 : 1;
        }
        EXPECT_GT(refused, 0u) << file;
    }
}

}  // namespace
