// Interface generations chosen by the build macros of ry.h: what modules import, and which
// macro combinations compile.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "support/orb_tool.hpp"

namespace {

namespace fs = std::filesystem;

// Modules built from one source with the plain names of ry.h import the versioned names of the
// generation their macros selected, and only those; names alike in every generation stay plain.
TEST(ModuleImports, NameTheGenerationTheModuleWasBuiltFor) {
    const struct {
        const char* module;
        std::vector<std::string> present;
        std::vector<std::string> forbiddenSuffixes;
    } cases[] = {
        {"inspect_c700", {"ryGetDimensions_700", "ryCreateDoubleMatrix_700", "ryGetPr_700"}, {"_730", "_800"}},
        {"inspect_c730", {"ryCreateDoubleMatrix_730", "ryGetPi_730"}, {"_700", "_800"}},
        {"inspect_c800_vf", {"ryCreateDoubleMatrix_800", "ryGetDoubles_800"}, {"_700", "_730"}},
        {"inspect_c800_novf", {"ryCreateDoubleMatrix_800", "ryGetDoubles_800"}, {"_700", "_730"}},  // no macro
    };
    for (const auto& c : cases) {
        const std::vector<std::string> names = orbtest::nmNames(orbtest::modulePath(c.module), false);
        const std::set<std::string> imports(names.begin(), names.end());
        for (const std::string& name : c.present) EXPECT_TRUE(imports.count(name)) << c.module << " lacks " << name;
        EXPECT_TRUE(imports.count("ryGetScalar")) << c.module;
        for (const std::string& name : imports) {
            for (const std::string& suffix : c.forbiddenSuffixes) EXPECT_FALSE(name.ends_with(suffix)) << c.module << ": " << name;
        }
    }
}

// Compiles a translation unit that includes ry.h with the given definitions; returns the
// compiler's exit status and its diagnostics.
orbtest::ChildResult compileWith(const std::vector<std::string>& defines, int expectVersion) {
    std::ifstream compilerFile(fs::path(ORB_TEST_MODULE_DIR) / "vhost_ry_c_compiler.txt");
    std::string compiler;
    std::getline(compilerFile, compiler);
    const fs::path source = fs::path(ORB_TEST_BINARY_DIR) / "vhost_ry_interface_check.c";
    // The includer's own macro named like a release word must come out of the header unchanged.
    std::ofstream(source) << "#define R2017b includers_own\n#include <ry.h>\n#if RY_INTERFACE_VERSION != "
                          << expectVersion
                          << "\n#error wrong interface\n#endif\n"
                             "#define TEXT2(x) #x\n#define TEXT(x) TEXT2(x)\n"
                             "_Static_assert(sizeof(TEXT(R2017b)) == sizeof(\"includers_own\"), \"macro lost\");\n";
    std::vector<std::string> args{"-fsyntax-only", "-Wall", "-Werror", "-I", std::string(ORB_SOURCE_DIR) + "/sdk/include"};
    for (const std::string& d : defines) args.push_back("-D" + d);
    args.push_back(source.string());
    return orbtest::runChild(compiler, args);
}

TEST(InterfaceSelection, FollowsTheBuildMacros) {
    struct Case {
        std::vector<std::string> defines;
        int version;
        bool compiles;
    } cases[] = {
        {{}, 800, true},
        {{"VELTRA_ORBCMD_RELEASE=R2018a"}, 800, true},
        {{"VELTRA_ORBCMD_RELEASE=R2017b"}, 730, true},
        {{"RY_COMPAT_32"}, 700, true},
        {{"RY_COMPAT_32", "VELTRA_ORBCMD_RELEASE=R2018a"}, 700, true},
        {{"VELTRA_ORBCMD_RELEASE=R2019a"}, 800, false},
        {{"VELTRA_ORBCMD_RELEASE="}, 800, false},
    };
    for (const Case& c : cases) {
        const orbtest::ChildResult r = compileWith(c.defines, c.version);
        EXPECT_EQ(r.exitCode == 0, c.compiles) << ::testing::PrintToString(c.defines) << "\n" << r.err;
    }
}

}  // namespace
