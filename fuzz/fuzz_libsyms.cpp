// The host's symbol reader over arbitrary bytes, both straight on the bytes and through the file
// interface the runtime uses. A malformed file must end in FormatError (or a refused allocation)
// and leave nothing half-read behind; host::util::LibSyms must never throw.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "fuzz/fuzz_support.hpp"
#include "host/libsyms.hpp"
#include "vhost/libsyms/readers.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string_view> defs, undefs;
    const vhost::libsyms::ByteView bytes(data, size);
    bool readable = false;
    try {
        vhost::libsyms::readSymbolNames(bytes, defs, undefs);
        readable = true;
    } catch (const vhost::libsyms::FormatError&) {
    } catch (const std::bad_alloc&) {
    }

    static orbfuzz::InputFile input;
    const std::string& path = input.write(data, size);
    std::vector<std::string> fileDefs{"stale"}, fileUndefs{"stale"};
    const host::util::LibSyms syms(std::u16string(path.begin(), path.end()), fileDefs, fileUndefs);
    // The file interface reads the same bytes, so it must come to the same answer.
    if (!syms.exists()) std::abort();
    if (syms.is_valid() != (readable && size > 0)) std::abort();
    const auto same = [](const std::vector<std::string>& copies, const std::vector<std::string_view>& views) {
        return std::equal(copies.begin(), copies.end(), views.begin(), views.end());
    };
    if (syms.is_valid() && (!same(fileDefs, defs) || !same(fileUndefs, undefs))) std::abort();
    // The mapped form reads the same names in place.
    const host::util::LibSyms mapped(std::u16string(path.begin(), path.end()));
    if (mapped.is_valid() != syms.is_valid()) std::abort();
    if (mapped.is_valid() && (!same(fileDefs, mapped.defined()) || !same(fileUndefs, mapped.undefined()))) std::abort();
    if (!syms.is_valid() && (!fileDefs.empty() || !fileUndefs.empty() || syms.error().empty())) std::abort();
    return 0;
}
