// The parts of the PE/COFF format the symbol reader needs, with the format's own names. All
// fields are little-endian. PE32 and PE32+ differ in the optional header and the thunk width;
// the variant is selected once, from the optional header's Magic, through Pe32 / Pe32Plus.
#pragma once

#include <cstdint>

#include "vhost/libsyms/byte_view.hpp"

namespace vhost::libsyms::pe {

inline constexpr std::uint16_t IMAGE_DOS_SIGNATURE = 0x5A4D;  // "MZ"
inline constexpr std::uint32_t IMAGE_NT_SIGNATURE = 0x00004550;  // "PE\0\0"
inline constexpr std::uint16_t IMAGE_NT_OPTIONAL_HDR32_MAGIC = 0x10B;
inline constexpr std::uint16_t IMAGE_NT_OPTIONAL_HDR64_MAGIC = 0x20B;
inline constexpr std::uint32_t IMAGE_DIRECTORY_ENTRY_EXPORT = 0;
inline constexpr std::uint32_t IMAGE_DIRECTORY_ENTRY_IMPORT = 1;

struct IMAGE_DOS_HEADER {
    Le16 e_magic;
    Le16 e_cblp;
    Le16 e_cp;
    Le16 e_crlc;
    Le16 e_cparhdr;
    Le16 e_minalloc;
    Le16 e_maxalloc;
    Le16 e_ss;
    Le16 e_sp;
    Le16 e_csum;
    Le16 e_ip;
    Le16 e_cs;
    Le16 e_lfarlc;
    Le16 e_ovno;
    Le16 e_res[4];
    Le16 e_oemid;
    Le16 e_oeminfo;
    Le16 e_res2[10];
    Le32 e_lfanew;
};
static_assert(sizeof(IMAGE_DOS_HEADER) == 64);

struct IMAGE_FILE_HEADER {
    Le16 Machine;
    Le16 NumberOfSections;
    Le32 TimeDateStamp;
    Le32 PointerToSymbolTable;
    Le32 NumberOfSymbols;
    Le16 SizeOfOptionalHeader;
    Le16 Characteristics;
};
static_assert(sizeof(IMAGE_FILE_HEADER) == 20);

// The signature and the file header: what both variants share.
struct IMAGE_NT_HEADERS_COMMON {
    Le32 Signature;
    IMAGE_FILE_HEADER FileHeader;
};
static_assert(sizeof(IMAGE_NT_HEADERS_COMMON) == 24);

struct IMAGE_DATA_DIRECTORY {
    Le32 VirtualAddress;
    Le32 Size;
};
static_assert(sizeof(IMAGE_DATA_DIRECTORY) == 8);

// The optional header up to its data directories, whose count (NumberOfRvaAndSizes) varies.
struct IMAGE_OPTIONAL_HEADER32_FIXED {
    Le16 Magic;
    unsigned char MajorLinkerVersion;
    unsigned char MinorLinkerVersion;
    Le32 SizeOfCode;
    Le32 SizeOfInitializedData;
    Le32 SizeOfUninitializedData;
    Le32 AddressOfEntryPoint;
    Le32 BaseOfCode;
    Le32 BaseOfData;
    Le32 ImageBase;
    Le32 SectionAlignment;
    Le32 FileAlignment;
    Le16 MajorOperatingSystemVersion;
    Le16 MinorOperatingSystemVersion;
    Le16 MajorImageVersion;
    Le16 MinorImageVersion;
    Le16 MajorSubsystemVersion;
    Le16 MinorSubsystemVersion;
    Le32 Win32VersionValue;
    Le32 SizeOfImage;
    Le32 SizeOfHeaders;
    Le32 CheckSum;
    Le16 Subsystem;
    Le16 DllCharacteristics;
    Le32 SizeOfStackReserve;
    Le32 SizeOfStackCommit;
    Le32 SizeOfHeapReserve;
    Le32 SizeOfHeapCommit;
    Le32 LoaderFlags;
    Le32 NumberOfRvaAndSizes;
};
static_assert(sizeof(IMAGE_OPTIONAL_HEADER32_FIXED) == 96);

struct IMAGE_OPTIONAL_HEADER64_FIXED {
    Le16 Magic;
    unsigned char MajorLinkerVersion;
    unsigned char MinorLinkerVersion;
    Le32 SizeOfCode;
    Le32 SizeOfInitializedData;
    Le32 SizeOfUninitializedData;
    Le32 AddressOfEntryPoint;
    Le32 BaseOfCode;
    Le64 ImageBase;
    Le32 SectionAlignment;
    Le32 FileAlignment;
    Le16 MajorOperatingSystemVersion;
    Le16 MinorOperatingSystemVersion;
    Le16 MajorImageVersion;
    Le16 MinorImageVersion;
    Le16 MajorSubsystemVersion;
    Le16 MinorSubsystemVersion;
    Le32 Win32VersionValue;
    Le32 SizeOfImage;
    Le32 SizeOfHeaders;
    Le32 CheckSum;
    Le16 Subsystem;
    Le16 DllCharacteristics;
    Le64 SizeOfStackReserve;
    Le64 SizeOfStackCommit;
    Le64 SizeOfHeapReserve;
    Le64 SizeOfHeapCommit;
    Le32 LoaderFlags;
    Le32 NumberOfRvaAndSizes;
};
static_assert(sizeof(IMAGE_OPTIONAL_HEADER64_FIXED) == 112);

struct IMAGE_SECTION_HEADER {
    unsigned char Name[8];
    Le32 VirtualSize;
    Le32 VirtualAddress;
    Le32 SizeOfRawData;
    Le32 PointerToRawData;
    Le32 PointerToRelocations;
    Le32 PointerToLinenumbers;
    Le16 NumberOfRelocations;
    Le16 NumberOfLinenumbers;
    Le32 Characteristics;
};
static_assert(sizeof(IMAGE_SECTION_HEADER) == 40);

struct IMAGE_EXPORT_DIRECTORY {
    Le32 Characteristics;
    Le32 TimeDateStamp;
    Le16 MajorVersion;
    Le16 MinorVersion;
    Le32 Name;
    Le32 Base;
    Le32 NumberOfFunctions;
    Le32 NumberOfNames;
    Le32 AddressOfFunctions;
    Le32 AddressOfNames;
    Le32 AddressOfNameOrdinals;
};
static_assert(sizeof(IMAGE_EXPORT_DIRECTORY) == 40);

struct IMAGE_IMPORT_DESCRIPTOR {
    Le32 OriginalFirstThunk;  // the import lookup table; 0 in some old linkers' output
    Le32 TimeDateStamp;
    Le32 ForwarderChain;
    Le32 Name;
    Le32 FirstThunk;  // the import address table
};
static_assert(sizeof(IMAGE_IMPORT_DESCRIPTOR) == 20);

struct Pe32 {
    using OptionalHeaderFixed = IMAGE_OPTIONAL_HEADER32_FIXED;
    using Thunk = Le32;
    static constexpr std::uint64_t kOrdinalFlag = 0x80000000u;
};
struct Pe32Plus {
    using OptionalHeaderFixed = IMAGE_OPTIONAL_HEADER64_FIXED;
    using Thunk = Le64;
    static constexpr std::uint64_t kOrdinalFlag = 0x8000000000000000ull;
};

}  // namespace vhost::libsyms::pe
