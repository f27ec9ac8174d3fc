// Finding the zip archive a file carries, without trusting anything the file says.
//
// Order: an embedded blob first (the ELF section ".us_resources", or the PE resource
// "US_RESOURCES" of type 300), then a backward scan of the whole file for an end-of-central-
// directory record. The scan is what finds a zip appended after linking and one linked in as
// plain data; since the zip's offsets are relative to its own start, that start is the record's
// offset minus the central directory's offset and size. A signature can occur by chance, so each
// candidate record is validated against the central directory it describes before it is used.
//
// Zip64 archives and archives split over several disks are not bundles and are not found.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/host_api.hpp"
#include "vhost/bundle/byte_source.hpp"

namespace vhost::bundle {

enum class ZipOrigin { kElfSection, kPeResource, kScan };

// A validated zip inside a source: its first byte and the end of its end-of-central-directory
// record (the archive comment, if any, lies beyond `end`).
struct ZipWindow {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    std::uint16_t entries = 0;
    ZipOrigin origin = ZipOrigin::kScan;
};

// The outcome of looking for an embedded blob in one binary format.
struct BlobLookup {
    // The blob's bytes within the source, when the file has one.
    std::optional<ByteRange> blob;
    // Why a file of this format could not be read to the end (names the field and its value);
    // empty when the file is not of this format or was read cleanly.
    std::string problem;
};

// The section called `name` of an ELF file (32- or 64-bit, little-endian).
HOST_API BlobLookup findElfSection(ByteSource& source, std::string_view name);

// The resource of numeric type `type` named `name` (compared ignoring ASCII case) of a PE file,
// first language.
HOST_API BlobLookup findPeResource(ByteSource& source, std::uint16_t type, std::string_view name);

// The last validated zip whose end-of-central-directory record lies within `range`, scanning
// backwards. Reads each byte of the range at most once, plus the central-directory headers of the
// candidates it validates; validation stops after reading as many bytes as the range holds, so
// even a file forged to be full of candidate records costs at most two passes.
std::optional<ZipWindow> scanForZip(ByteSource& source, ByteRange range);

// The zip the source carries, by the order above; nullopt when it carries none.
HOST_API std::optional<ZipWindow> locateZip(ByteSource& source);

}  // namespace vhost::bundle
