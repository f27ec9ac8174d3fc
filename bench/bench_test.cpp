// The manifest benchmark's baseline reader must read what the runtime reads: the manifest of each
// attached zip, wherever the zip sits, past forged records and stored or deflated alike. A
// baseline that found nothing would make the comparison meaningless.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "eocd_reader.hpp"

namespace {

namespace fs = std::filesystem;
using orbbench::readAttachedManifest;

fs::path scratch() {
    const fs::path dir = fs::temp_directory_path() / ("orb-bench-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

struct ScratchCleanup {
    ~ScratchCleanup() {
        std::error_code ignored;
        fs::remove_all(scratch(), ignored);
    }
} scratchCleanup;

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

// A zip written by python3's zipfile from (entry name, text) pairs, deflated or stored.
std::string pythonZip(const std::vector<std::pair<std::string, std::string>>& entries, bool deflated) {
    const fs::path dir = scratch();
    writeBytes(dir / "make_zip.py",
               "import sys, zipfile\n"
               "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile." + std::string(deflated ? "ZIP_DEFLATED" : "ZIP_STORED") +
                   ")\n"
                   "for i in range(2, len(sys.argv), 2):\n"
                   "    z.writestr(sys.argv[i], open(sys.argv[i + 1], 'rb').read())\n"
                   "z.close()\n");
    std::string command = "python3 " + (dir / "make_zip.py").string() + " " + (dir / "made.zip").string();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const fs::path text = dir / ("entry" + std::to_string(i));
        writeBytes(text, entries[i].second);
        command += " " + entries[i].first + " " + text.string();
    }
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return readBytes(dir / "made.zip");
}

TEST(EocdReader, ReadsTheManifestOfEachBenchmarkModule) {
    std::string first;
    for (const char* attachment : {"appended", "section", "linked"}) {
        const fs::path path = fs::path(ORB_BENCH_MODULE_DIR) / (std::string("bench_large_") + attachment + ".orbw64");
        ASSERT_GT(fs::file_size(path), 11u * 1024 * 1024) << attachment;
        const auto manifest = readAttachedManifest(path.string());
        ASSERT_TRUE(manifest) << attachment;
        EXPECT_NE(manifest->find("\"orb-bench-large\""), std::string::npos) << attachment << ": " << *manifest;
        EXPECT_NE(manifest->find("R2024b"), std::string::npos) << attachment;
        // One resource compiler made all three zips: the same text wherever it was attached.
        if (first.empty()) first = *manifest;
        EXPECT_EQ(*manifest, first) << attachment;
    }
}

TEST(EocdReader, FindsTheZipWhereverItLiesAndWhateverItStores) {
    const std::string manifest = "{\"bundle.symbolic_name\": \"t\", \"padding\": \"" + std::string(300, 'x') + "\"}";
    const std::vector<std::pair<std::string, std::string>> entries = {{"orbVersioning/other.txt", "first"},
                                                                       {"orbVersioning/manifest.json", manifest}};
    const std::string deflated = pythonZip(entries, true);
    const std::string stored = pythonZip(entries, false);
    ASSERT_FALSE(deflated.empty());
    ASSERT_FALSE(stored.empty());
    ASSERT_LT(deflated.size(), stored.size());  // the deflated one really is compressed

    // The end record straddling the boundary of the backward reads (64 KiB from the end).
    const std::size_t boundaryTail = 64 * 1024 + 2 - 22;
    // A record that only looks like an end record, after the real one.
    const std::string forged = std::string("PK\x05\x06", 4) + std::string(18, '\xff');
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"deflated zip alone", deflated},
        {"stored zip alone", stored},
        {"deflated after 1 MB of data", std::string(1 << 20, '\x7f') + deflated},
        {"stored between data", std::string(4096, 'a') + stored + std::string(200000, 'b')},
        {"end record across a read boundary", std::string(100, 'c') + deflated + std::string(boundaryTail, '\0')},
        {"a forged record after the zip", deflated + forged + std::string(100, 'd')},
    };
    for (const auto& c : cases) {
        const fs::path path = scratch() / "case.bin";
        writeBytes(path, c.bytes);
        const auto read = readAttachedManifest(path.string());
        ASSERT_TRUE(read) << c.what;
        EXPECT_EQ(*read, manifest) << c.what;
    }
}

TEST(EocdReader, AnswersNothingWithoutAManifest) {
    const std::string noManifest = pythonZip({{"orbVersioning/readme.txt", "no manifest here"}}, true);
    std::string truncated = pythonZip({{"orbVersioning/manifest.json", "{}"}}, true);
    truncated.erase(10, 20);  // the central directory's offset now points past the local header
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty file", ""},
        {"no zip at all", std::string(70000, 'z')},
        {"only a forged end record", std::string(50, 'e') + std::string("PK\x05\x06", 4) + std::string(18, '\0')},
        {"a zip without a manifest", noManifest},
        {"a damaged zip", truncated},
    };
    for (const auto& c : cases) {
        const fs::path path = scratch() / "case.bin";
        writeBytes(path, c.bytes);
        EXPECT_FALSE(readAttachedManifest(path.string())) << c.what;
    }
    EXPECT_FALSE(readAttachedManifest((scratch() / "missing.bin").string()));
}

}  // namespace
