// What a hostile module file meets before anything of it runs: the check before mapping, then the
// verdict `orb check` gives a refused file, and the entry-point rule over the names of any file.
// A file the loader refuses must get an error verdict, and inspecting it must never map it; the
// names read from any file resolve to at most one entry point, and only under a name the loader
// accepts.
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "fuzz/fuzz_support.hpp"
#include "host/libsyms.hpp"
#include "objfile/loadable.hpp"
#include "orbfile/entry_points.hpp"
#include "orbfile/module_verdict.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static orbfuzz::InputFile input;
    const std::string& path = input.write(data, size);
    const std::u16string widePath(path.begin(), path.end());

    if (!objfile::checkLoadable(std::filesystem::path(path))) {
        // The verdict `orb check` prints maps only files that pass the check, so this runs no
        // module code; start-up code is withheld all the same.
        const orbfile::ModuleVerdict verdict = orbfile::checkModule(widePath, {true, false});
        if (!verdict.has_error() || verdict.findings().empty()) std::abort();
    }

    const host::util::LibSyms syms(widePath);
    if (!syms.is_valid()) return 0;
    const auto& names = syms.defined();
    const orbfile::EntryPoints found = orbfile::resolveEntryPoints([&](const char* name) -> const void* {
        for (const auto& defined : names) {
            if (defined == name) return defined.data();
        }
        return nullptr;
    });
    if (found.outcome == orbfile::EntryPoints::Found) {
        const bool accepted = !std::strcmp(found.name, orbfile::kCppEntryName) || !std::strcmp(found.name, orbfile::kCEntryName) ||
                              !std::strcmp(found.name, orbfile::kFortranEntryNames[0]) ||
                              !std::strcmp(found.name, orbfile::kFortranEntryNames[1]);
        if (!accepted || found.entry == nullptr) std::abort();
    }
    return 0;
}
