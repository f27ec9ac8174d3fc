// Shared pieces of the fuzz targets: the input as a file on disk, for readers that take a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

namespace orbfuzz {

// A file holding the current input, rewritten for every input; removed when the process ends.
class InputFile {
public:
    InputFile() {
        char pattern[] = "/tmp/orb-fuzz-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) std::abort();
        ::close(fd);
        m_path = pattern;
    }
    ~InputFile() { std::remove(m_path.c_str()); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& write(const std::uint8_t* data, std::size_t size) {
        std::FILE* file = std::fopen(m_path.c_str(), "wb");
        if (!file) std::abort();
        if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
        std::fclose(file);
        return m_path;
    }

private:
    std::string m_path;
};

}  // namespace orbfuzz
