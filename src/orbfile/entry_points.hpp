// Which entry point of a module file is used, in one place for the loader, which looks the names
// up in the mapped library, and for the inspection, which reads them from the file without
// mapping it. The C++ entry comes first: a C++ module may export a C gateway as well and is still
// a C++ module, and it needs both its create and its destroy entry. Of the two Fortran spellings
// the upper-case one wins. No other spelling is accepted: compilers that leave the underscore off
// a Fortran name ("orbfunction") give a module nothing can call.
#pragma once

#include <array>

namespace orbfile {

inline constexpr const char* kCppEntryName = "orbFunctionAdapter";
inline constexpr const char* kCEntryName = "orbFunction";
inline constexpr std::array<const char*, 2> kFortranEntryNames = {"ORBFUNCTION", "orbfunction_"};
inline constexpr const char* kCppCreateName = "orbCreateOrbFunction";
inline constexpr const char* kCppDestroyName = "orbDestroyOrbFunction";

struct EntryPoints {
    enum Outcome { Found, NoEntryPoint, MissingCppEntry };
    enum Kind { C = 0, Cpp = 1, Fortran = 2 };  // the load record's entry kinds

    Outcome outcome = NoEntryPoint;
    Kind kind = C;
    const char* name = nullptr;      // Found: the entry point used
    const void* entry = nullptr;     // what the lookup answered for it
    const void* create = nullptr;    // C++: the create entry, then the destroy entry
    const void* destroy = nullptr;
    const char* missing = nullptr;   // MissingCppEntry: the first of the two the module lacks
};

// `lookup(name)` answers what the module defines under `name` (an address, or any non-null
// pointer when only names are known), or null. The destroy entry is looked up only when the
// create entry was found.
template <class Lookup>
EntryPoints resolveEntryPoints(Lookup&& lookup) {
    EntryPoints found;
    const auto use = [&](EntryPoints::Kind kind, const char* name, const void* entry) {
        found.outcome = EntryPoints::Found;
        found.kind = kind;
        found.name = name;
        found.entry = entry;
    };
    if (const void* entry = lookup(kCppEntryName)) {
        use(EntryPoints::Cpp, kCppEntryName, entry);
        found.create = lookup(kCppCreateName);
        if (found.create) found.destroy = lookup(kCppDestroyName);
        if (!found.destroy) {
            found.outcome = EntryPoints::MissingCppEntry;
            found.missing = found.create ? kCppDestroyName : kCppCreateName;
        }
        return found;
    }
    if (const void* entry = lookup(kCEntryName)) {
        use(EntryPoints::C, kCEntryName, entry);
        return found;
    }
    for (const char* name : kFortranEntryNames) {
        if (const void* entry = lookup(name)) {
            use(EntryPoints::Fortran, name, entry);
            return found;
        }
    }
    return found;
}

}  // namespace orbfile
