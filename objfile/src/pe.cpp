#include "objfile/pe.hpp"

#include <algorithm>

namespace objfile::pe {
namespace {

// What both optional-header variants are preceded by.
struct NtHeadersStart {
    Le32 Signature;
    IMAGE_FILE_HEADER FileHeader;
};
static_assert(sizeof(NtHeadersStart) == 24);

std::uint64_t lfanewOf(const Bytes& file) {
    return file.read<IMAGE_DOS_HEADER>(0, [] { return "the DOS header (" + hex(sizeof(IMAGE_DOS_HEADER)) + " bytes) at 0x0 lies"; })
        .e_lfanew.value();
}

// Reads the optional header of variant `Optional` up to its data directories, which follow it.
template <class Optional>
void readOptional(const Bytes& file, std::uint64_t at, std::uint64_t sizeOfOptional, std::uint64_t& sizeOfHeaders,
                  std::vector<IMAGE_DATA_DIRECTORY>& directories) {
    constexpr std::uint64_t fixed = offsetof(Optional, DataDirectory);
    if (sizeOfOptional < fixed) {
        throw FormatError("SizeOfOptionalHeader " + dec(sizeOfOptional) + " is smaller than the fixed part of " +
                          dec(fixed) + " bytes");
    }
    Optional header{};
    const std::string bytes = file.readText(at, fixed, [&] { return "the optional header at " + hex(at); });
    std::memcpy(&header, bytes.data(), bytes.size());
    sizeOfHeaders = header.SizeOfHeaders.value();
    // NumberOfRvaAndSizes may claim more directories than the optional header has room for;
    // only those inside it exist.
    const std::uint64_t count = std::min<std::uint64_t>(header.NumberOfRvaAndSizes.value(),
                                                        (sizeOfOptional - fixed) / sizeof(IMAGE_DATA_DIRECTORY));
    directories.resize(static_cast<std::size_t>(count));
    const std::string table = file.readText(at + fixed, count * sizeof(IMAGE_DATA_DIRECTORY),
                                            [&] { return "the data directories at " + hex(at + fixed); });
    if (count != 0) std::memcpy(directories.data(), table.data(), table.size());
}

}  // namespace

bool hasDosMagic(const Bytes& file) {
    return file.contains(0, 2) &&
           file.read<Le16>(0, [] { return std::string("the DOS magic"); }).value() == IMAGE_DOS_SIGNATURE;
}

bool isImage(const Bytes& file) noexcept {
    try {
        if (!hasDosMagic(file) || !file.contains(0, sizeof(IMAGE_DOS_HEADER))) return false;
        const std::uint64_t lfanew = lfanewOf(file);
        return file.contains(lfanew, 4) &&
               file.read<Le32>(lfanew, [] { return std::string("the NT signature"); }).value() == IMAGE_NT_SIGNATURE;
    } catch (const std::exception&) {
        return false;  // the file could not be read
    }
}

Image::Image(const Bytes& file) : m_file(file) {
    if (!hasDosMagic(file)) throw FormatError("no DOS header: the file does not start with 'MZ'");
    m_lfanew = lfanewOf(file);
    const auto nt = file.read<NtHeadersStart>(m_lfanew, [&] { return "the NT headers at e_lfanew " + hex(m_lfanew) + " lie"; });
    if (nt.Signature.value() != IMAGE_NT_SIGNATURE) {
        throw FormatError("the signature at e_lfanew " + hex(m_lfanew) + " is " + hex(nt.Signature.value()) + " instead of " +
                          hex(IMAGE_NT_SIGNATURE));
    }
    m_fileHeader = nt.FileHeader;
    const std::uint64_t optional = m_lfanew + sizeof nt;
    const std::uint64_t sizeOfOptional = m_fileHeader.SizeOfOptionalHeader.value();
    const std::uint16_t magic =
        file.read<Le16>(optional, [&] { return "the optional header Magic at " + hex(optional) + " lies"; }).value();
    switch (magic) {
        case IMAGE_NT_OPTIONAL_HDR32_MAGIC:
            readOptional<IMAGE_OPTIONAL_HEADER32>(file, optional, sizeOfOptional, m_sizeOfHeaders, m_directories);
            break;
        case IMAGE_NT_OPTIONAL_HDR64_MAGIC:
            m_plus = true;
            readOptional<IMAGE_OPTIONAL_HEADER64>(file, optional, sizeOfOptional, m_sizeOfHeaders, m_directories);
            break;
        default:
            throw FormatError("the optional header Magic is " + hex(magic) + ", neither " + hex(IMAGE_NT_OPTIONAL_HDR32_MAGIC) +
                              " (PE32) nor " + hex(IMAGE_NT_OPTIONAL_HDR64_MAGIC) + " (PE32+)");
    }
    const std::uint64_t table = optional + sizeOfOptional;
    const std::uint64_t count = m_fileHeader.NumberOfSections.value();
    const std::string bytes = file.readText(table, count * sizeof(IMAGE_SECTION_HEADER), [&] {
        return "the section table at " + hex(table) + " with NumberOfSections " + dec(count);
    });
    m_sections.resize(static_cast<std::size_t>(count));
    if (count != 0) std::memcpy(m_sections.data(), bytes.data(), bytes.size());
    m_byAddress.resize(m_sections.size());
    for (std::size_t i = 0; i < m_byAddress.size(); ++i) m_byAddress[i] = i;
    std::stable_sort(m_byAddress.begin(), m_byAddress.end(), [&](std::size_t a, std::size_t b) {
        return m_sections[a].VirtualAddress.value() < m_sections[b].VirtualAddress.value();
    });
}

IMAGE_DATA_DIRECTORY Image::directory(std::uint32_t index) const noexcept {
    return index < m_directories.size() ? m_directories[index] : IMAGE_DATA_DIRECTORY{};
}

std::uint64_t Image::map(std::uint64_t rva, std::uint64_t size, std::string& problem) const {
    // The section with the highest address not above the RVA.
    const auto after = std::upper_bound(m_byAddress.begin(), m_byAddress.end(), rva, [&](std::uint64_t r, std::size_t i) {
        return r < m_sections[i].VirtualAddress.value();
    });
    if (after != m_byAddress.begin()) {
        const std::size_t index = *(after - 1);
        const IMAGE_SECTION_HEADER& s = m_sections[index];
        const std::uint64_t delta = rva - s.VirtualAddress.value(), raw = s.SizeOfRawData.value();
        // Some linkers write VirtualSize 0; the raw size then stands for both.
        const std::uint64_t virtualSize = s.VirtualSize.value() != 0 ? s.VirtualSize.value() : raw;
        if (delta < virtualSize) {
            if (delta >= raw) {
                problem = " at RVA " + hex(rva) + " lies in the uninitialised part of section " + dec(index) +
                          " (SizeOfRawData " + hex(raw) + ")";
                return 0;
            }
            if (raw - delta < size) {
                problem = " at RVA " + hex(rva) + " + " + hex(size) + " runs past the raw data of section " + dec(index) +
                          " (SizeOfRawData " + hex(raw) + ")";
                return 0;
            }
            const std::uint64_t offset = s.PointerToRawData.value() + delta;
            if (!m_file.contains(offset, size)) {
                problem = " at RVA " + hex(rva) + " + " + hex(size) + " is at file offset " + hex(offset) +
                          " beyond the file size " + hex(m_file.size());
                return 0;
            }
            return offset;
        }
    }
    // The headers are mapped unchanged at the start of the image.
    if (rva < m_sizeOfHeaders && m_sizeOfHeaders - rva >= size && m_file.contains(rva, size)) return rva;
    problem = " has RVA " + hex(rva) + (size != 0 ? " + " + hex(size) : std::string()) + ", which no section contains";
    return 0;
}

}  // namespace objfile::pe
