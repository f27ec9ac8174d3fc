// The check made before a file is mapped, over arbitrary bytes: straight on the bytes and through
// the file the loader reads piece by piece, which must come to the same answer. It never throws,
// and a refusal always says why, an acceptance never does.
#include <cstdlib>
#include <filesystem>

#include "fuzz/fuzz_support.hpp"
#include "objfile/loadable.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const objfile::ByteView bytes(data, size);
    const objfile::LoadCheck inMemory = objfile::checkLoadable(bytes);
    if (inMemory.refusal == objfile::Refusal::Unreadable) std::abort();  // bytes in memory are always readable
    if (static_cast<bool>(inMemory) != inMemory.reason.empty()) std::abort();

    static orbfuzz::InputFile input;
    const std::string& path = input.write(data, size);
    const objfile::LoadCheck fromFile = objfile::checkLoadable(std::filesystem::path(path));
    if (fromFile.refusal != inMemory.refusal || fromFile.reason != inMemory.reason) std::abort();
    return 0;
}
