// Loading real module files: which entry point is used and how it is called, and the one error
// each kind of unusable file raises.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "capi/message_ids.hpp"
#include "capi/per_engine.hpp"
#include "loader/dispatch_strategies.hpp"
#include "loader/orb_file_reader.hpp"
#include "loader/loaded_interface.hpp"
#include "loader_support.hpp"
#include "platform/startup_probe.hpp"
#include "vhost/services/features.hpp"
#include "vhost/ut/output.hpp"

#include <boost/optional/bad_optional_access.hpp>

namespace {

using namespace orb::loader;
using orbtest::errorOf;
using orbtest::LoaderTest;
using orbtest::TestModule;

enum class Calls { C, Fortran, Fortran64 };

struct EntryCase {
    const char* module;
    int entry;        // which gateway answered (1 C, 2 "ORBFUNCTION", 3 "orbfunction_")
    Calls strategy;
    bool wrapped;     // separate-complex modules run under the host's per-call guard
};

const EntryCase kEntries[] = {
    {"shape_c", 1, Calls::C, true},
    {"shape_c_interleaved", 1, Calls::C, false},
    {"shape_fortran_both", 2, Calls::Fortran, true},
    {"shape_fortran_lower", 3, Calls::Fortran, true},
    {"shape_fortran_wide", 3, Calls::Fortran64, true},
};

TEST_F(LoaderTest, EntryPointDecidesHowTheModuleIsCalled) {
    for (const EntryCase& c : kEntries) {
        SCOPED_TRACE(c.module);
        TestModule module(c.module);
        // Counts arrive intact whatever their width: entry*10000 + nlhs*100 + nrhs.
        EXPECT_EQ(module.callScalar({5, 6, 7}, 1), c.entry * 10000 + 100 + 3);

        const DispatchStrategy* strategy = module.function().strategy();
        ASSERT_NE(strategy, nullptr);
        if (auto* compat = dynamic_cast<const SCCompatDispatchStrategy*>(strategy)) {
            EXPECT_TRUE(c.wrapped);
            strategy = &compat->inner();
        } else {
            EXPECT_FALSE(c.wrapped);
        }
        switch (c.strategy) {
            case Calls::C: EXPECT_NE(dynamic_cast<const C_DispatchStrategy*>(strategy), nullptr); break;
            case Calls::Fortran: EXPECT_NE(dynamic_cast<const Fortran_DispatchStrategy*>(strategy), nullptr); break;
            case Calls::Fortran64:
                EXPECT_NE(dynamic_cast<const Fortran_64bit_DispatchStrategy*>(strategy), nullptr);
                break;
        }
        // The interleaved-complex answer agrees from the function record and from the library.
        EXPECT_EQ(orbfile::is_interleaved_complex(&module.function()), !c.wrapped);
        EXPECT_EQ(orb_handle_is_interleaved_complex(module.function().loadRecord()->library), c.wrapped ? 0 : 1);
    }
}

struct FailureCase {
    const char* module;
    std::string identifier;
    std::string detail;  // text the message must also carry besides the path
};

TEST_F(LoaderTest, EachUnusableFileRaisesItsErrorWithTheFullPathAndLeavesNothingMapped) {
    const auto notALibrary = std::filesystem::path(testing::TempDir()) / "not_a_library.orbw64";
    std::ofstream(notALibrary) << std::string(20, '\n') + std::string(200, 'x');  // longer than any header
    using namespace VELTRA::orb;
    const FailureCase cases[] = {
        {"shape_no_entry", orb::capi::messageIdentifier<ErrInvalidORBFile>(),
         host::i18n::to_string(host::i18n::get_message(orb::capi::messageIdentifier<MsgNoEntryPoint>()))},
        {"shape_missing_dependency", orb::capi::messageIdentifier<ErrInvalidORBFile>(), "libloader_dependency.so"},
        {"shape_cpp_no_destroy", orb::capi::messageIdentifier<ErrInvalidCPPORBFile>(), "orbDestroyOrbFunction"},
        {"shape_newer_interface", orb::capi::messageIdentifier<MsgIncompatRel>(), "R2030a"},
        {notALibrary.c_str(), orb::capi::messageIdentifier<ErrInvalidORBFile>(), "header"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.module);
        TestModule module(c.module);
        host::UserException error = errorOf([&] { module.callScalar({}); });
        EXPECT_EQ(error.identifier(), c.identifier);
        EXPECT_NE(error.message().find("'" + module.path() + "'"), std::string::npos) << error.message();
        EXPECT_NE(error.message().find(c.detail), std::string::npos) << error.message();
        EXPECT_EQ(module.function().loadRecord(), nullptr);
        EXPECT_FALSE(orbtest::libraryMapped(module.path()));
    }
}

// What passed the check before mapping is remembered by the file's identity once the file has
// settled. Rewritten in place, or replaced by a file renamed over it, the file must be read again:
// the check's own reason ("no ELF header"), not the system loader's, names the damage.
TEST_F(LoaderTest, AFileChangedAfterItLoadedIsCheckedAgain) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(testing::TempDir()) / "changed_after_load";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path file = folder / "changed.orbw64";
    const auto write = [](const fs::path& to, const std::string& bytes, std::ios::openmode mode) {
        std::ofstream(to, std::ios::binary | mode).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    };
    std::ifstream in(orbtest::modulePath("shape_c"), std::ios::binary);
    const std::string good{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string damaged = good;
    damaged[1] = 'X';  // the same size, without the ELF magic
    const auto loadsAfterItSettled = [&] {
        // Until then nothing is remembered, and the changes below would prove nothing.
        for (int i = 0; i < 200 && !orb::platform::identifyFile(file.string())->settled; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(orb::platform::identifyFile(file.string())->settled);
        TestModule module(file.string());
        EXPECT_EQ(module.callScalar({}), 10100);
    };
    const auto refusedNaming = [&](const char* reason) {
        TestModule module(file.string());
        const host::UserException error = errorOf([&] { module.callScalar({}); });
        EXPECT_NE(error.message().find(reason), std::string::npos) << error.message();
    };
    write(file, good, std::ios::out);
    loadsAfterItSettled();
    write(file, damaged, std::ios::in | std::ios::out);  // in place: the same inode and size
    refusedNaming("no ELF header");
    write(file, good, std::ios::in | std::ios::out);
    loadsAfterItSettled();
    write(folder / "next.orbw64", damaged, std::ios::out);
    fs::rename(folder / "next.orbw64", file);
    refusedNaming("no ELF header");
    fs::remove_all(folder);
}

TEST_F(LoaderTest, WithoutAReaderTheLoadFailsAndADebugFlagAnnouncesEachLoad) {
    TestModule module("shape_c");
    inSetOrbfileReader(nullptr);
    EXPECT_THROW(module.callScalar({}), boost::bad_optional_access);
    inSetOrbfileReader(std::make_unique<OrbFileReader>());

    auto& info = orb::capi::PerEngine<orb::capi::CurrentOrbInfoPerEngine>::getOrCreate();
    info.debugFlag = 1;
    vhost::OutputCapture output;
    module.callScalar({});
    info.debugFlag = 0;
    char entry[32];
    std::snprintf(entry, sizeof entry, "%p", module.function().loadRecord()->entry);
    EXPECT_NE(output.text().find(module.path()), std::string::npos) << output.text();
    EXPECT_NE(output.text().find(entry), std::string::npos) << output.text();
}

TEST_F(LoaderTest, RefusedModulesAreNeverEnteredAndTheRefusalIsLogged) {
    impl_info_tag refused{};
    refused.entryKind = kOrbEntryRefused;
    vhost::clearDisallowedTaskBuiltins();
    for (bool productCode : {false, true}) {
        Tasks_DispatchStrategy strategy(&refused, "refused_fn", productCode);
        host::UserException error = errorOf([&] { strategy.dispatch(0, nullptr, 0, nullptr); });
        EXPECT_EQ(error.identifier(), orb::capi::kDisallowedOrbFunctionErrorId);
    }
    auto logged = vhost::disallowedTaskBuiltins();
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0].name, "user written orb");
    EXPECT_EQ(logged[0].kind, "orb");
    EXPECT_EQ(logged[1].name, "refused_fn");
}

}  // namespace
