// Classification of single symbol names: entry points, the version function, and the interface
// generation and accessor kinds of imports, including where a name token may start and end.
#include <gtest/gtest.h>

#include <algorithm>
#include <locale>
#include <string>
#include <string_view>
#include <vector>

#include "orbfile/api_detector.hpp"

namespace {

using orbfile::ApiDetector;
using orbfile::Version;

constexpr unsigned FR = ApiDetector::FLAG_FR, GD = ApiDetector::FLAG_GD, AI = ApiDetector::FLAG_AI;
constexpr unsigned AR = ApiDetector::FLAG_AR, AU = ApiDetector::FLAG_AU, DV = ApiDetector::FLAG_DV;
constexpr unsigned EP = ApiDetector::FLAG_EP, VF = ApiDetector::FLAG_VF, CP = ApiDetector::FLAG_CP;
constexpr unsigned NN = ApiDetector::FLAG_NN;

// The names laid out one after another, each ended by a NUL, as a symbol table holds them, and
// scanned in one pass: every name classify_defined finds something in must be kept.
void expectBlockScanKeeps(const std::vector<std::string>& names) {
    std::string block;
    for (const std::string& name : names) block += name + '\0';
    std::vector<std::string_view> views;
    for (std::size_t at = 0; const std::string& name : names) {
        views.emplace_back(block.data() + at, name.size());
        at += name.size() + 1;
    }
    const orbfile::SymbolClassifier classifier;
    const std::vector<std::size_t> kept = classifier.namesWorthClassifying(block, views);
    for (std::size_t i = 0; i < views.size(); ++i) {
        unsigned flags = 0;
        classifier.classify_defined(views[i], flags);
        if (flags != NN) {
            EXPECT_NE(std::find(kept.begin(), kept.end(), i), kept.end()) << "'" << views[i] << "'";
        }
    }
}

TEST(ApiDetector, DefinedSymbols) {
    struct Case {
        const char* symbol;
        unsigned flags;
    };
    const Case cases[] = {
        // The C entry point and its Fortran spellings.
        {"orbFunction", EP},
        {"orbfunction", EP | FR},
        {"ORBFUNCTION", EP | FR},
        {"orbfunction_", EP | FR},
        {"_orbFunction", EP},
        {"ns::orbFunction", EP},
        {"orbFunction800", EP},
        // A token only counts between boundaries.
        {"xorbFunction", NN},
        {"orbFunctionX", NN},
        {"orbFunction800_", EP},
        {"orbFunction800__", NN},
        // A failed occurrence is stepped over; a later one may still match.
        {"xorbfunction_orbfunction", EP | FR},
        // The version function, in every case, wins over an entry-point token in the same name.
        {"orbfilerequiredapiversion", VF},
        {"orbfilerequiredapiversion_", VF},
        {"orbfilerequiredapiversion_orbfunction", VF},
        // C++ entry points match with their case only.
        {"orbCreateOrbFunction", CP},
        {"orbFunctionAdapter", CP},
        {"orbcreateorbfunction", NN},
        {"ORBFUNCTIONADAPTER", NN},
        // Nothing of interest.
        {"", NN},
        {"orbfunctions", NN},
    };
    for (const Case& c : cases) {
        unsigned flags = 0xDEAD;
        ApiDetector::get_def_api(c.symbol, flags);
        EXPECT_EQ(flags, c.flags) << "'" << c.symbol << "'";
    }
    // Scanned as the names of one symbol table, a name is passed over only when it is of no
    // interest.
    std::vector<std::string> names;
    for (const Case& c : cases) names.push_back(c.symbol);
    expectBlockScanKeeps(names);
}

TEST(ApiDetector, UndefinedSymbols) {
    struct Case {
        const char* symbol;
        Version::APITAG tag;
        unsigned flags;
    };
    const Case cases[] = {
        // Suffixes name the generation.
        {"rySetPr_800", Version::R2018a, AR},
        {"ryGetPi_730", Version::R2017b, AI},
        {"ryGetDimensions_700", Version::COMPAT_32, GD},
        {"ryGetDimensions_730", Version::R2017b, 0},
        {"ryGetDimensions", Version::NONE, GD},
        {"ryGetData", Version::NONE, AU},
        {"rySetData_730", Version::R2017b, AU},
        {"rygetpr800", Version::R2018a, AR},
        // Imaginary-part accessors are only flagged below the interleaved generation.
        {"ryGetImagData_800", Version::R2018a, 0},
        {"ryGetImagData_700", Version::COMPAT_32, AI},
        {"rySetPi", Version::NONE, AI},
        {"ryCopyComplex16ToPtr_730", Version::R2017b, AI},
        // The suffix must close the name, with at most one '_' after it; the accessor token is
        // still found, because '_' ends it.
        {"ryGetPr_700x", Version::NONE, AR},
        {"ryFoo800__", Version::NONE, 0},
        // Services of the runtime count as interface symbols too.
        {"orbPrintf", Version::NONE, 0},
        {"orbPrintf_800", Version::R2018a, 0},
        {"vltSomething_730", Version::R2017b, 0},
        {"_ryGetPr", Version::NONE, AR},
        // A token inside a longer word is not the accessor.
        {"ryGetPrx", Version::NONE, 0},
        {"ryGetDoubles_800", Version::R2018a, 0},
        // The namespaced interface: flagged wherever the marker stands.
        {"_ZN12ry_array_api10getDoublesEPK7ryArray", Version::NONE, DV},
        {"ry_array_api::getPr_730", Version::R2017b, DV},
        // Upper case: not flagged, though the lower-cased name still counts as an interface name.
        {"_ZN12RY_ARRAY_API3fooEv", Version::NONE, 0},
        // Not an interface symbol: NN, whatever else the name holds.
        {"", Version::NONE, NN},
        {"memcpy_800", Version::NONE, NN},
        {"xryGetPr_700", Version::NONE, NN},
    };
    for (const Case& c : cases) {
        unsigned flags = 0xDEAD;
        const Version::APITAG tag = ApiDetector::get_undef_api(c.symbol, flags);
        EXPECT_EQ(tag, c.tag) << "'" << c.symbol << "'";
        EXPECT_EQ(flags, c.flags) << "'" << c.symbol << "'";
    }
}

TEST(ApiDetector, NamesWithBytesOutsideAsciiAreClassifiedWithoutFailing) {
    unsigned flags = 0;
    ApiDetector::get_def_api("\xff\xfeorbFunction", flags);
    EXPECT_EQ(flags, NN);
    EXPECT_EQ(ApiDetector::get_undef_api(std::string("ryGetPr\0_800", 12), flags), Version::R2018a);
    EXPECT_EQ(flags, 0u);  // the embedded NUL ends the accessor token's occurrence without a boundary
}

TEST(ApiDetector, TokensAreFoundAtEveryOffsetOfALongName) {
    // Long names are searched a block of bytes at a time; a token may start anywhere in a block,
    // or straddle two, the last block overlaps the one before, and a near miss must not end the
    // search early.
    std::vector<std::string> names;
    for (std::size_t offset = 0; offset < 48; ++offset) {
        for (const char* token : {"ORBFUNCTION", "orbFunctionAdapter", "orFunction"}) {
            names.push_back(std::string(offset, 'x') + "_ob_or_" + token);
            names.push_back(std::string(offset, 'x') + "::" + token);
        }
        const std::string padding = std::string(offset, 'x') + "_ob_or_";
        unsigned flags = 0;
        ApiDetector::get_def_api(padding + "ORBFUNCTION", flags);
        EXPECT_EQ(flags, EP) << offset << ": mixed case with the padding, so not Fortran";
        ApiDetector::get_def_api(std::string(offset, 'X') + "_OB_OR_ORBFUNCTION", flags);
        EXPECT_EQ(flags, EP | FR) << offset;
        ApiDetector::get_def_api(padding + "orbFunction", flags);
        EXPECT_EQ(flags, EP) << offset;
        ApiDetector::get_def_api(padding + "orbFunctionAdapter", flags);
        EXPECT_EQ(flags, CP) << offset;
        ApiDetector::get_def_api(padding + "orFunction", flags);
        EXPECT_EQ(flags, NN) << offset;
    }
    expectBlockScanKeeps(names);
}

TEST(ApiDetector, NamesLongerThanTheStackCopyAreClassifiedAlike) {
    // Past 256 bytes the lower-cased copy moves to the heap; tokens at its far end still count.
    const std::string padding(300, 'q');
    unsigned flags = 0;
    ApiDetector::get_def_api(std::string(300, 'Q') + "_ORBFUNCTION", flags);
    EXPECT_EQ(flags, EP | FR);
    ApiDetector::get_def_api("ns" + padding + "::orbFunction", flags);
    EXPECT_EQ(flags, EP);
    EXPECT_EQ(ApiDetector::get_undef_api("ry" + padding + "_ryGetPi_730", flags), Version::R2017b);
    EXPECT_EQ(flags, AI);
    EXPECT_EQ(ApiDetector::get_undef_api(padding + "_ryGetPi_730", flags), Version::NONE);
    EXPECT_EQ(flags, NN);
}

// A ctype that lower-cases '#' to 'o' as well, to tell which locale a classification used.
class HashAsO : public std::ctype<char> {
protected:
    char do_tolower(char c) const override { return c == '#' ? 'o' : std::ctype<char>::do_tolower(c); }
    const char* do_tolower(char* begin, const char* end) const override {
        for (char* c = begin; c != end; ++c) *c = do_tolower(*c);
        return end;
    }
};

TEST(ApiDetector, LowerCasingFollowsTheGlobalLocaleAsItChanges) {
    const std::locale before = std::locale::global(std::locale::classic());
    unsigned flags = 0;
    ApiDetector::get_def_api("#rbFunction", flags);
    EXPECT_EQ(flags, NN);
    std::locale::global(std::locale(std::locale::classic(), new HashAsO));
    ApiDetector::get_def_api("#rbFunction", flags);
    EXPECT_EQ(flags, EP);
    ApiDetector::get_def_api(std::string(40, 'x') + "_#rbFunction", flags);
    EXPECT_EQ(flags, EP);
    EXPECT_EQ(ApiDetector::get_undef_api("_#rb_rygetpr_800", flags), Version::R2018a);
    EXPECT_EQ(flags, AR);
    std::locale::global(std::locale::classic());
    ApiDetector::get_def_api("#rbFunction", flags);
    EXPECT_EQ(flags, NN);
    std::locale::global(before);
}

}  // namespace
