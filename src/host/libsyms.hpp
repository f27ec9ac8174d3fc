// Host utility library: the symbol reader. It reads the names a shared library defines and the
// names it leaves for the loader to resolve, straight from the file, without loading it (no code
// of the library runs).
//
// Formats: ELF (32- and 64-bit, little-endian) and PE (PE32 and PE32+), whatever the platform the
// host runs on, so that a module built for another platform can be inspected too.
//   ELF  defined:   every named entry of the dynamic symbol table (.dynsym) whose section index
//                   is not SHN_UNDEF (functions, data, absolute and version-name entries alike);
//        undefined: every named entry whose section index is SHN_UNDEF (weak ones included).
//        Names are as stored: no @VERSION suffix is added. A file without a dynamic symbol
//        table (a static executable, an object file) is valid and has no names.
//   PE   defined:   the names of the export name table, in its order;
//        undefined: the names imported through every import descriptor, descriptor by
//                   descriptor, in thunk order. Imports by ordinal have no name and are left out.
//
// Never throws for a bad file and never reads outside it: every offset and count taken from the
// file is checked against the file's size before use.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_api.hpp"

namespace host::util {

class HOST_API LibSyms {
public:
    // Reads the file at `path` (UTF-16). `defs` and `undefs` are cleared, then filled when the
    // file is a readable ELF or PE binary; after a failure both are empty. Any thread; the object
    // keeps no reference to the vectors.
    LibSyms(const std::u16string& path, std::vector<std::string>& defs, std::vector<std::string>& undefs);

    // Reads the file at `path` without copying a name: the file stays mapped, and defined() and
    // undefined() view the names where the file holds them, valid while this object lives. The
    // two lists are in the file's order, and empty after a failure.
    explicit LibSyms(const std::u16string& path);

    ~LibSyms();
    LibSyms(const LibSyms&) = delete;
    LibSyms& operator=(const LibSyms&) = delete;

    // The path names an existing file system entry.
    bool exists() const noexcept { return m_exists; }
    // The entry is a regular file in one of the formats above whose symbol tables could be read.
    bool is_valid() const noexcept { return m_valid; }
    // Why the file is not valid (empty when it is): names the field and the values that were
    // wrong, as in "section 3 has sh_offset 0x1000 + sh_size 0x40 beyond the file size 0x800".
    const std::string& error() const noexcept { return m_error; }

    // The names read by the second constructor (empty after the first). The lists are the
    // caller's to reorder or take (the views stay valid while this object lives).
    const std::vector<std::string_view>& defined() const noexcept { return m_defined; }
    const std::vector<std::string_view>& undefined() const noexcept { return m_undefined; }
    std::vector<std::string_view>& defined() noexcept { return m_defined; }
    std::vector<std::string_view>& undefined() noexcept { return m_undefined; }

private:
    struct Mapping;
    void read(const std::u16string& path);
    void fail(std::string why);

    bool m_exists = false;
    bool m_valid = false;
    std::string m_error;
    std::unique_ptr<Mapping> m_mapping;  // the file's bytes, which the two lists view
    std::vector<std::string_view> m_defined;
    std::vector<std::string_view> m_undefined;
};

}  // namespace host::util
