// The runtime's reader of a module file's exported names: format detection, then the defined
// names of whatever format was found (ELF, PE, Mach-O). Every failure must be an exception of
// the two documented kinds; anything else (a crash, a read outside the file, a hang) is a finding.
#include <cstdlib>
#include <ios>
#include <stdexcept>

#include "fuzz/fuzz_support.hpp"
#include "orbfile/module_binary_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static orbfuzz::InputFile input;
    const std::string& path = input.write(data, size);
    for (const bool nativeOnly : {false, true}) {
        try {
            orbfile::ModuleBinaryReader reader(path);
            reader.detect_format(nativeOnly);
            const auto names = reader.read_defined_symbols();
            // Names come from NUL-terminated tables: none can hold a NUL, or be longer than the file.
            for (const auto& name : names) {
                if (name.find('\0') != std::string::npos || name.size() > size) std::abort();
            }
        } catch (const std::ios_base::failure&) {
        } catch (const std::runtime_error&) {
        }
    }
    return 0;
}
