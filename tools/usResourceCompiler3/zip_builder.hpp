// Building a bundle zip in memory with minizip: every entry UTF-8 named (general purpose bit 11),
// files deflated unless they are 3 bytes or less (stored: deflate would only grow them),
// directories as zero-length stored entries whose names end in "/".
#pragma once

#include <set>
#include <string>
#include <vector>

namespace rc {

class ZipBuilder {
public:
    // `level` 0..9: 0 stores every file, 1..9 are zlib's deflate levels.
    explicit ZipBuilder(int level);
    ~ZipBuilder();
    ZipBuilder(const ZipBuilder&) = delete;
    ZipBuilder& operator=(const ZipBuilder&) = delete;

    // Adds a file entry. Throws UsageError when `name` is already in the zip.
    void addFile(const std::string& name, const std::string& bytes);
    // Adds a directory entry ("<name>/"), unless it is already there.
    void addDirectory(const std::string& name);
    // Adds every entry of the zip file at `path`; its directories merge with those already
    // present, a file already present is an error (UsageError); one it cannot read, FileError.
    void addZip(const std::string& path);

    // The names added so far, in order.
    const std::vector<std::string>& names() const noexcept { return m_order; }
    // Finishes the archive and returns its bytes; nothing may be added afterwards.
    std::vector<unsigned char> finish();

    // The archive's bytes while they are written (for minizip's I/O callbacks).
    struct Memory;

private:
    void addEntry(const std::string& name, const std::string& bytes, bool directory);

    Memory* m_memory;
    void* m_zip;
    int m_level;
    std::set<std::string> m_names;
    std::vector<std::string> m_order;
};

}  // namespace rc
