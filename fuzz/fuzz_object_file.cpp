// The same bytes through every reader of the object-file layer: the check before mapping, the
// runtime's module binary reader, the host's symbol reader and the bundle's section and resource
// finders. Each reads in memory and through a file, and both ways must come to the same answer.
// Damage must end in the reader's documented failure (an exception of the documented kinds, a
// refusal with a reason, a problem text); a crash, a read outside the bytes or a hang is a finding.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <ios>
#include <new>
#include <stdexcept>

#include "fuzz/fuzz_support.hpp"
#include "host/libsyms.hpp"
#include "objfile/loadable.hpp"
#include "orbfile/module_binary_reader.hpp"
#include "vhost/bundle/zip_locator.hpp"
#include "vhost/libsyms/readers.hpp"

namespace {

void checkLoadable(const std::uint8_t* data, std::size_t size, const std::string& path) {
    const objfile::LoadCheck inMemory = objfile::checkLoadable(objfile::ByteView(data, size));
    if (inMemory.refusal == objfile::Refusal::Unreadable) std::abort();  // bytes in memory are always readable
    if (static_cast<bool>(inMemory) != inMemory.reason.empty()) std::abort();
    const objfile::LoadCheck fromFile = objfile::checkLoadable(std::filesystem::path(path));
    if (fromFile.refusal != inMemory.refusal || fromFile.reason != inMemory.reason) std::abort();
}

void moduleBinaryReader(std::size_t size, const std::string& path) {
    for (const bool nativeOnly : {false, true}) {
        try {
            orbfile::ModuleBinaryReader reader(path);
            reader.detect_format(nativeOnly);
            // Names come from NUL-terminated tables: none can hold a NUL, or be longer than the file.
            for (const auto& name : reader.read_defined_symbols()) {
                if (name.find('\0') != std::string::npos || name.size() > size) std::abort();
            }
        } catch (const std::runtime_error&) {  // std::ios_base::failure included
        }
    }
}

void symbolReader(const std::uint8_t* data, std::size_t size, const std::string& path) {
    std::vector<std::string_view> defs, undefs;
    bool readable = false;
    try {
        vhost::libsyms::readSymbolNames(data, size, defs, undefs);
        readable = true;
    } catch (const std::runtime_error&) {
    } catch (const std::bad_alloc&) {
    }
    const std::u16string widePath(path.begin(), path.end());
    std::vector<std::string> fileDefs{"stale"}, fileUndefs{"stale"};
    const host::util::LibSyms syms(widePath, fileDefs, fileUndefs);
    if (!syms.exists() || syms.is_valid() != (readable && size > 0)) std::abort();
    const auto same = [](const std::vector<std::string>& copies, const std::vector<std::string_view>& views) {
        return std::equal(copies.begin(), copies.end(), views.begin(), views.end());
    };
    if (syms.is_valid() && (!same(fileDefs, defs) || !same(fileUndefs, undefs))) std::abort();
    if (!syms.is_valid() && (!fileDefs.empty() || !fileUndefs.empty() || syms.error().empty())) std::abort();
    // The mapped form reads the same names in place.
    const host::util::LibSyms mapped(widePath);
    if (mapped.is_valid() != syms.is_valid()) std::abort();
    if (mapped.is_valid() && (!same(fileDefs, mapped.defined()) || !same(fileUndefs, mapped.undefined()))) std::abort();
}

void bundleFinders(const std::uint8_t* data, std::size_t size, const std::string& path) {
    using namespace vhost::bundle;
    MemoryByteSource memory(data, size);
    FileByteSource file(path);
    for (ByteSource* source : {static_cast<ByteSource*>(&memory), static_cast<ByteSource*>(&file)}) {
        for (const BlobLookup& found : {findElfSection(*source, ".us_resources"), findPeResource(*source, 300, "US_RESOURCES")}) {
            // A blob lies inside the bytes, and a lookup never both finds and fails.
            if (found.blob && (found.blob->offset > size || size - found.blob->offset < found.blob->size)) std::abort();
            if (found.blob && !found.problem.empty()) std::abort();
        }
    }
    const BlobLookup a = findElfSection(memory, ".us_resources"), b = findElfSection(file, ".us_resources");
    if (a.problem != b.problem || a.blob.has_value() != b.blob.has_value()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static orbfuzz::InputFile input;
    const std::string& path = input.write(data, size);
    checkLoadable(data, size, path);
    moduleBinaryReader(size, path);
    symbolReader(data, size, path);
    bundleFinders(data, size, path);
    return 0;
}
