// Library loading: every form of load on a real library, and how each fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host/ut.hpp"
#include "support/files.hpp"
#include "vhost/i18n/conversion.hpp"

namespace {

namespace fs = std::filesystem;

std::u16string u16(const fs::path& path) { return vhost::i18n::toUtf16Lenient(path.string()); }
std::string u8(const std::u16string& text) { return vhost::i18n::toUtf8Lenient(text); }

fs::path fixture(const char* name) { return fs::path(ORB_TEST_MODULE_DIR) / (std::string(name) + ".orbw64"); }

using Loader = host::utLibHandle (*)(const std::u16string&, std::u16string*);
host::utLibHandle loadGlobal(const std::u16string& path, std::u16string*) { return host::utLoadLibrary(path); }
host::utLibHandle loadDiagnostic(const std::u16string& path, std::u16string*) {
    return host::utLoadLibraryWithLocalSymbolVisibilityAndDiagnosticMsg(path);
}
const struct {
    const char* name;
    Loader load;
} kLoaders[] = {
    {"global", loadGlobal},
    {"unresolved", host::utLoadLibraryUnresolved},
    {"local", host::utLoadLibraryWithLocalSymbolVisibility},
    {"diagnostic", loadDiagnostic},
};

TEST(LibraryLoading, EveryFormLoadsARealLibrary) {
    for (const auto& loader : kLoaders) {
        // A failure first, so that the success below has an error to clear.
        ASSERT_EQ(host::utLoadLibraryUnresolved(u"/nonexistent/library.orbw64", nullptr), nullptr);
        std::u16string error = u"untouched";
        host::utLibHandle handle = loader.load(u16(fixture("h1_plain_library")), &error);
        ASSERT_NE(handle, nullptr) << loader.name << ": " << u8(host::utLastLibraryError_u());
        EXPECT_EQ(error, u"untouched") << loader.name << ": the error is written only on failure";
        EXPECT_TRUE(host::utLastLibraryError_u().empty()) << loader.name;
        auto answer = reinterpret_cast<int (*)()>(host::utFindSymbolInLibrary(handle, "h1PlainAnswer"));
        ASSERT_NE(answer, nullptr) << loader.name;
        EXPECT_EQ(answer(), 42);
        EXPECT_EQ(host::utFindSymbolInLibrary(handle, "h1NoSuchSymbol"), nullptr);
        EXPECT_TRUE(host::utLastLibraryError_u().empty()) << "a symbol lookup records no error";
        host::utUnloadLibrary(handle);
    }
    host::utUnloadLibrary(nullptr);
    EXPECT_EQ(host::utFindSymbolInLibrary(nullptr, "h1PlainAnswer"), nullptr);
}

class LoadFailures : public ::testing::Test {
protected:
    const fs::path m_dir = orbtest::scratchDir();

    // Every loader must fail on `path` with a text that contains each of `expected`, both in
    // *error and as the thread's last error.
    void expectFailure(const fs::path& path, std::initializer_list<std::string> expected) {
        for (const auto& loader : kLoaders) {
            std::u16string error;
            EXPECT_EQ(loader.load(u16(path), &error), nullptr) << loader.name;
            std::string last = u8(host::utLastLibraryError_u());
            for (const auto& part : expected) EXPECT_NE(last.find(part), std::string::npos) << loader.name << ": " << last;
            if (loader.load != loadGlobal && loader.load != loadDiagnostic) {
                EXPECT_EQ(u8(error), last) << loader.name;
            }
        }
    }
};

TEST_F(LoadFailures, EachUnusablePathIsNamedWithTheReason) {
    expectFailure(m_dir / "absent.orbw64", {"absent.orbw64", "No such file"});
    std::ofstream(m_dir / "text.orbw64") << "This is a text file, not a shared library; it is long enough to have a header.\n";
    std::ofstream(m_dir / "tiny.orbw64") << "x";
    expectFailure(m_dir / "text.orbw64", {"text.orbw64", "ELF"});
    expectFailure(m_dir / "tiny.orbw64", {"tiny.orbw64"});
    // An empty or invalid path never loads the program itself.
    expectFailure(fs::path(), {"empty"});
    std::u16string error;
    EXPECT_EQ(host::utLoadLibraryWithLocalSymbolVisibility(std::u16string(1, char16_t(0xD800)), &error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(LibraryLoading, AnUndefinedReferenceFailsOnlyTheResolvedLoads) {
    const auto path = u16(fixture("h1_unresolved_library"));
    EXPECT_EQ(host::utLoadLibraryWithLocalSymbolVisibilityAndDiagnosticMsg(path), nullptr);
    EXPECT_NE(u8(host::utLastLibraryError_u()).find("h1MissingFunction"), std::string::npos)
        << u8(host::utLastLibraryError_u());
    EXPECT_EQ(host::utLoadLibrary(path), nullptr);

    ::unsetenv("H1_UNRESOLVED_CONSTRUCTED");
    std::u16string error;
    host::utLibHandle lazy = host::utLoadLibraryUnresolved(path, &error);
    ASSERT_NE(lazy, nullptr) << u8(error);
    // The lazy load still initialised the library.
    EXPECT_NE(std::getenv("H1_UNRESOLVED_CONSTRUCTED"), nullptr);
    EXPECT_NE(host::utFindSymbolInLibrary(lazy, "h1CallsMissing"), nullptr);
    host::utUnloadLibrary(lazy);
}

TEST(LibraryLoading, TheLastErrorBelongsToTheThread) {
    std::u16string error;
    ASSERT_EQ(host::utLoadLibraryUnresolved(u"/nonexistent/first.orbw64", &error), nullptr);
    std::string other;
    std::thread([&] {
        other = u8(host::utLastLibraryError_u());
        host::utLoadLibraryUnresolved(u"/nonexistent/second.orbw64", nullptr);
    }).join();
    EXPECT_TRUE(other.empty()) << other;
    EXPECT_NE(u8(host::utLastLibraryError_u()).find("first.orbw64"), std::string::npos);
}

}  // namespace
