// Finding a named section of an ELF file. Only the ELF header, the section header table and the
// section names are read, through the object-file layer, which checks every offset and count
// the file gives against its size (overflow first) before it is used.
#include "objfile/elf.hpp"
#include "vhost/bundle/source_bytes.hpp"
#include "vhost/bundle/zip_locator.hpp"

namespace vhost::bundle {
namespace {

using namespace objfile::elf;

template <class C>
BlobLookup findSection(const objfile::Bytes& file, std::string_view wanted) {
    const SectionHeaders<C> sections(file, header<C>(file));
    for (std::uint64_t index = 1; index < sections.size(); ++index) {
        const typename C::Shdr section = sections[index];
        if (!sections.named(index, section, wanted)) continue;
        if (section.sh_type.value() == SHT_NOBITS) {
            return {std::nullopt, "section " + objfile::dec(index) + " '" + std::string(wanted) +
                                      "' has no bytes in the file (SHT_NOBITS)"};
        }
        return {ByteRange{sections.contents(index, section), section.sh_size.value()}, {}};
    }
    return {};
}

}  // namespace

BlobLookup findElfSection(ByteSource& source, std::string_view name) {
    const SourceBytes file(source);
    try {
        if (!hasElfMagic(file)) return {};
        return withClass(file, [&](auto elfClass) { return findSection<decltype(elfClass)>(file, name); });
    } catch (const objfile::FormatError& error) {
        return {std::nullopt, error.what()};
    }
}

}  // namespace vhost::bundle
