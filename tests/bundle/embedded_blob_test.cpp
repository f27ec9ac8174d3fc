// Zips embedded as an ELF section or a PE resource: found there first, and every broken section
// or resource entry on the way is reported by field and value, with the whole-file scan as the
// fallback. Damage to the headers every object-file reader shares, and files cut short or
// mutated, are tests/inspect/object_file_test's.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "support/bundle_files.hpp"
#include "support/elf_builder.hpp"
#include "vhost/bundle/bundle_reader.hpp"
#include "vhost/bundle/zip_locator.hpp"

namespace {

using namespace orbtest;
using vhost::bundle::findElfSection;
using vhost::bundle::findPeResource;
using vhost::bundle::locateZip;
using vhost::bundle::MemoryByteSource;
using vhost::bundle::ZipOrigin;

template <class T>
T load(const std::string& bytes, std::size_t at) {
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}
template <class T>
void store(std::string& bytes, std::size_t at, const T& value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

std::string hexText(std::uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

// ---- ELF ---------------------------------------------------------------------------------------

std::string elfWithPayload(unsigned char elfClass, const std::string& payload) {
    const std::vector<ElfSection> sections = {{".filler"}, {".us_resources", SHT_PROGBITS, payload}};
    return elfClass == ELFCLASS64 ? orbtest::buildElf<Elf64_Ehdr, Elf64_Shdr>(elfClass, sections)
                                  : orbtest::buildElf<Elf32_Ehdr, Elf32_Shdr>(elfClass, sections);
}

TEST(ElfSection, EachHeaderLayoutFindsTheSectionByExactName) {
    const std::string zip = compileBundle(goodManifest());
    struct Case {
        const char* what;
        std::string elf;
    };
    const Case cases[] = {
        {"64-bit", elfWithPayload(ELFCLASS64, zip)},
        {"32-bit", elfWithPayload(ELFCLASS32, zip)},
    };
    for (const auto& c : cases) {
        MemoryByteSource source(c.elf.data(), c.elf.size());
        const auto found = findElfSection(source, ".us_resources");
        ASSERT_TRUE(found.blob) << c.what << ": " << found.problem;
        EXPECT_EQ(c.elf.substr(found.blob->offset, found.blob->size), zip) << c.what;
        // Names are compared whole: neither a prefix nor a longer name matches.
        EXPECT_FALSE(findElfSection(source, ".us_resource").blob) << c.what;
        EXPECT_FALSE(findElfSection(source, ".us_resources2").blob) << c.what;
        EXPECT_TRUE(findElfSection(source, ".filler").blob) << c.what;

        const auto window = locateZip(source);
        ASSERT_TRUE(window) << c.what;
        EXPECT_EQ(window->origin, ZipOrigin::kElfSection) << c.what;
        EXPECT_EQ(window->begin, found.blob->offset) << c.what;
    }
}

// A test module with the bundle zip added as a section by objcopy, as a build could embed it.
class ModuleSection : public ::testing::Test {
protected:
    void SetUp() override {
        zip = compileBundle(goodManifest());
        const fs::path dir = scratchDir();
        writeBytes(dir / "bundle.zip", zip);
        const fs::path out = dir / "with_section.orbw64";
        const ChildResult run = runChild("/usr/bin/objcopy",
                                         {"--add-section", ".us_resources=" + (dir / "bundle.zip").string(),
                                          "--set-section-flags", ".us_resources=noload,readonly",
                                          testModule("bundle_plain").string(), out.string()});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        elf = readBytes(out);
        header = load<Elf64_Ehdr>(elf, 0);
        const auto names = section(header.e_shstrndx);
        for (index = 1; index < header.e_shnum; ++index) {
            if (std::strcmp(elf.c_str() + names.sh_offset + section(index).sh_name, ".us_resources") == 0) break;
        }
        ASSERT_LT(index, header.e_shnum) << "objcopy added no section";
    }

    Elf64_Shdr section(std::size_t i) const { return load<Elf64_Shdr>(elf, header.e_shoff + i * sizeof(Elf64_Shdr)); }
    void setSection(std::string& bytes, std::size_t i, const Elf64_Shdr& s) const {
        store(bytes, header.e_shoff + i * sizeof(Elf64_Shdr), s);
    }

    std::string zip;
    std::string elf;
    Elf64_Ehdr header{};
    std::size_t index = 0;
};

TEST_F(ModuleSection, BrokenHeadersAreNamedAndTheScanStillFindsTheZip) {
    const std::string size = hexText(elf.size());
    const Elf64_Shdr target = section(index);
    struct Case {
        const char* what;
        std::function<void(std::string&)> edit;
        std::string problem;
    };
    const Case cases[] = {
        {"section data beyond the file",
         [&](std::string& b) {
             Elf64_Shdr s = target;
             s.sh_offset = elf.size() - 8;
             setSection(b, index, s);
         },
         "section " + std::to_string(index) + " has sh_offset " + hexText(elf.size() - 8) + " + sh_size " +
             hexText(target.sh_size) + " beyond the file size " + size},
        {"section size that wraps around",
         [&](std::string& b) {
             Elf64_Shdr s = target;
             s.sh_size = ~Elf64_Xword{0};
             setSection(b, index, s);
         },
         "section " + std::to_string(index) + " has sh_offset " + hexText(target.sh_offset) +
             " + sh_size 0xffffffffffffffff, which overflows 64 bits"},
        {"section without file bytes",
         [&](std::string& b) {
             Elf64_Shdr s = target;
             s.sh_type = SHT_NOBITS;
             setSection(b, index, s);
         },
         "section " + std::to_string(index) + " '.us_resources' has no bytes in the file (SHT_NOBITS)"},
        {"name beyond the names",
         [&](std::string& b) {
             Elf64_Shdr s = section(1);
             s.sh_name = 0x7FFFFFFF;
             setSection(b, 1, s);
         },
         "section 1 has sh_name 0x7fffffff beyond the section names' size " +
             hexText(section(header.e_shstrndx).sh_size)},
    };
    for (const auto& c : cases) {
        std::string broken = elf;
        c.edit(broken);
        MemoryByteSource source(broken.data(), broken.size());
        const auto found = findElfSection(source, ".us_resources");
        EXPECT_FALSE(found.blob) << c.what;
        EXPECT_EQ(found.problem, c.problem) << c.what;
        const auto window = locateZip(source);
        ASSERT_TRUE(window) << c.what;
        EXPECT_EQ(window->origin, ZipOrigin::kScan) << c.what;
        EXPECT_EQ(window->begin, target.sh_offset) << c.what;
    }
}

// ---- PE ----------------------------------------------------------------------------------------

class PeFixture : public ::testing::Test {
protected:
    void SetUp() override {
        dll = readBytes(fs::path(ORB_SOURCE_DIR) / "tests" / "fixtures" / "bundle" / "pe_bundle.dll");
        ASSERT_GT(dll.size(), 0x200u);
        lfanew = load<std::uint32_t>(dll, 0x3C);
        sections = load<std::uint16_t>(dll, lfanew + 6);
        optional = lfanew + 24;
        table = optional + load<std::uint16_t>(dll, lfanew + 20);
        for (std::size_t i = 0; i < sections; ++i) {
            const std::size_t at = table + 40 * i;
            if (dll.compare(at, 5, ".rsrc") == 0) {
                rsrcRva = load<std::uint32_t>(dll, at + 12);
                rsrcRaw = load<std::uint32_t>(dll, at + 20);
                rsrcSection = "section " + std::to_string(i) + " (SizeOfRawData " + hexText(load<std::uint32_t>(dll, at + 16)) + ")";
            }
        }
        ASSERT_NE(rsrcRaw, 0u) << "no .rsrc section";
        zipAt = dll.find("PK\x03\x04");
        ASSERT_NE(zipAt, std::string::npos);
        zipSize = dll.rfind("PK\x05\x06") + 22 - zipAt;
        // The data entry: the zip's RVA, then its size.
        std::string entry(8, '\0');
        store<std::uint32_t>(entry, 0, static_cast<std::uint32_t>(rsrcRva + (zipAt - rsrcRaw)));
        store<std::uint32_t>(entry, 4, static_cast<std::uint32_t>(zipSize));
        dataEntry = dll.find(entry, rsrcRaw);
        ASSERT_NE(dataEntry, std::string::npos);
    }

    std::string dll;
    std::size_t lfanew = 0, sections = 0, optional = 0, table = 0, zipAt = 0, zipSize = 0, dataEntry = 0;
    std::uint32_t rsrcRva = 0, rsrcRaw = 0;
    std::string rsrcSection;  // "section N (SizeOfRawData S)"
};

TEST_F(PeFixture, TheResourceIsWhereTheZipIsFound) {
    MemoryByteSource source(dll.data(), dll.size());
    const auto found = findPeResource(source, 300, "US_RESOURCES");
    ASSERT_TRUE(found.blob) << found.problem;
    EXPECT_EQ(found.blob->offset, zipAt);
    EXPECT_EQ(found.blob->size, zipSize);
    // Resource compilers store names upper-cased; the type is a number.
    EXPECT_TRUE(findPeResource(source, 300, "us_resources").blob);
    EXPECT_FALSE(findPeResource(source, 301, "US_RESOURCES").blob);
    EXPECT_FALSE(findPeResource(source, 300, "US_RESOURCE").blob);

    const auto window = locateZip(source);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->origin, ZipOrigin::kPeResource);
    EXPECT_EQ(window->begin, zipAt);
}

TEST_F(PeFixture, BrokenHeadersAreNamedAndTheScanStillFindsTheZip) {
    const std::size_t resourceDirectory = optional + 112 + 2 * 8;  // PE32+: data directory 2
    // The root holds one entry, type 300; its subdirectory offset has the high bit set.
    ASSERT_EQ(load<std::uint16_t>(dll, rsrcRaw + 12) + load<std::uint16_t>(dll, rsrcRaw + 14), 1);
    const std::uint32_t typeDirectory = load<std::uint32_t>(dll, rsrcRaw + 16 + 4) & 0x7FFFFFFF;
    ASSERT_GE(typeDirectory, 0x18u);
    const std::size_t nameAt = dll.find(std::string("U\0S\0_\0R\0E\0S", 11), rsrcRaw);
    ASSERT_NE(nameAt, std::string::npos);
    struct Case {
        const char* what;
        std::size_t at;
        std::uint32_t value;
        int width;
        std::string problem;
    };
    const Case cases[] = {
        {"resource directory larger than its section", resourceDirectory + 4, 0x7FFFFFFF, 4,
         "the resource directory at RVA " + hexText(rsrcRva) + " + 0x7fffffff runs past the raw data of " + rsrcSection},
        {"resource data outside every section", static_cast<std::size_t>(dataEntry), 0x7FFFFFF0, 4,
         "resource US_RESOURCES's data has RVA 0x7ffffff0 + " + hexText(zipSize) + ", which no section contains"},
        {"resource data larger than its section", dataEntry + 4, 0x100000, 4,
         "resource US_RESOURCES's data at RVA " + hexText(rsrcRva + (zipAt - rsrcRaw)) +
             " + 0x100000 runs past the raw data of " + rsrcSection},
        {"resource renamed", nameAt, 'X', 2, ""},
        {"resource directory cut short", resourceDirectory + 4, 0x20, 4,
         "a resource directory item at offset " + hexText(typeDirectory) + " of size 0x10 lies beyond the "
         "resource data size 0x20"},
    };
    for (const auto& c : cases) {
        std::string broken = dll;
        for (int i = 0; i < c.width; ++i) broken[c.at + i] = static_cast<char>((c.value >> (8 * i)) & 0xFF);
        MemoryByteSource source(broken.data(), broken.size());
        const auto found = findPeResource(source, 300, "US_RESOURCES");
        EXPECT_FALSE(found.blob) << c.what;
        EXPECT_EQ(found.problem, c.problem) << c.what;
        const auto window = locateZip(source);
        ASSERT_TRUE(window) << c.what;
        EXPECT_EQ(window->origin, ZipOrigin::kScan) << c.what;
        EXPECT_EQ(window->begin, zipAt) << c.what;
    }
}

}  // namespace
