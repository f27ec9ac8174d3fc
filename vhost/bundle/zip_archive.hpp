// Reading the entries of a located zip with minizip. minizip sees only the zip's own bytes
// (through the ByteSource, so its reads are checked and counted too), as if it were a file of
// its own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "vhost/bundle/byte_source.hpp"
#include "vhost/bundle/zip_locator.hpp"

namespace vhost::bundle {

class HOST_API ZipArchive {
public:
    // Throws std::runtime_error when minizip cannot read the zip in `window`, or sees a different
    // number of entries than the validated end record states.
    ZipArchive(ByteSource& source, const ZipWindow& window);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // Entry names in central-directory order. Throws std::runtime_error on a damaged directory.
    const std::vector<std::string>& names() const noexcept { return m_names; }

    // The bytes of entry `name`, decompressed and checked against its CRC. Throws
    // std::runtime_error when there is no such entry, when it is encrypted or compressed with
    // anything but store or deflate, when it is damaged, or when it holds more than `limit`
    // bytes (only limit + 1 bytes are ever decompressed).
    std::string read(const std::string& name, std::size_t limit);

private:
public:
    struct Stream;

private:
    std::unique_ptr<Stream> m_stream;
    void* m_zip = nullptr;
    std::vector<std::string> m_names;
};

}  // namespace vhost::bundle
