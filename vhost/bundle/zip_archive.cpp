#include "vhost/bundle/zip_archive.hpp"

#include <unzip.h>

#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

#include "objfile/byte_view.hpp"

namespace vhost::bundle {

// The zip's bytes as a file of their own, for minizip's I/O callbacks.
struct ZipArchive::Stream {
    ByteSource* source;
    std::uint64_t begin;
    std::uint64_t size;
    std::uint64_t position = 0;
    // Where each entry's central header is, and what it says (read once, when the zip is opened).
    struct Entry {
        unz64_file_pos position;
        unz_file_info64 info;
    };
    std::map<std::string, Entry> entries;
    // A small zip's bytes, read whole at the first read: minizip reads its headers a byte or two
    // at a time, and each of those would otherwise be a call into the source.
    std::unique_ptr<unsigned char[]> held;
    bool triedHolding = false;
};

namespace {

using Stream = ZipArchive::Stream;

voidpf ZCALLBACK openStream(voidpf opaque, const void*, int mode) {
    return (mode & ZLIB_FILEFUNC_MODE_WRITE) ? nullptr : opaque;
}

uLong ZCALLBACK readStream(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* s = static_cast<Stream*>(stream);
    if (s->position >= s->size) return 0;
    const std::uint64_t wanted = std::min<std::uint64_t>(size, s->size - s->position);
    constexpr std::uint64_t kHeldSize = 64 * 1024;
    if (!s->triedHolding) {
        s->triedHolding = true;
        if (s->size <= kHeldSize) {
            auto bytes = std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(s->size));
            if (s->source->read(s->begin, static_cast<std::size_t>(s->size), bytes.get())) s->held = std::move(bytes);
        }
    }
    if (s->held) {
        if (wanted == 1) {
            *static_cast<unsigned char*>(buffer) = s->held[s->position];  // most reads: no call
        } else {
            std::memcpy(buffer, s->held.get() + s->position, static_cast<std::size_t>(wanted));
        }
        s->position += wanted;
        return static_cast<uLong>(wanted);
    }
    const std::size_t got = s->source->readSome(s->begin + s->position, static_cast<std::size_t>(wanted), buffer);
    s->position += got;
    return static_cast<uLong>(got);
}

uLong ZCALLBACK writeStream(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK tellStream(voidpf, voidpf stream) { return static_cast<Stream*>(stream)->position; }

long ZCALLBACK seekStream(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* s = static_cast<Stream*>(stream);
    std::uint64_t base = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = s->position; break;
    case ZLIB_FILEFUNC_SEEK_END: base = s->size; break;
    default: return -1;
    }
    if (offset > s->size || base > s->size - offset) return -1;
    s->position = base + offset;
    return 0;
}

int ZCALLBACK closeStream(voidpf, voidpf) { return 0; }
int ZCALLBACK errorStream(voidpf, voidpf) { return 0; }

std::runtime_error zipError(const std::string& what, int code) {
    return std::runtime_error(what + " (minizip error " + std::to_string(code) + ")");
}

}  // namespace

ZipArchive::ZipArchive(ByteSource& source, const ZipWindow& window) {
    m_stream = std::make_unique<Stream>(Stream{&source, window.begin, window.end - window.begin, 0, {}, {}});
    zlib_filefunc64_def io{openStream, readStream, writeStream, tellStream, seekStream, closeStream, errorStream,
                           m_stream.get()};
    m_zip = unzOpen2_64("zip", &io);
    if (m_zip == nullptr) throw std::runtime_error("the zip at " + objfile::hex(window.begin) + " cannot be read");
    // A constructor that throws runs no destructor: close the zip here on the way out.
    struct Closer {
        void*& zip;
        bool armed = true;
        ~Closer() {
            if (armed) {
                unzClose(zip);
                zip = nullptr;
            }
        }
    } closer{m_zip};

    unz_global_info64 global{};
    if (unzGetGlobalInfo64(m_zip, &global) != UNZ_OK || global.number_entry != window.entries) {
        throw std::runtime_error("the zip at " + objfile::hex(window.begin) + " does not list the entries its end record states");
    }
    // Most names fit the buffer and take one look at their header; a longer one takes a second.
    std::string name(256, '\0');
    for (int status = unzGoToFirstFile(m_zip); status != UNZ_END_OF_LIST_OF_FILE; status = unzGoToNextFile(m_zip)) {
        if (status != UNZ_OK) throw zipError("the zip's central directory is damaged", status);
        unz_file_info64 info{};
        status = unzGetCurrentFileInfo64(m_zip, &info, name.data(), name.size(), nullptr, 0, nullptr, 0);
        if (status == UNZ_OK && info.size_filename > name.size()) {
            name.resize(info.size_filename);
            status = unzGetCurrentFileInfo64(m_zip, &info, name.data(), name.size(), nullptr, 0, nullptr, 0);
        }
        if (status != UNZ_OK) throw zipError("the zip's central directory is damaged", status);
        std::string entry(name.data(), std::min<std::size_t>(info.size_filename, name.size()));
        Stream::Entry found{{}, info};
        unzGetFilePos64(m_zip, &found.position);
        // A name listed twice refers to its first entry, as in every reader that looks names up.
        m_stream->entries.emplace(entry, found);
        m_names.push_back(std::move(entry));
    }
    closer.armed = false;
}

ZipArchive::~ZipArchive() {
    if (m_zip) unzClose(m_zip);
}

std::string ZipArchive::read(const std::string& name, std::size_t limit) {
    const auto found = m_stream->entries.find(name);
    if (found == m_stream->entries.end()) throw std::runtime_error("the zip has no entry '" + name + "'");
    int status = unzGoToFilePos64(m_zip, &found->second.position);
    if (status != UNZ_OK) throw zipError("cannot reach entry '" + name + "'", status);
    const unz_file_info64& info = found->second.info;
    if (info.flag & 1) throw std::runtime_error("entry '" + name + "' is encrypted");
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
        throw std::runtime_error("entry '" + name + "' uses compression method " + std::to_string(info.compression_method));
    }
    status = unzOpenCurrentFile(m_zip);
    if (status != UNZ_OK) throw zipError("cannot open entry '" + name + "'", status);
    struct CurrentFile {
        void* zip;
        ~CurrentFile() {
            if (zip) unzCloseCurrentFile(zip);
        }
    } current{m_zip};

    std::string bytes;
    char buffer[16 * 1024];
    for (;;) {
        const int got = unzReadCurrentFile(m_zip, buffer, sizeof buffer);
        if (got < 0) throw zipError("entry '" + name + "' is damaged", got);
        if (got == 0) break;
        if (bytes.size() + static_cast<std::size_t>(got) > limit) {
            throw std::runtime_error("entry '" + name + "' holds more than " + std::to_string(limit) + " bytes");
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    // minizip checks the CRC only when the whole stated size came out; a stream that ends early
    // must be caught here.
    if (bytes.size() != info.uncompressed_size) {
        throw std::runtime_error("entry '" + name + "' is damaged: " + std::to_string(bytes.size()) + " of " +
                                 std::to_string(info.uncompressed_size) + " bytes");
    }
    current.zip = nullptr;
    status = unzCloseCurrentFile(m_zip);
    if (status == UNZ_CRCERROR) throw std::runtime_error("entry '" + name + "' fails its CRC check");
    if (status != UNZ_OK) throw zipError("entry '" + name + "' is damaged", status);
    return bytes;
}

}  // namespace vhost::bundle
