// Finding a resource of a PE file by type and name. The resource tree has three fixed levels
// (type, name, language); every offset in it is checked against the resource data's size, and
// every RVA against the raw data of the section that holds it, before it is followed.
#include <vector>

#include "vhost/bundle/zip_locator.hpp"

namespace vhost::bundle {
namespace {

using U8 = unsigned char;

struct IMAGE_FILE_HEADER {
    U8 Machine[2], NumberOfSections[2], TimeDateStamp[4], PointerToSymbolTable[4], NumberOfSymbols[4],
        SizeOfOptionalHeader[2], Characteristics[2];
};
struct IMAGE_DATA_DIRECTORY {
    U8 VirtualAddress[4], Size[4];
};
struct IMAGE_SECTION_HEADER {
    U8 Name[8], VirtualSize[4], VirtualAddress[4], SizeOfRawData[4], PointerToRawData[4], PointerToRelocations[4],
        PointerToLinenumbers[4], NumberOfRelocations[2], NumberOfLinenumbers[2], Characteristics[4];
};
struct IMAGE_RESOURCE_DIRECTORY {
    U8 Characteristics[4], TimeDateStamp[4], MajorVersion[2], MinorVersion[2], NumberOfNamedEntries[2],
        NumberOfIdEntries[2];
};
struct IMAGE_RESOURCE_DIRECTORY_ENTRY {
    U8 Name[4], OffsetToData[4];
};
struct IMAGE_RESOURCE_DATA_ENTRY {
    U8 OffsetToData[4], Size[4], CodePage[4], Reserved[4];
};
static_assert(sizeof(IMAGE_FILE_HEADER) == 20 && sizeof(IMAGE_DATA_DIRECTORY) == 8);
static_assert(sizeof(IMAGE_SECTION_HEADER) == 40 && sizeof(IMAGE_RESOURCE_DIRECTORY) == 16);
static_assert(sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY) == 8 && sizeof(IMAGE_RESOURCE_DATA_ENTRY) == 16);

constexpr std::uint64_t kLfanewOffset = 0x3C;
constexpr std::uint16_t kPe32Magic = 0x10B, kPe32PlusMagic = 0x20B;
// Where NumberOfRvaAndSizes and the data directories start inside each optional header.
constexpr std::uint64_t kPe32RvaCount = 92, kPe32PlusRvaCount = 108;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kHighBit = 0x80000000u;

struct Entry {
    std::uint32_t name;
    std::uint32_t offsetToData;
};

class PeResourceFinder {
public:
    explicit PeResourceFinder(ByteSource& source) : m_source(source) {}

    BlobLookup find(std::uint16_t type, std::string_view name) {
        U8 raw[4];
        if (!m_source.read(0, 2, raw) || raw[0] != 'M' || raw[1] != 'Z') return {};
        if (!m_source.read(kLfanewOffset, 4, raw)) return fail("the file ends inside the DOS header");
        const std::uint64_t lfanew = loadLE32(raw);
        if (!m_source.read(lfanew, 4, raw) || raw[0] != 'P' || raw[1] != 'E' || raw[2] != 0 || raw[3] != 0) {
            return {};  // a DOS program, not a PE file
        }
        IMAGE_FILE_HEADER fileHeader;
        if (!m_source.read(lfanew + 4, sizeof fileHeader, &fileHeader)) return fail("the file ends inside the COFF header");
        const std::uint64_t optionalHeader = lfanew + 4 + sizeof fileHeader;
        const std::uint64_t optionalSize = loadLE16(fileHeader.SizeOfOptionalHeader);
        m_sectionTable = optionalHeader + optionalSize;
        m_sectionCount = loadLE16(fileHeader.NumberOfSections);
        if (!m_source.contains(m_sectionTable, m_sectionCount * sizeof(IMAGE_SECTION_HEADER))) {
            return fail("the section table at " + hex(m_sectionTable) + " with NumberOfSections " +
                        std::to_string(m_sectionCount) + " lies beyond the file size " + hex(m_source.size()));
        }

        if (optionalSize < 2 || !m_source.read(optionalHeader, 2, raw)) return {};  // an object file: no resources
        const std::uint16_t magic = loadLE16(raw);
        if (magic != kPe32Magic && magic != kPe32PlusMagic) {
            return fail("the optional header's Magic " + hex(magic) + " is neither PE32 nor PE32+");
        }
        const std::uint64_t rvaCountAt = magic == kPe32Magic ? kPe32RvaCount : kPe32PlusRvaCount;
        const std::uint64_t directoriesAt = rvaCountAt + 4;
        const std::uint64_t resourceAt = directoriesAt + kResourceDirectoryIndex * sizeof(IMAGE_DATA_DIRECTORY);
        if (optionalSize < resourceAt + sizeof(IMAGE_DATA_DIRECTORY)) return {};
        if (!m_source.read(optionalHeader + rvaCountAt, 4, raw)) return fail("the file ends inside the optional header");
        if (loadLE32(raw) <= kResourceDirectoryIndex) return {};
        IMAGE_DATA_DIRECTORY resources;
        if (!m_source.read(optionalHeader + resourceAt, sizeof resources, &resources)) {
            return fail("the file ends inside the optional header");
        }
        const std::uint32_t rootRva = loadLE32(resources.VirtualAddress);
        m_resourceSize = loadLE32(resources.Size);
        if (rootRva == 0 || m_resourceSize == 0) return {};
        const auto root = rvaToFile(rootRva, m_resourceSize);
        if (!root) {
            return fail("the resource directory at VirtualAddress " + hex(rootRva) + " with Size " + hex(m_resourceSize) +
                        " lies in no section's raw data");
        }
        m_resourceBase = *root;

        Entry typeEntry;
        if (!findEntry(0, [&](const Entry& e) { return !(e.name & kHighBit) && e.name == type; }, typeEntry)) return done();
        if (!(typeEntry.offsetToData & kHighBit)) return fail("resource type " + std::to_string(type) + " is not a directory");
        Entry nameEntry;
        if (!findEntry(typeEntry.offsetToData & ~kHighBit, [&](const Entry& e) { return namedAs(e, name); }, nameEntry)) {
            return done();
        }
        if (!(nameEntry.offsetToData & kHighBit)) return fail("resource " + std::string(name) + " is not a directory");
        Entry languageEntry;
        if (!findEntry(nameEntry.offsetToData & ~kHighBit, [](const Entry&) { return true; }, languageEntry)) return done();
        if (languageEntry.offsetToData & kHighBit) {
            return fail("the first language of resource " + std::string(name) + " is a directory, not data");
        }

        IMAGE_RESOURCE_DATA_ENTRY data;
        if (!readResource(languageEntry.offsetToData, sizeof data, &data)) return done();
        const std::uint32_t dataRva = loadLE32(data.OffsetToData);
        const std::uint32_t dataSize = loadLE32(data.Size);
        const auto blob = rvaToFile(dataRva, dataSize);
        if (!blob) {
            return fail("resource " + std::string(name) + " has OffsetToData " + hex(dataRva) + " + Size " + hex(dataSize) +
                        " in no section's raw data");
        }
        return BlobLookup{ByteRange{*blob, dataSize}, {}};
    }

private:
    // The file offset of [rva, rva + size) when it lies wholly within one section's raw data.
    std::optional<std::uint64_t> rvaToFile(std::uint64_t rva, std::uint64_t size) {
        for (std::uint64_t i = 0; i < m_sectionCount; ++i) {
            IMAGE_SECTION_HEADER section;
            if (!m_source.read(m_sectionTable + i * sizeof section, sizeof section, &section)) return std::nullopt;
            const std::uint64_t start = loadLE32(section.VirtualAddress);
            const std::uint64_t rawSize = loadLE32(section.SizeOfRawData);
            const std::uint64_t rawData = loadLE32(section.PointerToRawData);
            if (rva < start || rva - start > rawSize || rawSize - (rva - start) < size) continue;
            const std::uint64_t offset = rawData + (rva - start);
            if (!m_source.contains(offset, size)) return std::nullopt;
            return offset;
        }
        return std::nullopt;
    }

    // Reads within the resource data; a span outside it is recorded as the problem.
    bool readResource(std::uint64_t offset, std::uint64_t size, void* out) {
        if (offset > m_resourceSize || m_resourceSize - offset < size) {
            m_problem = "a resource directory item at offset " + hex(offset) + " of size " + hex(size) +
                        " lies beyond the resource data size " + hex(m_resourceSize);
            return false;
        }
        return m_source.read(m_resourceBase + offset, static_cast<std::size_t>(size), out);
    }

    // The first entry of the directory at `offset` that `accept` takes.
    template <class Accept>
    bool findEntry(std::uint64_t offset, Accept accept, Entry& found) {
        IMAGE_RESOURCE_DIRECTORY directory;
        if (!readResource(offset, sizeof directory, &directory)) return false;
        const std::uint64_t count =
            std::uint64_t{loadLE16(directory.NumberOfNamedEntries)} + loadLE16(directory.NumberOfIdEntries);
        for (std::uint64_t i = 0; i < count; ++i) {
            IMAGE_RESOURCE_DIRECTORY_ENTRY raw;
            if (!readResource(offset + sizeof directory + i * sizeof raw, sizeof raw, &raw)) return false;
            const Entry entry{loadLE32(raw.Name), loadLE32(raw.OffsetToData)};
            if (accept(entry)) {
                found = entry;
                return true;
            }
            if (!m_problem.empty()) return false;
        }
        return false;
    }

    // Whether a named entry's name (a length-prefixed UTF-16 string) equals `wanted`, ignoring
    // ASCII case: resource compilers store names upper-cased.
    bool namedAs(const Entry& entry, std::string_view wanted) {
        if (!(entry.name & kHighBit)) return false;
        const std::uint64_t at = entry.name & ~kHighBit;
        U8 raw[2];
        if (!readResource(at, 2, raw) || loadLE16(raw) != wanted.size()) return false;
        std::vector<U8> text(wanted.size() * 2);
        if (!readResource(at + 2, text.size(), text.data())) return false;
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            const std::uint16_t unit = loadLE16(&text[2 * i]);
            if (unit >= 0x80 || upper(static_cast<char>(unit)) != upper(wanted[i])) return false;
        }
        return true;
    }

    static char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

    BlobLookup done() { return BlobLookup{std::nullopt, m_problem}; }
    static BlobLookup fail(std::string problem) { return BlobLookup{std::nullopt, std::move(problem)}; }

    ByteSource& m_source;
    std::uint64_t m_sectionTable = 0;
    std::uint64_t m_sectionCount = 0;
    std::uint64_t m_resourceBase = 0;
    std::uint64_t m_resourceSize = 0;
    std::string m_problem;
};

}  // namespace

BlobLookup findPeResource(ByteSource& source, std::uint16_t type, std::string_view name) {
    return PeResourceFinder(source).find(type, name);
}

}  // namespace vhost::bundle
