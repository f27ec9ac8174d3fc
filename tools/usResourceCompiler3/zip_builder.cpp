#include "zip_builder.hpp"

#include <unzip.h>
#include <zip.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "errors.hpp"

namespace rc {

// The archive's bytes while minizip writes them; minizip seeks back to fill in each entry's
// sizes and CRC once its data is written.
struct ZipBuilder::Memory {
    std::vector<unsigned char> bytes;
    std::size_t position = 0;
};

namespace {

using Memory = ZipBuilder::Memory;

voidpf ZCALLBACK openMemory(voidpf opaque, const void*, int) { return opaque; }

uLong ZCALLBACK readMemory(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* m = static_cast<Memory*>(stream);
    const std::size_t n = m->position >= m->bytes.size() ? 0 : std::min<std::size_t>(size, m->bytes.size() - m->position);
    std::memcpy(buffer, m->bytes.data() + m->position, n);
    m->position += n;
    return static_cast<uLong>(n);
}

uLong ZCALLBACK writeMemory(voidpf, voidpf stream, const void* buffer, uLong size) {
    auto* m = static_cast<Memory*>(stream);
    if (m->bytes.size() < m->position + size) m->bytes.resize(m->position + size);
    std::memcpy(m->bytes.data() + m->position, buffer, size);
    m->position += size;
    return size;
}

ZPOS64_T ZCALLBACK tellMemory(voidpf, voidpf stream) { return static_cast<Memory*>(stream)->position; }

long ZCALLBACK seekMemory(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* m = static_cast<Memory*>(stream);
    const std::size_t base = origin == ZLIB_FILEFUNC_SEEK_CUR ? m->position
                             : origin == ZLIB_FILEFUNC_SEEK_END ? m->bytes.size()
                                                                 : 0;
    if (offset > m->bytes.size() || base > m->bytes.size() - offset) return -1;
    m->position = base + offset;
    return 0;
}

int ZCALLBACK closeMemory(voidpf, voidpf) { return 0; }
int ZCALLBACK errorMemory(voidpf, voidpf) { return 0; }

constexpr unsigned kUtf8NameFlag = 1u << 11;
// "Made by" Unix, format version 2.0, so that readers honour the Unix modes below.
constexpr unsigned kVersionMadeBy = (3u << 8) | 20u;
constexpr unsigned long kDirectoryAttributes = (040755ul << 16) | 0x10ul;  // and the MS-DOS directory bit
constexpr unsigned long kFileAttributes = 0100644ul << 16;

// Entry time, in UTC: SOURCE_DATE_EPOCH when set, so that builds can be reproduced byte for byte.
zip_fileinfo entryInfo(bool directory) {
    std::time_t now = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) now = std::strtoll(epoch, nullptr, 10);
    std::tm utc{};
    gmtime_r(&now, &utc);
    zip_fileinfo info{};
    info.tmz_date.tm_sec = static_cast<uInt>(utc.tm_sec);
    info.tmz_date.tm_min = static_cast<uInt>(utc.tm_min);
    info.tmz_date.tm_hour = static_cast<uInt>(utc.tm_hour);
    info.tmz_date.tm_mday = static_cast<uInt>(utc.tm_mday);
    info.tmz_date.tm_mon = static_cast<uInt>(utc.tm_mon);
    info.tmz_date.tm_year = static_cast<uInt>(utc.tm_year + 1900);
    info.external_fa = directory ? kDirectoryAttributes : kFileAttributes;
    return info;
}

}  // namespace

ZipBuilder::ZipBuilder(int level) : m_memory(new Memory), m_level(level) {
    zlib_filefunc64_def io{openMemory, readMemory, writeMemory, tellMemory, seekMemory, closeMemory, errorMemory,
                           m_memory};
    m_zip = zipOpen2_64("bundle.zip", APPEND_STATUS_CREATE, nullptr, &io);
    if (m_zip == nullptr) {
        delete m_memory;
        throw FileError("cannot start a zip archive");
    }
}

ZipBuilder::~ZipBuilder() {
    if (m_zip) zipClose(m_zip, nullptr);
    delete m_memory;
}

void ZipBuilder::addFile(const std::string& name, const std::string& bytes) {
    if (!m_names.insert(name).second) throw UsageError("the bundle already holds '" + name + "'");
    addEntry(name, bytes, false);
}

void ZipBuilder::addDirectory(const std::string& name) {
    const std::string entry = name.back() == '/' ? name : name + "/";
    if (!m_names.insert(entry).second) return;
    addEntry(entry, {}, true);
}

void ZipBuilder::addEntry(const std::string& name, const std::string& bytes, bool directory) {
    const bool store = directory || m_level == 0 || bytes.size() <= 3;
    const zip_fileinfo info = entryInfo(directory);
    int status = zipOpenNewFileInZip4_64(m_zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                         store ? 0 : Z_DEFLATED, store ? 0 : m_level, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                         Z_DEFAULT_STRATEGY, nullptr, 0, kVersionMadeBy, kUtf8NameFlag, 0);
    if (status == ZIP_OK && !bytes.empty()) {
        status = zipWriteInFileInZip(m_zip, bytes.data(), static_cast<unsigned>(bytes.size()));
    }
    if (status == ZIP_OK) status = zipCloseFileInZip(m_zip);
    if (status != ZIP_OK) throw FileError("cannot add '" + name + "' to the zip (minizip error " + std::to_string(status) + ")");
    m_order.push_back(name);
}

void ZipBuilder::addZip(const std::string& path) {
    unzFile source = unzOpen64(path.c_str());
    if (source == nullptr) throw FileError("cannot read zip '" + path + "'");
    const std::unique_ptr<void, int (*)(unzFile)> closer(source, unzClose);
    std::vector<char> name(0x10000);
    for (int status = unzGoToFirstFile(source); status != UNZ_END_OF_LIST_OF_FILE; status = unzGoToNextFile(source)) {
        unz_file_info64 info{};
        if (status == UNZ_OK) {
            status = unzGetCurrentFileInfo64(source, &info, name.data(), name.size(), nullptr, 0, nullptr, 0);
        }
        if (status != UNZ_OK) throw FileError("zip '" + path + "' is damaged");
        const std::string entry(name.data(), std::min<std::size_t>(info.size_filename, name.size()));
        if (!entry.empty() && entry.back() == '/') {
            addDirectory(entry);
            continue;
        }
        std::string bytes;
        if (unzOpenCurrentFile(source) != UNZ_OK) throw FileError("cannot read '" + entry + "' of zip '" + path + "'");
        char buffer[16 * 1024];
        int got;
        while ((got = unzReadCurrentFile(source, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(got));
        if (unzCloseCurrentFile(source) != UNZ_OK || got < 0) {
            throw FileError("cannot read '" + entry + "' of zip '" + path + "'");
        }
        addFile(entry, bytes);
    }
}

std::vector<unsigned char> ZipBuilder::finish() {
    const int status = zipClose(m_zip, nullptr);
    m_zip = nullptr;
    if (status != ZIP_OK) throw FileError("cannot finish the zip (minizip error " + std::to_string(status) + ")");
    return std::move(m_memory->bytes);
}

}  // namespace rc
