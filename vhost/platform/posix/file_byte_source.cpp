// A file byte source's file on POSIX: one descriptor, its size from the descriptor, positioned
// reads (no seek before each read).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "vhost/bundle/byte_source.hpp"

namespace vhost::bundle {

// Opened without blocking, so a FIFO or a device is refused by its type instead of waiting for a
// writer; the flag changes nothing for the reads of a regular file.
FileByteSource::Opened FileByteSource::open(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0) {
        const int reason = errno;
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            throw std::runtime_error("cannot open '" + path + "' for reading: " + std::strerror(reason));
        }
        throw std::runtime_error("'" + path + "' is not a regular file");
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        throw std::runtime_error("'" + path + "' is not a regular file");
    }
    return Opened{descriptor, static_cast<std::uint64_t>(status.st_size)};
}

FileByteSource::~FileByteSource() { ::close(m_descriptor); }

// A file that shrank since it was opened reads short; that is a failed read, not a short one.
bool FileByteSource::readFile(std::uint64_t offset, std::size_t count, void* out) {
    auto* at = static_cast<char*>(out);
    while (count > 0) {
        const ssize_t got = ::pread(m_descriptor, at, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        at += got;
        offset += static_cast<std::uint64_t>(got);
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace vhost::bundle
