// Loading real module files: which entry point is used and how it is called, and the one error
// each kind of unusable file raises.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "capi/message_ids.hpp"
#include "capi/per_engine.hpp"
#include "loader/dispatch_strategies.hpp"
#include "loader/orb_file_reader.hpp"
#include "loader/loaded_interface.hpp"
#include "loader_support.hpp"
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
