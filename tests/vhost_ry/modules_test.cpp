// Real modules built once per interface generation from one source that uses the plain names of
// ry.h: what they import, and arrays passed between generations.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <ry.h>

#include "support/run_child.hpp"

namespace {

namespace fs = std::filesystem;

fs::path modulePath(const std::string& build) { return fs::path(ORB_TEST_MODULE_DIR) / ("vhost_ry_probe_" + build + ".orbw64"); }

std::set<std::string> undefinedSymbols(const fs::path& file) {
    const orbtest::ChildResult nm = orbtest::runChild("/usr/bin/nm", {"-D", "--undefined-only", file.string()});
    EXPECT_EQ(nm.exitCode, 0) << nm.err;
    std::set<std::string> names;
    std::istringstream lines(nm.out);
    std::string kind, name;
    while (lines >> kind >> name) names.insert(name.substr(0, name.find('@')));
    return names;
}

struct ImportCase {
    const char* build;
    std::vector<std::string> present;
    const char* forbiddenSuffix1;
    const char* forbiddenSuffix2;
};

class ProbeImports : public ::testing::TestWithParam<ImportCase> {};

TEST_P(ProbeImports, NameTheGenerationTheModuleWasBuiltFor) {
    const ImportCase& c = GetParam();
    const std::set<std::string> imports = undefinedSymbols(modulePath(c.build));
    for (const std::string& name : c.present) EXPECT_TRUE(imports.count(name)) << c.build << " lacks " << name;
    for (const std::string& name : imports) {
        if (name.rfind("ry", 0) != 0) continue;
        for (const char* suffix : {c.forbiddenSuffix1, c.forbiddenSuffix2}) {
            const std::string s = suffix;
            EXPECT_FALSE(name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0)
                << c.build << " imports " << name;
        }
    }
    // Functions that are the same in every generation keep their plain names.
    for (const char* plain : {"ryGetNumberOfElements", "ryIsComplex", "ryCreateString", "ryCreateStructMatrix", "ryMalloc"})
        EXPECT_TRUE(imports.count(plain)) << c.build << " lacks " << plain;
}

const std::vector<std::string> kSeparate730{"ryCreateDoubleMatrix_730", "ryGetPr_730", "ryGetPi_730",
                                            "ryGetDimensions_730", "ryGetNumberOfDimensions_730",
                                            "ryCreateNumericArray_730"};
const std::vector<std::string> kInterleaved800{"ryCreateDoubleMatrix_800", "ryGetComplexDoubles_800",
                                               "ryGetDimensions_800", "ryGetNumberOfDimensions_800",
                                               "ryCreateNumericArray_800"};

INSTANTIATE_TEST_SUITE_P(
    Generations, ProbeImports,
    ::testing::Values(ImportCase{"700",
                                 {"ryCreateDoubleMatrix_700", "ryGetPr_700", "ryGetPi_700", "ryGetDimensions_700",
                                  "ryGetNumberOfDimensions_700", "ryCreateNumericArray_700"},
                                 "_730", "_800"},
                      ImportCase{"730", kSeparate730, "_700", "_800"},
                      ImportCase{"800", kInterleaved800, "_700", "_730"},
                      ImportCase{"default", kInterleaved800, "_700", "_730"}),
    [](const auto& info) { return std::string("build_") + info.param.build; });

// One loaded build of the probe.
class Probe {
public:
    explicit Probe(const std::string& build) : m_build(build) {
        m_handle = dlopen(modulePath(build).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!m_handle) ADD_FAILURE() << dlerror();
    }
    ~Probe() {
        if (m_handle) dlclose(m_handle);
    }
    template <class F>
    F* fn(const char* name) const {
        void* symbol = m_handle ? dlsym(m_handle, name) : nullptr;
        if (!symbol) throw std::runtime_error(m_build + " has no " + name);
        return reinterpret_cast<F*>(symbol);
    }
    int interface() const { return fn<int()>("probeInterface")(); }
    ryArray* makeComplex(const std::vector<double>& re, const std::vector<double>& im) const {
        return fn<ryArray*(const double*, const double*, size_t)>("probeMakeComplex")(re.data(), im.data(), re.size());
    }
    std::pair<std::vector<double>, std::vector<double>> readComplex(const ryArray* a) const {
        std::vector<double> re(ryGetNumberOfElements(a)), im(re.size());
        const long n = fn<long(const ryArray*, double*, double*)>("probeReadComplex")(a, re.data(), im.data());
        EXPECT_EQ(n, static_cast<long>(re.size())) << m_build;
        return {re, im};
    }
    void scaleImag(ryArray* a, double factor) const { fn<void(ryArray*, double)>("probeScaleImag")(a, factor); }

private:
    std::string m_build;
    void* m_handle = nullptr;
};

TEST(Probes, ReportTheGenerationTheirMacrosSelected) {
    EXPECT_EQ(Probe("700").interface(), 700);
    EXPECT_EQ(Probe("730").interface(), 730);
    EXPECT_EQ(Probe("800").interface(), 800);
    EXPECT_EQ(Probe("default").interface(), 800);
}

class CrossGeneration : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

// One build makes a complex array and scales its imaginary part; another reads it.
TEST_P(CrossGeneration, ComplexValuesSurviveTheOtherLayout) {
    const Probe writer(GetParam().first);
    const Probe reader(GetParam().second);
    ryArray* a = writer.makeComplex({1, 2, 3}, {-1, 0.5, 8});
    reader.scaleImag(a, 2);
    writer.scaleImag(a, 10);
    const auto [re, im] = reader.readComplex(a);
    EXPECT_EQ(re, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(im, (std::vector<double>{-20, 10, 160}));
    const auto [re2, im2] = writer.readComplex(a);
    EXPECT_EQ(im2, im);
    ryDestroyArray(a);
}

INSTANTIATE_TEST_SUITE_P(Pairs, CrossGeneration,
                         ::testing::Values(std::pair{"730", "800"}, std::pair{"800", "730"}, std::pair{"700", "800"},
                                           std::pair{"800", "700"}, std::pair{"700", "730"}),
                         [](const auto& info) {
                             return std::string("from_") + info.param.first + "_to_" + info.param.second;
                         });

TEST(Probes, DimensionsReadTheSameThroughBothDimensionTypes) {
    for (const char* build : {"700", "730", "800"}) {
        const Probe probe(build);
        ryArray* block = probe.fn<ryArray*()>("probeMakeBlock")();
        for (const char* reader : {"700", "730"}) {
            std::size_t dims[4] = {};
            const std::size_t n = Probe(reader).fn<size_t(const ryArray*, size_t*, size_t)>("probeDimensions")(block, dims, 4);
            EXPECT_EQ(n, 3u) << build << " read by " << reader;
            EXPECT_EQ(std::vector<std::size_t>(dims, dims + 3), (std::vector<std::size_t>{2, 3, 4}));
        }
        EXPECT_EQ(ryGetClassID(block), ryINT16_CLASS);
        ryDestroyArray(block);
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
