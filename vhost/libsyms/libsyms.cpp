// host::util::LibSyms: map the file read-only, hand its bytes to the reader of its format, and
// turn every failure into the two flags and a message. The names are views into the mapping;
// the first constructor copies them out and lets the mapping go.
#include "host/libsyms.hpp"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include <boost/interprocess/file_mapping.hpp>
#include <boost/interprocess/mapped_region.hpp>

#include "vhost/i18n/conversion.hpp"
#include "objfile/elf.hpp"
#include "objfile/pe.hpp"
#include "vhost/libsyms/readers.hpp"

namespace vhost::libsyms {

void readSymbolNames(const unsigned char* data, std::uint64_t size, std::vector<std::string_view>& defs,
                     std::vector<std::string_view>& undefs) {
    const objfile::ByteView file(data, size);
    if (objfile::elf::hasElfMagic(file)) return readElfSymbols(file, defs, undefs);
    if (objfile::pe::hasDosMagic(file)) return readPeSymbols(file, defs, undefs);
    std::string start;
    for (std::uint64_t i = 0; i < 4 && i < size; ++i) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "%s%02x", i == 0 ? "" : " ", data[i]);
        start += byte;
    }
    throw objfile::FormatError("neither an ELF nor a PE file: it starts with the bytes " + start);
}

}  // namespace vhost::libsyms

namespace host::util {

struct LibSyms::Mapping {
    boost::interprocess::mapped_region region;
};

LibSyms::LibSyms(const std::u16string& path, std::vector<std::string>& defs, std::vector<std::string>& undefs) {
    defs.clear();
    undefs.clear();
    read(path);
    try {
        defs.assign(m_defined.begin(), m_defined.end());
        undefs.assign(m_undefined.begin(), m_undefined.end());
    } catch (const std::bad_alloc& failure) {
        defs.clear();
        undefs.clear();
        fail(failure.what());
    }
    // This form hands out copies only: the mapping is not kept.
    m_defined = {};
    m_undefined = {};
    m_mapping.reset();
}

LibSyms::LibSyms(const std::u16string& path) { read(path); }

LibSyms::~LibSyms() = default;

void LibSyms::fail(std::string why) {
    m_valid = false;
    m_error = std::move(why);
    m_defined.clear();
    m_undefined.clear();
    m_mapping.reset();
}

void LibSyms::read(const std::u16string& path) {
    std::string native;
    if (path.empty() || !vhost::i18n::tryToUtf8(path, native)) {
        m_error = path.empty() ? "the path is empty" : "the path is not valid UTF-16";
        return;
    }
    std::error_code error;
    const auto status = std::filesystem::status(native, error);
    m_exists = std::filesystem::exists(status);
    if (!m_exists) {
        m_error = "no such file";
        return;
    }
    if (!std::filesystem::is_regular_file(status)) {
        m_error = "not a regular file";
        return;
    }
    const auto size = std::filesystem::file_size(native, error);
    if (error) {
        m_error = error.message();
        return;
    }
    if (size == 0) {
        m_error = "the file is empty";
        return;
    }
    // Accepted: a file truncated by another process while it is mapped faults on the lost pages;
    // the host does not inspect files that are being rewritten.
    try {
        namespace bip = boost::interprocess;
        const bip::file_mapping file(native.c_str(), bip::read_only);
        m_mapping = std::make_unique<Mapping>(
            Mapping{bip::mapped_region(file, bip::read_only, 0, static_cast<std::size_t>(size))});
        vhost::libsyms::readSymbolNames(static_cast<const unsigned char*>(m_mapping->region.get_address()), size,
                                        m_defined, m_undefined);
        m_valid = true;
    } catch (const std::exception& failure) {
        // FormatError for a malformed file, interprocess_exception when it cannot be opened or
        // mapped, bad_alloc for tables too large to hold.
        fail(failure.what());
    }
}

}  // namespace host::util
