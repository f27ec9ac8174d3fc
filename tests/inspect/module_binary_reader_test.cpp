// The runtime's own reader of exported names: format detection (native and foreign), ELF's
// visible non-local symbols against readelf, PE export names against objdump, Mach-O, and
// misuse. Damaged files are object_file_test's, which runs every reader on them.
#include <gtest/gtest.h>

#include <cstring>

#include "inspect/inspect_support.hpp"
#include "orbfile/module_binary_reader.hpp"

namespace {

using namespace inspecttest;
using orbfile::ModuleBinaryReader;
using Bytes = std::vector<unsigned char>;

// What the reader says about a file: its format, or the message it threw.
std::string detect(const std::string& path, bool nativeOnly) {
    try {
        ModuleBinaryReader reader(path);
        reader.detect_format(nativeOnly);
        static const char* names[] = {"ELF32", "ELF64", "PE32", "PE32PLUS", "MACHO32", "MACHO64"};
        return names[reader.format()];
    } catch (const std::exception& error) {
        return std::string("error: ") + error.what();
    }
}

std::vector<std::string> defined(const std::string& path) {
    ModuleBinaryReader reader(path);
    reader.detect_format(false);
    return reader.read_defined_symbols();
}

// A Mach-O header, one segment command of `firstCmdSize` bytes and, when asked, the symbol
// table command after it.
Bytes machO(std::uint32_t magic, std::uint32_t ncmds, std::uint32_t firstCmdSize, bool symtabCommand = true) {
    Bytes bytes(128, 0);
    std::memcpy(bytes.data(), &magic, 4);
    std::memcpy(bytes.data() + 16, &ncmds, 4);
    const std::size_t first = magic == 0xFEEDFACF ? 32 : 28;
    const std::uint32_t cmd = 0x19;  // a segment command
    std::memcpy(bytes.data() + first, &cmd, 4);
    std::memcpy(bytes.data() + first + 4, &firstCmdSize, 4);
    if (!symtabCommand) return bytes;
    const std::uint32_t symtab = 2, symtabSize = 24;
    std::memcpy(bytes.data() + first + firstCmdSize, &symtab, 4);
    std::memcpy(bytes.data() + first + firstCmdSize + 4, &symtabSize, 4);
    return bytes;
}

TEST(ModuleBinaryReader, DetectsEachFormat) {
    ScratchDir dir;
    Bytes swapped = readBytes(pePath("pe64_c700.dll"));
    std::swap(swapped[0], swapped[1]);  // "ZM": the byte-swapped DOS magic is accepted too
    Bytes badSignature = readBytes(pePath("pe64_c700.dll"));
    badSignature[0x80] ^= 0xFF;
    Bytes elf32 = {0x7F, 'E', 'L', 'F', 1, 1, 1, 0};
    struct Case {
        std::string path;
        const char* any;     // nativeOnly false
        const char* native;  // nativeOnly true
    };
    const std::string notNative = "error: Not native format: not an ELF binary";
    const Case cases[] = {
        {modulePath("inspect_c800_vf"), "ELF64", "ELF64"},
        {dir.write("elf32", elf32), "ELF32", "ELF32"},
        {pePath("pe64_c700.dll"), "PE32PLUS", notNative.c_str()},
        {pePath("pe32_c730.dll"), "PE32", notNative.c_str()},
        {dir.write("swapped.dll", swapped), "PE32PLUS", notNative.c_str()},
        {dir.write("macho32", machO(0xFEEDFACE, 2, 56)), "MACHO32", notNative.c_str()},
        {dir.write("macho64", machO(0xFEEDFACF, 2, 72)), "MACHO64", notNative.c_str()},
        {dir.write("badsig.dll", badSignature), "error: Unsupported binary format", "error: Unsupported binary format"},
        {dir.write("empty", {}), "error: Unsupported binary format", "error: Unsupported binary format"},
        {dir.write("elf", Bytes{0x7F, 'E', 'L', 'F'}), "error: Unsupported binary format",
         "error: Unsupported binary format"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(detect(c.path, false), c.any) << c.path;
        EXPECT_EQ(detect(c.path, true), c.native) << c.path;
    }
}

// readelf's view of the table the reader uses: .symtab when present, else .dynsym; entries
// that are not local, visible (default or protected) and of non-zero size.
std::vector<std::string> readelfVisible(const std::string& file) {
    const auto result = orbtest::runChild("/usr/bin/readelf", {"-sW", file});
    if (result.exitCode != 0) throw std::runtime_error("readelf failed: " + result.err);
    const bool hasSymtab = result.out.find("Symbol table '.symtab'") != std::string::npos;
    const std::string table = hasSymtab ? "Symbol table '.symtab'" : "Symbol table '.dynsym'";
    std::vector<std::string> names;
    bool inTable = false;
    for (const std::string& line : lines(result.out)) {
        if (line.starts_with("Symbol table")) {
            inTable = line.starts_with(table);
            continue;
        }
        if (!inTable) continue;
        std::istringstream row(line);
        std::string num, value, size, type, bind, vis, ndx, name;
        if (!(row >> num >> value >> size >> type >> bind >> vis >> ndx) || num == "Num:") continue;
        row >> name;
        name = name.substr(0, name.find('@'));
        if (bind == "LOCAL" || (vis != "DEFAULT" && vis != "PROTECTED") || std::stoull(size, nullptr, 0) == 0) continue;
        if (!name.empty()) names.push_back(name);
    }
    return sorted(names);
}

TEST(ModuleBinaryReader, ElfDefinedSymbolsAreTheVisibleGlobalOnes) {
    const std::vector<std::string> files = {
        modulePath("inspect_c800_vf"), modulePath("inspect_cpp"), modulePath("inspect_fortran_vf"),
        std::string(ORB_STAGE_DIR) + "/lib/libvhost.so",  // has .symtab
        "/lib/x86_64-linux-gnu/libm.so.6",                // stripped: .dynsym
    };
    for (const auto& file : files) {
        EXPECT_EQ(sorted(defined(file)), readelfVisible(file)) << file;
    }
    const auto names = defined(modulePath("inspect_c800_vf"));
    EXPECT_NE(std::find(names.begin(), names.end(), "orbFunction"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "ryGetDoubles_800"), names.end());  // an import
    EXPECT_EQ(std::find(names.begin(), names.end(), "frame_dummy"), names.end());       // local
}

TEST(ModuleBinaryReader, PeExportNamesInTableOrder) {
    for (const char* name : {"pe64_c800_vf.dll", "pe64_cpp.dll", "pe32_c730.dll", "pe64_ordinal_user.dll"}) {
        EXPECT_EQ(defined(pePath(name)), objdumpPe(pePath(name)).exports) << name;
    }
    // An export directory with no names, and no export directory at all.
    EXPECT_TRUE(defined(pePath("pe64_ordinals.dll")).empty());
    EXPECT_TRUE(defined(pePath("pe64_program.exe")).empty());
}

TEST(ModuleBinaryReader, MachOYieldsNoNames) {
    ScratchDir dir;
    EXPECT_TRUE(defined(dir.write("ok64", machO(0xFEEDFACF, 2, 72))).empty());
    EXPECT_TRUE(defined(dir.write("ok32", machO(0xFEEDFACE, 2, 56))).empty());
    // A command that claims to be empty would loop on the same place.
    try {
        defined(dir.write("stuck", machO(0xFEEDFACF, 2, 0, false)));
        ADD_FAILURE() << "no error for cmdsize 0";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "load command 0 has cmdsize 0");
    }
    // Commands running past the end of the file.
    EXPECT_THROW(defined(dir.write("long", machO(0xFEEDFACF, 5, 96, false))), std::exception);
}

TEST(ModuleBinaryReader, Misuse) {
    ModuleBinaryReader reader(pePath("pe64_c700.dll"));
    EXPECT_THROW(reader.read_defined_symbols(), std::logic_error);
    EXPECT_THROW(ModuleBinaryReader(ScratchDir().path("missing")), std::ios_base::failure);
}

}  // namespace
