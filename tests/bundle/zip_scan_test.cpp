// Locating a zip by scanning for its end-of-central-directory record: where it is found, which
// forged or damaged records are refused, and what the scan costs in bytes read.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "support/bundle_files.hpp"
#include "vhost/bundle/bundle_reader.hpp"
#include "vhost/bundle/zip_locator.hpp"

namespace {

using namespace orbtest;
using vhost::bundle::locateZip;
using vhost::bundle::MemoryByteSource;
using vhost::bundle::ZipOrigin;
using vhost::bundle::ZipWindow;

constexpr std::size_t kEocdSize = 22;

std::optional<ZipWindow> locate(const std::string& bytes) {
    MemoryByteSource source(bytes.data(), bytes.size());
    return locateZip(source);
}

void putLE(std::string& bytes, std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
std::uint64_t getLE(const std::string& bytes, std::size_t at, int width) {
    std::uint64_t value = 0;
    for (int i = width; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

class ZipScan : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_zip = new std::string(compileBundle(goodManifest()));
        s_module = new std::string(readBytes(testModule("bundle_plain")));
    }
    static void TearDownTestSuite() {
        delete s_zip;
        delete s_module;
    }
    static const std::string& zip() { return *s_zip; }
    static const std::string& module() { return *s_module; }

private:
    static inline std::string* s_zip = nullptr;
    static inline std::string* s_module = nullptr;
};

TEST_F(ZipScan, FindsTheZipWhereverItLies) {
    const std::string junk(1000, 'x');
    // An archive comment lies beyond the window, even one that holds the signature.
    std::string commented = zip();
    putLE(commented, commented.size() - 2, 5, 2);
    commented += "PK\x05\x06!";
    // A zip the linker copied into the module as data.
    const std::string linked = readBytes(testModule("bundle_linked"));
    const std::string input = readBytes(fs::path(ORB_TEST_MODULE_DIR) / "bundle_linked_manifest.zip");
    const std::size_t at = linked.find(input);
    ASSERT_NE(at, std::string::npos) << "the linker did not copy the zip verbatim";
    ASSERT_LT(at + input.size(), linked.size()) << "the zip is expected inside the module, not at its end";
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t begin, size;
    };
    const Case cases[] = {
        {"alone", zip(), 0, zip().size()},
        {"appended to a module", module() + zip(), module().size(), zip().size()},
        {"between other bytes", junk + zip() + junk, junk.size(), zip().size()},
        {"after a zip that is not last", module() + zip() + zip(), module().size() + zip().size(), zip().size()},
        {"with an archive comment", module() + commented, module().size(), zip().size()},
        {"linked in as data", linked, at, input.size()},
    };
    for (const auto& c : cases) {
        const auto window = locate(c.bytes);
        ASSERT_TRUE(window) << c.what;
        EXPECT_EQ(window->begin, c.begin) << c.what;
        EXPECT_EQ(window->end, c.begin + c.size) << c.what;
        EXPECT_EQ(window->entries, 2) << c.what;  // the manifest and its directory
        EXPECT_EQ(window->origin, ZipOrigin::kScan) << c.what;
    }
}

TEST_F(ZipScan, AnEndRecordIsFoundWhereverTheReadsDivideTheFile) {
    // The scan reads backward in pieces; an end record split between two of them must still be
    // judged whole. Trailing bytes of every length around the usual piece sizes move the record
    // across each place a piece could end.
    for (const std::size_t boundary : {4096, 8192, 16384, 65536, 73728, 81920}) {
        for (std::size_t tail = boundary - 26; tail <= boundary + 2; ++tail) {
            const std::string bytes = module() + zip() + std::string(tail, 'x');
            const auto window = locate(bytes);
            ASSERT_TRUE(window) << tail << " bytes after the zip";
            EXPECT_EQ(window->begin, module().size()) << tail;
            EXPECT_EQ(window->end, module().size() + zip().size()) << tail;
        }
    }
}

TEST_F(ZipScan, SignaturesThatOccurByChanceAreNotTaken) {
    const std::string chance = std::string("PK\x05\x06", 4) + std::string(18, '\0');  // an "empty archive"
    const std::string garbage = std::string("PK\x05\x06", 4) + std::string(18, '\x7f');
    for (const std::string& bytes : {chance, garbage, module() + chance, chance + module() + garbage}) {
        EXPECT_FALSE(locate(bytes));
    }
    // Behind a real zip, they do not hide it.
    const auto window = locate(module() + zip() + chance + garbage);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->begin, module().size());
}

TEST_F(ZipScan, ForgedEndRecordsAreRefused) {
    const std::string good = module() + zip();
    const std::size_t eocd = good.size() - kEocdSize;
    const std::uint64_t cdSize = getLE(good, eocd + 12, 4);
    const std::uint64_t cdOffset = getLE(good, eocd + 16, 4);
    const std::size_t firstHeader = eocd - cdSize;
    struct Edit {
        std::size_t at;
        std::uint64_t value;
        int width;
    };
    struct Case {
        const char* what;
        std::vector<Edit> edits;
    };
    const Case cases[] = {
        {"no entries", {{eocd + 8, 0, 2}, {eocd + 10, 0, 2}}},
        {"entry counts disagree", {{eocd + 8, 1, 2}}},
        {"fewer entries than headers", {{eocd + 8, 1, 2}, {eocd + 10, 1, 2}}},
        {"directory one byte larger", {{eocd + 12, cdSize + 1, 4}}},
        {"directory larger than the file", {{eocd + 12, 0xFFFFFFF0, 4}}},
        {"zip start before the file start", {{eocd + 16, 0x7FFFFFFF, 4}}},
        {"comment running past the file end", {{eocd + 20, 1, 2}}},
        {"central header signature", {{firstHeader, 0x02014B51, 4}}},
        {"local header inside the directory", {{firstHeader + 42, cdOffset, 4}}},
        {"local header signature", {{module().size(), 0x04034B51, 4}}},
    };
    for (const auto& c : cases) {
        std::string forged = good;
        for (const auto& e : c.edits) putLE(forged, e.at, e.value, e.width);
        MemoryByteSource source(forged.data(), forged.size());
        EXPECT_FALSE(locateZip(source)) << c.what;
        EXPECT_LE(source.bytesRead(), 2 * forged.size()) << c.what;
    }
}

TEST_F(ZipScan, EveryTruncationEndsCleanly) {
    const std::string whole = module() + zip();
    for (std::size_t cut = 1; cut <= zip().size(); ++cut) {
        const std::string tail = whole.substr(0, whole.size() - cut);
        EXPECT_FALSE(locate(tail)) << "last " << cut << " bytes cut";
        // With the start of the zip missing instead, the offsets point at the wrong bytes.
        const std::string head = module() + zip().substr(cut);
        const auto window = locate(head);
        if (window) {
            ADD_FAILURE() << "first " << cut << " bytes of the zip cut, still found at " << window->begin;
        }
    }
}

TEST_F(ZipScan, AFileFullOfCandidateRecordsCostsAtMostTwoPasses) {
    // One local header, then a central directory of many valid-looking headers, then records
    // that each claim all but one of them: every candidate walks nearly the whole directory before
    // it finds the directory does not end where the record starts. Unchecked, that is quadratic.
    const std::uint64_t headers = 60000;
    std::string bytes = std::string("PK\x03\x04", 4) + std::string(26, '\0');
    for (std::uint64_t i = 0; i < headers; ++i) bytes += std::string("PK\x01\x02", 4) + std::string(42, '\0');
    const std::uint64_t cdSize = headers * 46;
    for (std::uint64_t k = 0; k < 5000; ++k) {
        std::string record = std::string("PK\x05\x06", 4) + std::string(18, '\0');
        putLE(record, 8, headers - 1, 2);
        putLE(record, 10, headers - 1, 2);
        putLE(record, 12, cdSize + kEocdSize * k, 4);  // the directory "starts" right after the local header
        putLE(record, 16, 30, 4);
        bytes += record;
    }
    MemoryByteSource source(bytes.data(), bytes.size());
    EXPECT_FALSE(locateZip(source));
    EXPECT_LE(source.bytesRead(), 2 * bytes.size());
}

}  // namespace
