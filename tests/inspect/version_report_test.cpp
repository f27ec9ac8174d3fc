// The version report built-in: the current interface, a module's compatibility word or its
// interface name, and the errors for wrong arguments and unreadable modules.
#include <gtest/gtest.h>

#include "host/exceptions.hpp"
#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "inspect/inspect_support.hpp"
#include "orbfile/version_report.hpp"

namespace {

using namespace inspecttest;

// Calls the built-in and answers its outputs as text, or "error <identifier>".
std::vector<std::string> orbver(int nlhs, std::vector<ryArray*> inputs) {
    ryArray* outputs[2] = {nullptr, nullptr};
    std::vector<std::string> result;
    try {
        orbFeature_orbver(nlhs, outputs, static_cast<int>(inputs.size()), inputs.data());
        for (ryArray* output : outputs) {
            if (output == nullptr) continue;
            EXPECT_EQ(host::ryGetClassID(output), ryCHAR_CLASS);
            result.push_back(host::i18n::to_string(host::get_ustring(output)));
            host::destroyArray(output);
        }
    } catch (const host::UserException& error) {
        result = {"error " + error.identifier()};
    }
    for (ryArray* input : inputs) host::destroyArray(input);
    return result;
}

ryArray* text(const std::string& value) { return host::ryCreateString(value.c_str()); }

using Texts = std::vector<std::string>;

TEST(VersionReport, CompatibilityOfModules) {
    struct Case {
        const char* module;
        const char* word;
        std::uint32_t apinum;  // the interface the two-output form names
    };
    const Case cases[] = {
        {"inspect_c800_vf", "current", 0x08000000},
        {"inspect_c730_vf", "compatible", 0x07300000},
        {"inspect_c800_vf_future", "incompatible", 0x09000000},
        // Loads, but declares no version.
        {"inspect_c800_novf", "unknown", 0},
        // The manifest, read without loading the module.
        {"inspect_c800_manifest700", "compatible", 0x07000000},
        {"pe64_c800_manifest.dll", "current", 0x08000000},
    };
    const std::string current = host::i18n::to_string(host::get_current_version_name());
    for (const Case& c : cases) {
        const std::string path = std::string(c.module).ends_with(".dll") ? pePath(c.module) : modulePath(c.module);
        EXPECT_EQ(orbver(1, {text(path)}), Texts{c.word}) << c.module;
        EXPECT_EQ(orbver(0, {text(path)}), Texts{c.word}) << c.module;
        EXPECT_EQ(orbver(2, {text(path)}), (Texts{host::i18n::to_string(host::get_version_name(c.apinum)), current}))
            << c.module;
    }
    EXPECT_EQ(orbver(1, {}), Texts{current});
    EXPECT_EQ(orbver(0, {}), Texts{current});
}

TEST(VersionReport, WrongArgumentsAndUnreadableModules) {
    auto number = [] { return host::to_veltra(host::do_create_uninitnumeric({1, 1}, ryDOUBLE_CLASS, ryREAL)); };
    const std::string module = modulePath("inspect_c800_vf");
    struct Case {
        const char* what;
        int nlhs;
        std::vector<ryArray*> inputs;
        const char* identifier;
    };
    const Case cases[] = {
        {"two outputs, no input", 2, {}, "VELTRA:maxlhs"},
        {"two inputs", 1, {text(module), text(module)}, "VELTRA:maxrhs"},
        {"a number", 1, {number()}, "VELTRA:legacy_two_part:badopt"},
        {"an empty path", 1, {text("")}, "VELTRA:orb:invalidArgument"},
        {"a missing file", 1, {text("/nonexistent/m.orbw64")}, "VELTRA:orb:ErrInvalidORBFile"},
        {"a file that is no library", 1, {text(pePath("pe64_c800_vf.dll"))}, "VELTRA:orb:ErrInvalidORBFile"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(orbver(c.nlhs, c.inputs), Texts{std::string("error ") + c.identifier}) << c.what;
    }
}

TEST(VersionReport, UnreadableModuleNamesPathAndLoaderError) {
    const std::string path = pePath("pe64_c800_vf.dll");
    ryArray* outputs[1] = {nullptr};
    ryArray* inputs[1] = {text(path)};
    try {
        orbFeature_orbver(1, outputs, 1, inputs);
        ADD_FAILURE() << "no error";
    } catch (const host::MessageIdException& error) {
        ASSERT_EQ(error.args().size(), 2u);
        EXPECT_EQ(std::get<std::u16string>(error.args()[0]), widen(path));
        const std::u16string reason = std::get<std::u16string>(error.args()[1]);
        EXPECT_FALSE(reason.empty());
        EXPECT_NE(reason.back(), u'\n');
        EXPECT_NE(reason.back(), u' ');
    }
    host::destroyArray(inputs[0]);
}

}  // namespace
