// Finding a resource of a PE file by type and name. The resource tree has three fixed levels
// (type, name, language); every offset in it is checked against the resource data's size, and
// every RVA is mapped by the object-file layer's image, which checks it against the raw data of
// the section that holds it, before it is followed.
#include "objfile/pe.hpp"
#include "vhost/bundle/source_bytes.hpp"
#include "vhost/bundle/zip_locator.hpp"

namespace vhost::bundle {
namespace {

using namespace objfile::pe;
using objfile::dec;
using objfile::FormatError;
using objfile::hex;

class ResourceTree {
public:
    ResourceTree(const objfile::Bytes& file, std::uint64_t base, std::uint64_t size) : m_file(file), m_base(base), m_size(size) {}

    // The first entry of the directory at `offset` that `accept` takes.
    template <class Accept>
    std::optional<IMAGE_RESOURCE_DIRECTORY_ENTRY> find(std::uint64_t offset, Accept accept) const {
        const auto directory = read<IMAGE_RESOURCE_DIRECTORY>(offset);
        const std::uint64_t count =
            std::uint64_t{directory.NumberOfNamedEntries.value()} + directory.NumberOfIdEntries.value();
        for (std::uint64_t i = 0; i < count; ++i) {
            const auto entry = read<IMAGE_RESOURCE_DIRECTORY_ENTRY>(offset + sizeof directory + i * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY));
            if (accept(entry)) return entry;
        }
        return std::nullopt;
    }

    // Whether a named entry's name (a length-prefixed UTF-16 string) equals `wanted`, ignoring
    // ASCII case: resource compilers store names upper-cased.
    bool named(const IMAGE_RESOURCE_DIRECTORY_ENTRY& entry, std::string_view wanted) const {
        if (!(entry.Name.value() & IMAGE_RESOURCE_NAME_IS_STRING)) return false;
        const std::uint64_t at = entry.Name.value() & ~IMAGE_RESOURCE_NAME_IS_STRING;
        if (read<objfile::Le16>(at).value() != wanted.size()) return false;
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            const std::uint16_t unit = read<objfile::Le16>(at + 2 + 2 * i).value();
            if (unit >= 0x80 || upper(static_cast<char>(unit)) != upper(wanted[i])) return false;
        }
        return true;
    }

    // The T at `offset` inside the resource data.
    template <class T>
    T read(std::uint64_t offset) const {
        if (offset > m_size || m_size - offset < sizeof(T)) {
            throw FormatError("a resource directory item at offset " + hex(offset) + " of size " + hex(sizeof(T)) +
                              " lies beyond the resource data size " + hex(m_size));
        }
        return m_file.read<T>(m_base + offset, [] { return std::string("a resource directory item"); });
    }

private:
    static char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

    const objfile::Bytes& m_file;
    std::uint64_t m_base, m_size;
};

BlobLookup findResource(const objfile::Bytes& file, std::uint16_t type, std::string_view name) {
    const Image image(file);
    const IMAGE_DATA_DIRECTORY resources = image.directory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
    const std::uint64_t rootRva = resources.VirtualAddress.value(), size = resources.Size.value();
    if (rootRva == 0 || size == 0) return {};
    const ResourceTree tree(file, image.offsetOf(rootRva, size, [] { return "the resource directory"; }), size);
    const std::string label = "resource " + std::string(name);

    const auto typeEntry = tree.find(0, [&](const IMAGE_RESOURCE_DIRECTORY_ENTRY& e) { return e.Name.value() == type; });
    if (!typeEntry) return {};
    if (!(typeEntry->OffsetToData.value() & IMAGE_RESOURCE_DATA_IS_DIRECTORY)) {
        throw FormatError("resource type " + dec(type) + " is not a directory");
    }
    const auto nameEntry = tree.find(typeEntry->OffsetToData.value() & ~IMAGE_RESOURCE_DATA_IS_DIRECTORY,
                                     [&](const IMAGE_RESOURCE_DIRECTORY_ENTRY& e) { return tree.named(e, name); });
    if (!nameEntry) return {};
    if (!(nameEntry->OffsetToData.value() & IMAGE_RESOURCE_DATA_IS_DIRECTORY)) throw FormatError(label + " is not a directory");
    const auto languageEntry = tree.find(nameEntry->OffsetToData.value() & ~IMAGE_RESOURCE_DATA_IS_DIRECTORY,
                                         [](const IMAGE_RESOURCE_DIRECTORY_ENTRY&) { return true; });
    if (!languageEntry) return {};
    if (languageEntry->OffsetToData.value() & IMAGE_RESOURCE_DATA_IS_DIRECTORY) {
        throw FormatError("the first language of " + label + " is a directory, not data");
    }
    const auto data = tree.read<IMAGE_RESOURCE_DATA_ENTRY>(languageEntry->OffsetToData.value());
    const std::uint64_t dataSize = data.Size.value();
    return {ByteRange{image.offsetOf(data.OffsetToData.value(), dataSize, [&] { return label + "'s data"; }), dataSize}, {}};
}

}  // namespace

BlobLookup findPeResource(ByteSource& source, std::uint16_t type, std::string_view name) {
    const SourceBytes file(source);
    try {
        if (!isImage(file)) return {};  // no PE file, or a DOS program
        return findResource(file, type, name);
    } catch (const FormatError& error) {
        return {std::nullopt, error.what()};
    }
}

}  // namespace vhost::bundle
