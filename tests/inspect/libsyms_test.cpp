// The host's symbol reader: agreement with the system's binary tools on real files, both ELF
// classes, and the bound on overlapping names. Damaged files are object_file_test's, which runs
// every reader of the object-file layer on them.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "host/libsyms.hpp"
#include "inspect/inspect_support.hpp"
#include "support/elf_builder.hpp"
#include "vhost/libsyms/readers.hpp"

namespace {

using namespace inspecttest;
using objfile::hex;
using Bytes = std::vector<unsigned char>;

struct Read {
    bool exists = false;
    bool valid = false;
    std::string error;
    std::vector<std::string> defs, undefs;
};

Read readFile(const std::string& path) {
    Read r;
    host::util::LibSyms syms(widen(path), r.defs, r.undefs);
    r.exists = syms.exists();
    r.valid = syms.is_valid();
    r.error = syms.error();
    return r;
}

// The reader run on bytes in memory: the buffer is exactly the file, so AddressSanitizer sees
// any read past its end. Answers the error message, empty when the bytes were read.
std::string readBytesError(const Bytes& bytes, std::vector<std::string_view>* defs = nullptr) {
    std::vector<std::string_view> d, u;
    try {
        vhost::libsyms::readSymbolNames(bytes.data(), bytes.size(), d, u);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    if (defs) *defs = d;
    return "";
}

// --- agreement with the system's tools --------------------------------------------------------

TEST(LibSyms, ElfFilesAgreeWithNm) {
    std::vector<std::string> files = {
        std::string(ORB_STAGE_DIR) + "/lib/libvhost.so",
        std::string(ORB_STAGE_DIR) + "/lib/liborb.so",
        "/lib/x86_64-linux-gnu/libc.so.6",
        "/lib/x86_64-linux-gnu/libm.so.6",
        "/lib/x86_64-linux-gnu/libstdc++.so.6",
        "/lib64/ld-linux-x86-64.so.2",
    };
    for (const auto& entry : std::filesystem::directory_iterator(ORB_TEST_MODULE_DIR)) {
        if (entry.path().filename().string().starts_with("inspect_")) files.push_back(entry.path().string());
    }
    int compared = 0;
    for (const auto& file : files) {
        if (!std::filesystem::exists(file)) continue;
        const Read r = readFile(file);
        ASSERT_TRUE(r.valid) << file << ": " << r.error;
        EXPECT_EQ(sorted(r.defs), nmNames(file, true)) << file;
        EXPECT_EQ(sorted(r.undefs), nmNames(file, false)) << file;
        ++compared;
    }
    EXPECT_GE(compared, 20);
}

TEST(LibSyms, PeFilesAgreeWithObjdump) {
    const char* files[] = {"pe64_c700.dll",       "pe64_c800_novf.dll",    "pe64_c800_vf.dll",
                           "pe64_mixed_700_800.dll", "pe64_cpp.dll",        "pe32_c730.dll",
                           "pe64_ordinals.dll",   "pe64_ordinal_user.dll", "pe64_program.exe",
                           "pe64_c800_manifest.dll"};
    for (const char* name : files) {
        const Read r = readFile(pePath(name));
        ASSERT_TRUE(r.valid) << name << ": " << r.error;
        const PeListing listing = objdumpPe(pePath(name));
        EXPECT_EQ(r.defs, listing.exports) << name;  // the export name table's order
        EXPECT_EQ(r.undefs, listing.imports) << name;  // descriptor by descriptor, thunk order
    }
}

TEST(LibSyms, ThingsThatAreNotBinaries) {
    ScratchDir dir;
    struct Case {
        std::string path;
        bool exists;
        std::string error;
    };
    const Case cases[] = {
        {dir.path("missing.orbw64"), false, "no such file"},
        {dir.path(""), true, "not a regular file"},
        {dir.write("empty.orbw64", {}), true, "the file is empty"},
        {dir.write("text.orbw64", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}), true,
         "neither an ELF nor a PE file: it starts with the bytes 68 65 6c 6c"},
        {"", false, "the path is empty"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> defs = {"stale"}, undefs = {"stale"};
        host::util::LibSyms syms(widen(c.path), defs, undefs);
        EXPECT_EQ(syms.exists(), c.exists) << c.path;
        EXPECT_FALSE(syms.is_valid()) << c.path;
        EXPECT_EQ(syms.error(), c.error) << c.path;
        EXPECT_TRUE(defs.empty() && undefs.empty()) << c.path;
    }
    // A lone surrogate cannot name a file.
    std::vector<std::string> defs, undefs;
    host::util::LibSyms bad(std::u16string(1, char16_t(0xD800)), defs, undefs);
    EXPECT_FALSE(bad.exists());
    EXPECT_EQ(bad.error(), "the path is not valid UTF-16");
}

// A minimal ELF file with a dynamic symbol table and its string table, each name defined or not
// and named by `nameRepeats` entries.
template <class Ehdr, class Shdr, class Sym>
Bytes dynamicElf(unsigned char elfClass, const std::vector<std::pair<std::string, bool>>& symbols, int nameRepeats = 1) {
    std::string strtab(1, '\0');
    std::vector<Sym> syms(1, Sym{});
    for (const auto& [name, defined] : symbols) {
        for (int r = 0; r < nameRepeats; ++r) {
            Sym sym{};
            sym.st_name = strtab.size();
            sym.st_shndx = defined ? 7 : SHN_UNDEF;
            syms.push_back(sym);
        }
        strtab += name + '\0';
    }
    const std::string table(reinterpret_cast<const char*>(syms.data()), syms.size() * sizeof(Sym));
    const std::string bytes = orbtest::buildElf<Ehdr, Shdr>(
        elfClass, {{".dynsym", SHT_DYNSYM, table, 2, sizeof(Sym)}, {".dynstr", SHT_STRTAB, strtab}});
    return Bytes(bytes.begin(), bytes.end());
}

TEST(LibSyms, BothElfClassesAreRead) {
    const std::vector<std::pair<std::string, bool>> symbols = {{"orbFunction", true}, {"ryGetPr_700", false}, {"data", true}};
    const Bytes files[] = {dynamicElf<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(ELFCLASS32, symbols),
                           dynamicElf<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(ELFCLASS64, symbols)};
    for (const Bytes& bytes : files) {
        std::vector<std::string_view> defs, undefs;
        vhost::libsyms::readSymbolNames(bytes.data(), bytes.size(), defs, undefs);
        EXPECT_EQ(defs, (std::vector<std::string_view>{"orbFunction", "data"}));
        EXPECT_EQ(undefs, std::vector<std::string_view>{"ryGetPr_700"});
    }
}

TEST(LibSyms, OverlappingNamesCannotMultiplyTheWork) {
    // Many entries naming one long name: a string table can share names, but not without bound.
    const Bytes bytes = dynamicElf<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(ELFCLASS64, {{std::string(4000, 'n'), true}}, 200);
    EXPECT_EQ(readBytesError(bytes), "the names of the dynamic symbol table add up to more than 8 times the file size " +
                                         hex(bytes.size()) + ": st_name offsets overlap");
    // Shared names within bound are all read.
    std::vector<std::string_view> defs;
    const Bytes shared = dynamicElf<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(ELFCLASS64, {{"shared", true}}, 3);
    EXPECT_EQ(readBytesError(shared, &defs), "");
    EXPECT_EQ(defs.size(), 3u);
}

}  // namespace
