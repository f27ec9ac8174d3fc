// Names of a PE file's export and import tables.
//
// Addresses inside a PE file are RVAs (offsets in the loaded image); each is turned into a file
// offset through the section table before it is read, and every table, thunk and name is read
// through the checked view.
#include <algorithm>
#include <string>
#include <vector>

#include "vhost/libsyms/pe_format.hpp"
#include "vhost/libsyms/readers.hpp"

namespace vhost::libsyms {
namespace {

using namespace pe;

std::string dec(std::uint64_t value) { return std::to_string(value); }

template <class V>
class PeImage {
public:
    PeImage(const ByteView& file, std::uint64_t optionalHeaderOffset, const IMAGE_FILE_HEADER& fileHeader)
        : m_file(file), m_budget(kNameBytesPerFileByte * file.size()) {
        using Fixed = typename V::OptionalHeaderFixed;
        const std::uint64_t sizeOfOptional = fileHeader.SizeOfOptionalHeader.value();
        if (sizeOfOptional < sizeof(Fixed)) {
            throw FormatError("SizeOfOptionalHeader " + dec(sizeOfOptional) + " is smaller than the fixed part of " +
                              dec(sizeof(Fixed)) + " bytes");
        }
        const auto optional = file.template read<Fixed>(optionalHeaderOffset, [&] {
            return "the optional header at " + hex(optionalHeaderOffset) + " lies";
        });
        m_sizeOfHeaders = optional.SizeOfHeaders.value();
        // NumberOfRvaAndSizes may claim more directories than the optional header has room for;
        // only those inside it exist.
        m_directoryCount = std::min<std::uint64_t>(optional.NumberOfRvaAndSizes.value(),
                                                   (sizeOfOptional - sizeof(Fixed)) / sizeof(IMAGE_DATA_DIRECTORY));
        m_directories = file.sub(optionalHeaderOffset + sizeof(Fixed), m_directoryCount * sizeof(IMAGE_DATA_DIRECTORY),
                                 [&] { return "the data directories at " + hex(optionalHeaderOffset + sizeof(Fixed)) + " lie"; });

        const std::uint64_t sectionCount = fileHeader.NumberOfSections.value();
        const std::uint64_t tableOffset = optionalHeaderOffset + sizeOfOptional;
        const ByteView table = file.sub(tableOffset, sectionCount * sizeof(IMAGE_SECTION_HEADER), [&] {
            return "the section table at " + hex(tableOffset) + " with NumberOfSections " + dec(sectionCount);
        });
        m_sections.reserve(sectionCount);
        for (std::uint64_t i = 0; i < sectionCount; ++i) {
            const auto header = table.template read<IMAGE_SECTION_HEADER>(i * sizeof(IMAGE_SECTION_HEADER),
                                                                          [] { return "a section header"; });
            // Some linkers write VirtualSize 0; the raw size then stands for both.
            const std::uint64_t rawSize = header.SizeOfRawData.value();
            const std::uint64_t virtualSize = header.VirtualSize.value() != 0 ? header.VirtualSize.value() : rawSize;
            m_sections.push_back({header.VirtualAddress.value(), virtualSize, rawSize, header.PointerToRawData.value(), i});
        }
        std::sort(m_sections.begin(), m_sections.end(),
                  [](const Section& a, const Section& b) { return a.virtualAddress < b.virtualAddress; });
    }

    IMAGE_DATA_DIRECTORY directory(std::uint32_t index) const {
        if (index >= m_directoryCount) return IMAGE_DATA_DIRECTORY{};
        return m_directories.template read<IMAGE_DATA_DIRECTORY>(index * sizeof(IMAGE_DATA_DIRECTORY),
                                                                  [] { return "a data directory"; });
    }

    // The file offset of `rva`; `what` names the thing at that address for the message.
    template <class What>
    std::uint64_t offsetOf(std::uint64_t rva, What&& what) const {
        auto after = std::upper_bound(m_sections.begin(), m_sections.end(), rva,
                                      [](std::uint64_t r, const Section& s) { return r < s.virtualAddress; });
        if (after != m_sections.begin()) {
            const Section& s = *(after - 1);
            const std::uint64_t delta = rva - s.virtualAddress;
            if (delta < s.virtualSize) {
                if (delta >= s.rawSize) {
                    throw FormatError(std::string(what()) + " at RVA " + hex(rva) +
                                      " lies in the uninitialised part of section " + dec(s.index) +
                                      " (SizeOfRawData " + hex(s.rawSize) + ")");
                }
                return s.pointerToRawData + delta;
            }
        }
        // The headers are mapped unchanged at the start of the image.
        if (rva < m_sizeOfHeaders) return rva;
        throw FormatError(std::string(what()) + " has RVA " + hex(rva) + ", which no section contains");
    }

    // The NUL-terminated name at `rva`, charged to the table's budget.
    template <class What>
    std::string_view nameAt(std::uint64_t rva, std::uint64_t skip, What&& what) {
        const std::uint64_t offset = offsetOf(rva, what) + skip;
        std::size_t length = 0;
        const char* name = m_file.cString(offset, length);
        if (name == nullptr) {
            throw FormatError(std::string(what()) + " at file offset " + hex(offset) +
                              " has no terminating NUL before the end of the file (size " + hex(m_file.size()) + ")");
        }
        charge(length + 1);
        return std::string_view(name, length);
    }

    // Work done on one file is bounded by its size, however its tables overlap.
    void charge(std::uint64_t bytes) {
        if (bytes > m_budget) {
            throw FormatError("the export and import tables yield more than " + dec(kNameBytesPerFileByte) +
                              " times the file size " + hex(m_file.size()) + ": their entries overlap");
        }
        m_budget -= bytes;
    }

    const ByteView& file() const noexcept { return m_file; }

private:
    struct Section {
        std::uint64_t virtualAddress, virtualSize, rawSize, pointerToRawData, index;
    };
    ByteView m_file;
    ByteView m_directories;
    std::uint64_t m_directoryCount = 0;
    std::uint64_t m_sizeOfHeaders = 0;
    std::vector<Section> m_sections;
    std::uint64_t m_budget;
};

template <class V>
void readExports(PeImage<V>& image, std::vector<std::string_view>& defs) {
    const IMAGE_DATA_DIRECTORY dir = image.directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (dir.VirtualAddress.value() == 0) return;
    const std::uint64_t offset = image.offsetOf(dir.VirtualAddress.value(), [] { return "the export directory"; });
    const auto exports = image.file().template read<IMAGE_EXPORT_DIRECTORY>(offset, [&] {
        return "the export directory at file offset " + hex(offset) + " lies";
    });
    const std::uint64_t count = exports.NumberOfNames.value();
    if (count == 0) return;
    const std::uint64_t namesRva = exports.AddressOfNames.value();
    const std::uint64_t namesOffset = image.offsetOf(namesRva, [] { return "AddressOfNames"; });
    const ByteView names = image.file().sub(namesOffset, count * 4, [&] {
        return "the export name table at AddressOfNames " + hex(namesRva) + " with NumberOfNames " + dec(count);
    });
    defs.reserve(defs.size() + count);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t nameRva = names.template read<Le32>(i * 4, [] { return "an export name RVA"; }).value();
        defs.push_back(image.nameAt(nameRva, 0, [&] { return "export name " + dec(i); }));
    }
}

template <class V>
void readImports(PeImage<V>& image, std::vector<std::string_view>& undefs) {
    using Thunk = typename V::Thunk;
    const IMAGE_DATA_DIRECTORY dir = image.directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (dir.VirtualAddress.value() == 0) return;
    const std::uint64_t offset = image.offsetOf(dir.VirtualAddress.value(), [] { return "the import directory"; });
    // The descriptor array ends with an all-zero descriptor, not with the directory's Size.
    for (std::uint64_t k = 0;; ++k) {
        image.charge(sizeof(IMAGE_IMPORT_DESCRIPTOR));
        const auto desc = image.file().template read<IMAGE_IMPORT_DESCRIPTOR>(
            offset + k * sizeof(IMAGE_IMPORT_DESCRIPTOR), [&] { return "import descriptor " + dec(k) + " lies"; });
        if (desc.Name.value() == 0 && desc.FirstThunk.value() == 0 && desc.OriginalFirstThunk.value() == 0) return;
        // Old linkers leave OriginalFirstThunk 0; the address table then still holds the names.
        const std::uint64_t thunksRva =
            desc.OriginalFirstThunk.value() != 0 ? desc.OriginalFirstThunk.value() : desc.FirstThunk.value();
        if (thunksRva == 0) {
            throw FormatError("import descriptor " + dec(k) + " has neither OriginalFirstThunk nor FirstThunk");
        }
        const std::uint64_t thunks = image.offsetOf(thunksRva, [&] { return "the thunks of import descriptor " + dec(k); });
        for (std::uint64_t j = 0;; ++j) {
            image.charge(sizeof(Thunk));
            const std::uint64_t thunk = image.file().template read<Thunk>(thunks + j * sizeof(Thunk), [&] {
                return "thunk " + dec(j) + " of import descriptor " + dec(k) + " lies";
            }).value();
            if (thunk == 0) break;
            if (thunk & V::kOrdinalFlag) continue;  // imported by ordinal: no name
            // A hint/name entry: a 16-bit hint, then the name.
            undefs.push_back(image.nameAt(thunk & 0x7FFFFFFFu, 2, [&] {
                return "the name of thunk " + dec(j) + " of import descriptor " + dec(k);
            }));
        }
    }
}

template <class V>
void readTables(const ByteView& file, std::uint64_t optionalHeaderOffset, const IMAGE_FILE_HEADER& fileHeader,
                std::vector<std::string_view>& defs, std::vector<std::string_view>& undefs) {
    PeImage<V> image(file, optionalHeaderOffset, fileHeader);
    readExports(image, defs);
    readImports(image, undefs);
}

}  // namespace

bool looksLikePe(const ByteView& file) noexcept {
    return file.contains(0, 2) && file.data()[0] == 'M' && file.data()[1] == 'Z';
}

void readPeSymbols(const ByteView& file, std::vector<std::string_view>& defs, std::vector<std::string_view>& undefs) {
    const auto dos = file.read<IMAGE_DOS_HEADER>(0, [] { return "the DOS header of 64 bytes lies"; });
    const std::uint64_t lfanew = dos.e_lfanew.value();
    const auto nt = file.read<IMAGE_NT_HEADERS_COMMON>(lfanew, [&] {
        return "the NT headers at e_lfanew " + hex(lfanew) + " lie";
    });
    if (nt.Signature.value() != IMAGE_NT_SIGNATURE) {
        throw FormatError("the signature at e_lfanew " + hex(lfanew) + " is " + hex(nt.Signature.value()) +
                          " instead of " + hex(IMAGE_NT_SIGNATURE));
    }
    const std::uint64_t optionalOffset = lfanew + sizeof(IMAGE_NT_HEADERS_COMMON);
    const std::uint16_t magic = file.read<Le16>(optionalOffset, [&] {
        return "the optional header Magic at " + hex(optionalOffset) + " lies";
    }).value();
    switch (magic) {
        case IMAGE_NT_OPTIONAL_HDR32_MAGIC: return readTables<Pe32>(file, optionalOffset, nt.FileHeader, defs, undefs);
        case IMAGE_NT_OPTIONAL_HDR64_MAGIC: return readTables<Pe32Plus>(file, optionalOffset, nt.FileHeader, defs, undefs);
    }
    throw FormatError("the optional header Magic is " + hex(magic) + ", neither " +
                      hex(IMAGE_NT_OPTIONAL_HDR32_MAGIC) + " (PE32) nor " + hex(IMAGE_NT_OPTIONAL_HDR64_MAGIC) +
                      " (PE32+)");
}

}  // namespace vhost::libsyms
