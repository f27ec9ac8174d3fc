// The symbol readers behind host::util::LibSyms, one per format, over the bytes of a mapped file.
// Each throws objfile::FormatError for a malformed file and appends nothing it has not fully
// checked. The names appended are views into those bytes: valid while the bytes are.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "host/host_api.hpp"
#include "objfile/byte_view.hpp"

namespace vhost::libsyms {

// Upper bound on the bytes of names read from one table, as a multiple of the file's size.
// String tables may share tails between names, so a real table can yield a little more text than
// it holds; a crafted one could yield the whole table once per entry, which this bound stops.
inline constexpr std::uint64_t kNameBytesPerFileByte = 8;

// Appends the names of the dynamic symbol table: defined ones to `defs`, undefined to `undefs`.
void readElfSymbols(const objfile::ByteView& file, std::vector<std::string_view>& defs,
                    std::vector<std::string_view>& undefs);
// Appends the export names to `defs` and the imported names to `undefs`.
void readPeSymbols(const objfile::ByteView& file, std::vector<std::string_view>& defs,
                   std::vector<std::string_view>& undefs);

// Dispatches on the header bytes of the `size` bytes at `data`; a file of neither format, or a
// malformed one, throws a std::runtime_error whose message names the field and the value.
HOST_API void readSymbolNames(const unsigned char* data, std::uint64_t size, std::vector<std::string_view>& defs,
                              std::vector<std::string_view>& undefs);

}  // namespace vhost::libsyms
