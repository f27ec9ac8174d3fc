// Names of a PE file's export and import tables.
//
// Addresses inside a PE file are RVAs (offsets in the loaded image); each is turned into a file
// offset by the image's section table before it is read, and every table, thunk and name is read
// through the checked view.
#include <string>
#include <vector>

#include "objfile/pe.hpp"
#include "vhost/libsyms/readers.hpp"

namespace vhost::libsyms {
namespace {

using namespace objfile::pe;
using objfile::dec;
using objfile::FormatError;
using objfile::hex;
using objfile::Le32;
using objfile::Le64;

// The tables of one image, with the budget that bounds the names read from them.
class Tables {
public:
    Tables(const objfile::ByteView& file, const Image& image)
        : m_file(file), m_image(image), m_budget(kNameBytesPerFileByte * file.size()) {}

    void readExports(std::vector<std::string_view>& defs) {
        const IMAGE_DATA_DIRECTORY dir = m_image.directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
        if (dir.VirtualAddress.value() == 0) return;
        const std::uint64_t offset = m_image.offsetOf(dir.VirtualAddress.value(), 0, [] { return "the export directory"; });
        const auto exports = m_file.read<IMAGE_EXPORT_DIRECTORY>(offset, [&] {
            return "the export directory at file offset " + hex(offset) + " lies";
        });
        const std::uint64_t count = exports.NumberOfNames.value();
        if (count == 0) return;
        const std::uint64_t namesRva = exports.AddressOfNames.value();
        const std::uint64_t names = m_image.offsetOf(namesRva, 0, [] { return "AddressOfNames"; });
        m_file.requireTable(names, count, sizeof(Le32), [&] {
            return "the export name table at AddressOfNames " + hex(namesRva) + " with NumberOfNames " + dec(count);
        });
        defs.reserve(defs.size() + count);
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t nameRva = m_file.read<Le32>(names + i * 4, [] { return "an export name RVA"; }).value();
            defs.push_back(nameAt(nameRva, 0, [&] { return "export name " + dec(i); }));
        }
    }

    template <class Thunk, std::uint64_t kOrdinalFlag>
    void readImports(std::vector<std::string_view>& undefs) {
        const IMAGE_DATA_DIRECTORY dir = m_image.directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
        if (dir.VirtualAddress.value() == 0) return;
        const std::uint64_t offset = m_image.offsetOf(dir.VirtualAddress.value(), 0, [] { return "the import directory"; });
        // The descriptor array ends with an all-zero descriptor, not with the directory's Size.
        for (std::uint64_t k = 0;; ++k) {
            charge(sizeof(IMAGE_IMPORT_DESCRIPTOR));
            const auto desc = m_file.read<IMAGE_IMPORT_DESCRIPTOR>(offset + k * sizeof(IMAGE_IMPORT_DESCRIPTOR),
                                                                   [&] { return "import descriptor " + dec(k) + " lies"; });
            if (desc.Name.value() == 0 && desc.FirstThunk.value() == 0 && desc.OriginalFirstThunk.value() == 0) return;
            // Old linkers leave OriginalFirstThunk 0; the address table then still holds the names.
            const std::uint64_t thunksRva =
                desc.OriginalFirstThunk.value() != 0 ? desc.OriginalFirstThunk.value() : desc.FirstThunk.value();
            if (thunksRva == 0) {
                throw FormatError("import descriptor " + dec(k) + " has neither OriginalFirstThunk nor FirstThunk");
            }
            const std::uint64_t thunks =
                m_image.offsetOf(thunksRva, 0, [&] { return "the thunks of import descriptor " + dec(k); });
            for (std::uint64_t j = 0;; ++j) {
                charge(sizeof(Thunk));
                const std::uint64_t thunk = m_file.read<Thunk>(thunks + j * sizeof(Thunk), [&] {
                    return "thunk " + dec(j) + " of import descriptor " + dec(k) + " lies";
                }).value();
                if (thunk == 0) break;
                if (thunk & kOrdinalFlag) continue;  // imported by ordinal: no name
                // A hint/name entry: a 16-bit hint, then the name.
                undefs.push_back(nameAt(thunk & 0x7FFFFFFFu, 2, [&] {
                    return "the name of thunk " + dec(j) + " of import descriptor " + dec(k);
                }));
            }
        }
    }

private:
    // The NUL-terminated name `skip` bytes after `rva`, charged to the budget.
    template <class What>
    std::string_view nameAt(std::uint64_t rva, std::uint64_t skip, What&& what) {
        const std::uint64_t offset = m_image.offsetOf(rva, 0, what) + skip;
        const auto name = m_file.cString(offset, m_file.size());
        if (!name) {
            throw FormatError(what() + " at file offset " + hex(offset) +
                              " has no terminating NUL before the end of the file (size " + hex(m_file.size()) + ")");
        }
        charge(name->size() + 1);
        return *name;
    }

    // Work done on one file is bounded by its size, however its tables overlap.
    void charge(std::uint64_t bytes) {
        if (bytes > m_budget) {
            throw FormatError("the export and import tables yield more than " + dec(kNameBytesPerFileByte) +
                              " times the file size " + hex(m_file.size()) + ": their entries overlap");
        }
        m_budget -= bytes;
    }

    const objfile::ByteView& m_file;
    const Image& m_image;
    std::uint64_t m_budget;
};

}  // namespace

void readPeSymbols(const objfile::ByteView& file, std::vector<std::string_view>& defs,
                   std::vector<std::string_view>& undefs) {
    const Image image(file);
    Tables tables(file, image);
    tables.readExports(defs);
    if (image.plus()) {
        tables.readImports<Le64, IMAGE_ORDINAL_FLAG64>(undefs);
    } else {
        tables.readImports<Le32, IMAGE_ORDINAL_FLAG32>(undefs);
    }
}

}  // namespace vhost::libsyms
