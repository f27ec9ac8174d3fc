// The check made before a file is handed to the system loader. The system loader trusts the file
// it maps: a library cut short faults when its missing pages are touched, and dynamic entries that
// point outside the file send it through unmapped memory. So the runtime reads the file first and
// maps only what passes: the ELF identification (class, byte order, version, operating system),
// machine and type, every segment's file contents, the dynamic segment and the tables its entries
// point at, and, where the file has section headers, that the whole file is there and its
// sections sit where its segments map them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "objfile/byte_view.hpp"

namespace objfile {

// What a file is checked against: the machine the process runs on.
struct LoadTarget {
    std::uint16_t machine;  // e_machine

    // The machine this code was compiled for.
    static LoadTarget host() noexcept;
};

// Why a file is refused.
enum class Refusal : unsigned char {
    None,     // the file may be mapped
    NotElf,   // not an ELF file: another binary format (the reason says which) or no binary at all
    Foreign,  // an intact ELF file for another machine, class, byte order or system, or not a
              // shared library
    Damaged,  // an ELF file for this machine that is cut short or inconsistent
    Unreadable,  // the file could not be opened or read
};

struct LoadCheck {
    Refusal refusal = Refusal::None;
    std::string reason;  // what is wrong, naming the field and the value; empty when accepted

    explicit operator bool() const noexcept { return refusal == Refusal::None; }
};

// Checks the file's bytes; never throws.
LoadCheck checkLoadable(const Bytes& file, const LoadTarget& target = LoadTarget::host()) noexcept;
// Reads the file at `path` and checks it; a file that cannot be read is refused as Unreadable
// with the system's reason. Never throws.
LoadCheck checkLoadable(const std::filesystem::path& path, const LoadTarget& target = LoadTarget::host()) noexcept;

}  // namespace objfile
