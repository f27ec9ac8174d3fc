// The runtime's own reader of a module file's exported names, used before a module is loaded
// (to recognise a C++ module by its entry points). It identifies the file's format from its
// header bytes and reads the names the file defines for other code to use.
//
// Every failure is an exception: std::runtime_error for a file that is not of a usable format or
// whose tables point outside it, std::ios_base::failure for a read the file is too short for.
// Callers that only need a yes/no answer treat any exception as "no".
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "platform/export.hpp"

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

private:
    template <class Layout>
    std::vector<std::string> readElf();
    template <class Layout>
    std::vector<std::string> readPe();
    std::vector<std::string> readMachO();

    // Reads `size` bytes at `offset` after checking both against the file's size; `what` names
    // the field for the message.
    std::vector<char> readAt(std::uint64_t offset, std::uint64_t size, const std::string& what);
    template <class T>
    T readStruct(std::uint64_t offset, const std::string& what);
    std::string readCString(std::uint64_t offset, const std::string& what);

    std::ifstream m_stream;
    std::uint64_t m_size = 0;
    BinaryFormat m_format = ELF32;
    bool m_detected = false;
};

}  // namespace orbfile
