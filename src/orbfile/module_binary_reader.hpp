// The runtime's own reader of a module file's exported names, used before a module is loaded
// (to recognise a C++ module by its entry points). It identifies the file's format from its
// header bytes and reads the names the file defines for other code to use.
//
// Every failure is an exception: std::ios_base::failure for a file that cannot be opened,
// std::runtime_error for a file that is not of a usable format or whose tables point outside it
// (a read the file is too short for included). Callers that only need a yes/no answer treat any
// exception as "no".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/export.hpp"

namespace objfile {
class Bytes;
}

namespace orbfile {

class ORB_API ModuleBinaryReader {
public:
    enum BinaryFormat { ELF32 = 0, ELF64 = 1, PE32 = 2, PE32PLUS = 3, MACHO32 = 4, MACHO64 = 5 };

    // Opens the file at `path` (the host filesystem's native form) for binary reading. Throws
    // std::ios_base::failure when it cannot be opened.
    explicit ModuleBinaryReader(const std::string& path);

    // Determines the format and keeps it. With `nativeOnly`, a format other than the platform's
    // throws std::runtime_error with the platform's "Not native format: ..." message. A file of
    // none of the six formats throws std::runtime_error("Unsupported binary format").
    void detect_format(bool nativeOnly);
    // The format found by detect_format (ELF32 before it ran).
    BinaryFormat format() const noexcept { return m_format; }

    // The defined names, for the format detect_format found (call it first):
    //   PE:     the export names, in the order of the export name table;
    //   ELF:    the visible (default or protected), non-local symbols of non-zero size, from
    //           .symtab when the file has it and .dynsym otherwise;
    //   Mach-O: none (the load commands are walked and checked only).
    std::vector<std::string> read_defined_symbols();

    ~ModuleBinaryReader();
    ModuleBinaryReader(const ModuleBinaryReader&) = delete;
    ModuleBinaryReader& operator=(const ModuleBinaryReader&) = delete;

private:
    std::unique_ptr<const objfile::Bytes> m_file;  // read piece by piece, every read checked
    BinaryFormat m_format = ELF32;
    bool m_detected = false;
};

}  // namespace orbfile
