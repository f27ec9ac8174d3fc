// The PE/COFF format under its own names: the DOS and NT headers of both optional-header
// variants, sections, the export, import and resource tables, with their sizes pinned. All
// fields are little-endian.
//
// The format's quirks live in Image, once: which optional header the Magic selects (PE32 or
// PE32+), how many data directories exist (NumberOfRvaAndSizes, but no more than the optional
// header holds), where the section table starts (after SizeOfOptionalHeader), and how an RVA maps
// to the file (a section's VirtualSize 0 stands for its raw size; the headers are mapped
// unchanged at the image's start).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "objfile/byte_view.hpp"

namespace objfile::pe {

inline constexpr std::uint16_t IMAGE_DOS_SIGNATURE = 0x5A4D;     // "MZ"
inline constexpr std::uint32_t IMAGE_NT_SIGNATURE = 0x00004550;  // "PE\0\0"
inline constexpr std::uint16_t IMAGE_NT_OPTIONAL_HDR32_MAGIC = 0x10B;
inline constexpr std::uint16_t IMAGE_NT_OPTIONAL_HDR64_MAGIC = 0x20B;
inline constexpr std::uint32_t IMAGE_DIRECTORY_ENTRY_EXPORT = 0;
inline constexpr std::uint32_t IMAGE_DIRECTORY_ENTRY_IMPORT = 1;
inline constexpr std::uint32_t IMAGE_DIRECTORY_ENTRY_RESOURCE = 2;
inline constexpr std::uint32_t IMAGE_NUMBEROF_DIRECTORY_ENTRIES = 16;
inline constexpr std::uint32_t IMAGE_RESOURCE_DATA_IS_DIRECTORY = 0x80000000u;
inline constexpr std::uint32_t IMAGE_RESOURCE_NAME_IS_STRING = 0x80000000u;
inline constexpr std::uint32_t IMAGE_ORDINAL_FLAG32 = 0x80000000u;
inline constexpr std::uint64_t IMAGE_ORDINAL_FLAG64 = 0x8000000000000000ull;

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
static_assert(sizeof(IMAGE_DATA_DIRECTORY) == 8);

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
    IMAGE_DATA_DIRECTORY DataDirectory[IMAGE_NUMBEROF_DIRECTORY_ENTRIES];
};
static_assert(sizeof(IMAGE_OPTIONAL_HEADER32) == 224 && offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory) == 96);

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
    IMAGE_DATA_DIRECTORY DataDirectory[IMAGE_NUMBEROF_DIRECTORY_ENTRIES];
};
static_assert(sizeof(IMAGE_OPTIONAL_HEADER64) == 240 && offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory) == 112);

struct IMAGE_NT_HEADERS32 {
    Le32 Signature;
    IMAGE_FILE_HEADER FileHeader;
    IMAGE_OPTIONAL_HEADER32 OptionalHeader;
};
static_assert(sizeof(IMAGE_NT_HEADERS32) == 248);

struct IMAGE_NT_HEADERS64 {
    Le32 Signature;
    IMAGE_FILE_HEADER FileHeader;
    IMAGE_OPTIONAL_HEADER64 OptionalHeader;
};
static_assert(sizeof(IMAGE_NT_HEADERS64) == 264);

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

struct IMAGE_IMPORT_DESCRIPTOR {
    Le32 OriginalFirstThunk;  // the import lookup table; 0 in some old linkers' output
    Le32 TimeDateStamp, ForwarderChain, Name;
    Le32 FirstThunk;  // the import address table
};
static_assert(sizeof(IMAGE_IMPORT_DESCRIPTOR) == 20);

struct IMAGE_RESOURCE_DIRECTORY {
    Le32 Characteristics, TimeDateStamp;
    Le16 MajorVersion, MinorVersion, NumberOfNamedEntries, NumberOfIdEntries;
};
static_assert(sizeof(IMAGE_RESOURCE_DIRECTORY) == 16);

struct IMAGE_RESOURCE_DIRECTORY_ENTRY {
    Le32 Name, OffsetToData;
};
static_assert(sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY) == 8);

struct IMAGE_RESOURCE_DATA_ENTRY {
    Le32 OffsetToData, Size, CodePage, Reserved;
};
static_assert(sizeof(IMAGE_RESOURCE_DATA_ENTRY) == 16);

// Whether the file starts with the DOS header's "MZ".
bool hasDosMagic(const Bytes& file);

// Whether the file is a PE image: "MZ", and the NT signature where e_lfanew points. A DOS
// program without one is not. Never throws.
bool isImage(const Bytes& file) noexcept;

// The headers of a PE image, read and checked once. Throws FormatError for a file that is not
// one (isImage false), an optional header of neither variant, or a section table outside the
// file.
class Image {
public:
    explicit Image(const Bytes& file);

    const Bytes& file() const noexcept { return m_file; }
    std::uint64_t ntHeaders() const noexcept { return m_lfanew; }  // e_lfanew
    const IMAGE_FILE_HEADER& fileHeader() const noexcept { return m_fileHeader; }
    // PE32+ (IMAGE_NT_OPTIONAL_HDR64_MAGIC) rather than PE32.
    bool plus() const noexcept { return m_plus; }
    // Data directory `index`; all zero when the optional header has no such entry.
    IMAGE_DATA_DIRECTORY directory(std::uint32_t index) const noexcept;
    // The section headers in file order.
    const std::vector<IMAGE_SECTION_HEADER>& sections() const noexcept { return m_sections; }

    // The file offset of the `size` bytes at `rva`, as the loader maps the image: inside one
    // section's raw data, or inside the headers. `what` names the thing at that address for the
    // message when it is neither.
    template <class What>
    std::uint64_t offsetOf(std::uint64_t rva, std::uint64_t size, What&& what) const {
        std::string problem;
        const std::uint64_t offset = map(rva, size, problem);
        if (!problem.empty()) throw FormatError(std::string(what()) + problem);
        return offset;
    }

private:
    std::uint64_t map(std::uint64_t rva, std::uint64_t size, std::string& problem) const;

    const Bytes& m_file;
    std::uint64_t m_lfanew = 0;
    IMAGE_FILE_HEADER m_fileHeader{};
    bool m_plus = false;
    std::uint64_t m_sizeOfHeaders = 0;
    std::vector<IMAGE_DATA_DIRECTORY> m_directories;
    std::vector<IMAGE_SECTION_HEADER> m_sections;
    std::vector<std::size_t> m_byAddress;  // indices of m_sections by VirtualAddress
};

}  // namespace objfile::pe
