// The version value: text forms of releases and interfaces, the three ways of setting a version,
// every query on valid, invalid and zero versions, and copying.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "orbfile/version.hpp"

namespace {

using orbfile::Version;

std::string narrow(const char16_t* text) { return text == nullptr ? "(null)" : host::i18n::to_string(text); }
std::string narrow(const std::u16string& text) { return host::i18n::to_string(text); }

constexpr unsigned kApi700 = 0x07000000;
constexpr unsigned kApi730 = 0x07300000;
constexpr unsigned kApi800 = 0x08000000;

// What a version shows from the outside; the numbers are read even when the value is invalid.
// `releaseValid` is only observable for a non-zero release (through get_buildrel_string).
struct Seen {
    std::string text;
    unsigned relnum;
    unsigned apinum;
    bool valid;
    bool releaseValid;
};

Seen seen(const Version& v) {
    Seen s{};
    s.text = narrow(v.get_version());
    s.valid = v.get_version(s.relnum, s.apinum);
    std::u16string buildrel;
    s.releaseValid = v.get_buildrel_string(buildrel);
    return s;
}

void expectSeen(const Version& v, const Seen& want, const std::string& label) {
    const Seen got = seen(v);
    EXPECT_EQ(got.text, want.text) << label;
    EXPECT_EQ(got.relnum, want.relnum) << label;
    EXPECT_EQ(got.apinum, want.apinum) << label;
    EXPECT_EQ(got.valid, want.valid) << label;
    EXPECT_EQ(got.valid, v.is_valid()) << label;
    EXPECT_EQ(got.releaseValid, want.releaseValid) << label;
}

// --- text forms ----------------------------------------------------------------------------------

TEST(VersionTextForms, ReleaseAndInterfaceTextsAppendAndJudge) {
    struct Case {
        bool (*form)(unsigned, std::u16string&);
        unsigned number;
        const char* text;
        bool good;
    };
    const auto release = &Version::relnum2relstr;
    const auto api = &Version::apinum2apistr;
    const Case cases[] = {
        {release, 0, "0", true},                    // no release is not a bad release
        {release, 0x2024B, "R2024b", true},
        {release, 0x2016B, "R2016b", true},         // the oldest good release
        {release, 0x2016A, "R2016a", false},        // one release older
        {release, 0x2024C, "R2024c", false},        // not a release letter
        {release, 0x3000A, "R3000a", true},         // newer releases are good too
        {release, 0xFFFFFFFA, "Rfffffffa", true},   // the widest number still fits the buffer
        {release, 0xB, "Rb", false},
        {api, 0, "0", true},
        {api, kApi700, "0x7000000", true},
        {api, kApi730, "0x7300000", true},
        {api, kApi800, "0x8000000", true},
        {api, 0x08000001, "0x8000001", false},  // well formed, not a generation
        {api, 0x07100000, "0x7100000", false},
        {api, 0xFFFFFFFF, "0xffffffff", false},
    };
    for (const auto& c : cases) {
        std::u16string out = u"prefix:";
        EXPECT_EQ(c.form(c.number, out), c.good) << std::hex << c.number;
        EXPECT_EQ(narrow(out), std::string("prefix:") + c.text) << std::hex << c.number;
    }
}

// --- setting ---------------------------------------------------------------------------------------

TEST(VersionSet, DefaultIsValidZeroLegacy) {
    const Version v;
    expectSeen(v, {"0 0", 0, 0, true, false}, "default");
    EXPECT_EQ(narrow(v.getVersioningStrategy()), "1.0");
    EXPECT_EQ(std::u16string(v.get_version()), Version::nullver);
}

TEST(VersionSet, FromNumbers) {
    struct Case {
        unsigned relnum;
        unsigned apinum;
        Seen want;
    };
    const Case cases[] = {
        {0, 0, {"0 0", 0, 0, true, false}},
        {0x2024B, kApi800, {"R2024b 0x8000000", 0x2024B, kApi800, true, true}},
        {0x2016B, kApi700, {"R2016b 0x7000000", 0x2016B, kApi700, true, true}},
        {0x2015B, kApi730, {"R2015b 0x7300000", 0x2015B, kApi730, false, false}},
        {0x2024C, kApi800, {"R2024c 0x8000000", 0x2024C, kApi800, false, false}},
        {0, kApi800, {"0 0x8000000", 0, kApi800, true, false}},      // no release, known interface
        {0x2024B, 0, {"R2024b 0", 0x2024B, 0, true, true}},           // default interface
        {0x2024B, 0x08000001, {"R2024b 0x8000001", 0x2024B, 0x08000001, false, true}},
        {0, 0x09000000, {"0 0x9000000", 0, 0x09000000, false, false}},
        {0xFFFFFFFF, 0xFFFFFFFF, {"Rffffffff 0xffffffff", 0xFFFFFFFF, 0xFFFFFFFF, false, false}},
    };
    for (const auto& c : cases) {
        // Through the constructor, and through set() on a value that held something else.
        const Version constructed(c.relnum, c.apinum);
        expectSeen(constructed, c.want, "Version(" + c.want.text + ")");
        EXPECT_EQ(narrow(constructed.getVersioningStrategy()), "1.0");

        Version reset(0x2015A, 0x1234);
        EXPECT_EQ(reset.set(c.relnum, c.apinum, u"2.0"), c.want.valid) << c.want.text;
        expectSeen(reset, c.want, "set(" + c.want.text + ")");
        EXPECT_EQ(narrow(reset.getVersioningStrategy()), "2.0") << c.want.text;
    }
}

TEST(VersionSet, FromText) {
    struct Case {
        std::string text;
        Seen want;
        const char* strategyAfter;  // starting from strategy "2.0"
    };
    const Case cases[] = {
        {"", {"0 0", 0, 0, true, false}, "1.0"},
        {"R2024b 0x8000000", {"R2024b 0x8000000", 0x2024B, kApi800, true, true}, "1.0"},
        {"R2024B 0x8000000", {"R2024B 0x8000000", 0x2024B, kApi800, true, true}, "1.0"},
        {"R2015b 0x7300000", {"R2015b 0x7300000", 0x2015B, kApi730, false, false}, "1.0"},
        {"R2024b 0x9000000", {"R2024b 0x9000000", 0x2024B, 0x09000000, false, true}, "1.0"},
        {"R2024b   0x8000000", {"R2024b   0x8000000", 0x2024B, kApi800, true, true}, "1.0"},
        {"R2024b 0x8000000 trailing", {"R2024b 0x8000000 trailing", 0x2024B, kApi800, true, true}, "1.0"},
        // Only the release scans: the interface is not known, the strategy is left alone.
        {"R2024b", {"R2024b", 0x2024B, 0, false, true}, "2.0"},
        {"R2024b 8000000", {"R2024b 8000000", 0x2024B, 0, false, true}, "2.0"},
        {"R2024c", {"R2024c", 0x2024C, 0, false, false}, "2.0"},
        // Nothing scans.
        {"garbage", {"garbage", 0, 0, false, false}, "2.0"},
        {"2024b 0x8000000", {"2024b 0x8000000", 0, 0, false, false}, "2.0"},
        {"R", {"R", 0, 0, false, false}, "2.0"},
    };
    for (const auto& c : cases) {
        Version v;
        v.set(0x2020A, kApi730, u"2.0");
        EXPECT_EQ(v.set(c.text), c.want.valid) << '"' << c.text << '"';
        expectSeen(v, c.want, "set(\"" + c.text + "\")");
        EXPECT_EQ(narrow(v.getVersioningStrategy()), c.strategyAfter) << '"' << c.text << '"';
    }
}

TEST(VersionSet, FromTextKeepsNonAsciiTextAndRefusesBrokenText) {
    Version v;
    EXPECT_FALSE(v.set("Räleäse"));
    EXPECT_EQ(std::u16string(v.get_version()), u"Räleäse");

    // A text the host cannot convert is an error, and the value is left as it was.
    Version kept(0x2024B, kApi800);
    EXPECT_THROW(kept.set(std::string("R2018a 0x8000000 \xff")), host::UserException);
    expectSeen(kept, {"R2024b 0x8000000", 0x2024B, kApi800, true, true}, "after a refused text");
}

TEST(VersionSet, FromReleaseName) {
    struct Case {
        std::string release;
        unsigned setting;
        Seen want;
    };
    const Case cases[] = {
        {"R2024b", 800, {"R2024b 0x8000000", 0x2024B, kApi800, true, true}},
        {"R2017b", 730, {"R2017b 0x7300000", 0x2017B, kApi730, true, true}},
        {"R2024b", 750, {"R2024b 0", 0x2024B, 0, true, true}},   // unknown setting: interface 0
        {"R2024b", 0x08000000, {"R2024b 0", 0x2024B, 0, true, true}},  // a number, not a setting
        {"R2015a", 700, {"R2015a 0x7000000", 0x2015A, kApi700, false, false}},
        {"", 800, {"0 0x8000000", 0, kApi800, true, false}},
        {"R", 800, {"0 0x8000000", 0, kApi800, true, false}},
        {"Rzz", 730, {"0 0x7300000", 0, kApi730, true, false}},
        {"x2018a", 800, {"R2018a 0x8000000", 0x2018A, kApi800, true, true}},  // any first character is dropped
    };
    for (const auto& c : cases) {
        const std::string label = c.release + "/" + std::to_string(c.setting);
        Version v(0x2020B, kApi730);
        EXPECT_EQ(v.set(c.release, c.setting, u"2.0"), c.want.valid) << label;
        expectSeen(v, c.want, label);
        EXPECT_EQ(narrow(v.getVersioningStrategy()), "2.0") << label;
    }
}

// --- queries ---------------------------------------------------------------------------------------

TEST(VersionQuery, BuildReleaseString) {
    struct Case {
        Version version;
        bool result;
        const char* out;
    };
    Version releaseOnly;
    releaseOnly.set("R2024b");
    Version scannedNothing;
    scannedNothing.set("junk text");
    const Case cases[] = {
        {Version(), false, ""},
        {Version(0x2024B, kApi800), true, "R2024b"},
        {Version(0x2015B, kApi800), false, ""},
        {Version(0, kApi800), false, ""},
        {releaseOnly, true, "R2024b"},                    // no blank: the whole text
        {scannedNothing, false, ""},
    };
    for (const auto& c : cases) {
        std::u16string out = u"left over";
        EXPECT_EQ(c.version.get_buildrel_string(out), c.result) << narrow(c.version.get_version());
        EXPECT_EQ(narrow(out), c.out) << narrow(c.version.get_version());
    }
}

// The host answers the version questions; a version asks it only when valid with a release.
TEST(VersionQuery, HostQuestionsAreGatedOnAValidRelease) {
    struct Predicate {
        const char* name;
        bool (Version::*query)() const;
        bool (*host)(std::uint32_t);
    };
    const Predicate predicates[] = {
        {"is_api_64bit", &Version::is_api_64bit, &host::is_64bit_version},
        {"is_api_current", &Version::is_api_current, &host::is_current_version},
        {"is_api_interleaved", &Version::is_api_interleaved, &host::is_interleaved_complex_version},
    };
    for (const auto& p : predicates) {
        for (unsigned apinum : {kApi700, kApi730, kApi800}) {
            const std::string label = std::string(p.name) + " " + std::to_string(apinum);
            EXPECT_EQ((Version(0x2024B, apinum).*p.query)(), p.host(apinum)) << label;
            EXPECT_EQ((Version(0x2018A, apinum).*p.query)(), p.host(apinum)) << label;
            EXPECT_FALSE((Version(0, apinum).*p.query)()) << label;           // no release
            EXPECT_FALSE((Version(0x2015B, apinum).*p.query)()) << label;     // bad release
        }
        // The gate matters only if the host says yes somewhere.
        bool anyYes = false;
        for (unsigned apinum : {kApi700, kApi730, kApi800}) anyYes = anyYes || p.host(apinum);
        EXPECT_TRUE(anyYes) << p.name << ": the host answers no for every generation";
    }
}

TEST(VersionQuery, NamesComeFromTheHost) {
    const Version none;
    EXPECT_EQ(none.get_api_name(), nullptr);
    EXPECT_EQ(none.get_release_name(), nullptr);
    EXPECT_EQ(Version(0, kApi800).get_api_name(), nullptr);
    EXPECT_EQ(Version(0x2015B, kApi800).get_api_name(), nullptr);
    EXPECT_EQ(Version(0x2024B, 0x09000000).get_release_name(), nullptr);

    struct Case {
        unsigned relnum;
        unsigned apinum;
        unsigned releaseApi;  // the generation the release name describes
    };
    const Case cases[] = {
        {0x2024B, kApi800, kApi800},
        {0x3000A, kApi730, kApi800},  // newer than this release
        {0x2024A, kApi800, kApi730},  // just older than this release
        {0x2016B, 0, kApi730},
    };
    for (const auto& c : cases) {
        const Version v(c.relnum, c.apinum);
        const std::string label = narrow(v.get_version());
        EXPECT_EQ(narrow(v.get_api_name()), narrow(host::get_version_name(c.apinum))) << label;
        EXPECT_EQ(narrow(v.get_release_name()), narrow(host::get_version_name(c.releaseApi))) << label;
    }
}

TEST(VersionQuery, PureQuestions) {
    Version releaseOnly;
    releaseOnly.set("R2024b");
    struct Case {
        const char* label;
        Version version;
        bool incompatible;
        bool releaseCurrent;
        bool defaultApi;
    };
    const Case cases[] = {
        {"default", Version(), false, false, true},
        {"R2024b 800", Version(0x2024B, kApi800), false, true, false},
        {"R2024b 0", Version(0x2024B, 0), false, true, true},
        {"R2015b 0", Version(0x2015B, 0), false, false, false},
        {"R2024b 0x8000001", Version(0x2024B, 0x08000001), true, true, false},
        {"R2018a 0x9000000", Version(0x2018A, 0x09000000), true, false, false},
        {"R2015b 0x9000000", Version(0x2015B, 0x09000000), false, false, false},  // release not valid
        {"release only", releaseOnly, false, true, false},                        // interface flag false
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.version.is_incompatible_api(), c.incompatible) << c.label;
        EXPECT_EQ(c.version.is_release_current(), c.releaseCurrent) << c.label;
        EXPECT_EQ(c.version.is_default_orbcmd_api(), c.defaultApi) << c.label;
    }
}

TEST(VersionQuery, SameApi) {
    const Version::APITAG tags[] = {Version::NONE, Version::COMPAT_32, Version::R2017b, Version::R2018a};
    struct Case {
        Version version;
        Version::APITAG matching;  // NONE: no tag matches
    };
    const Case cases[] = {
        {Version(0x2018A, kApi800), Version::R2018a},
        {Version(0x2017B, kApi730), Version::R2017b},
        {Version(0x2016B, kApi700), Version::COMPAT_32},
        {Version(0x2024B, 0), Version::NONE},          // NONE itself never matches
        {Version(0, kApi800), Version::NONE},          // no release
        {Version(0x2015B, kApi800), Version::NONE},    // bad release
    };
    for (const auto& c : cases) {
        for (auto tag : tags) {
            EXPECT_EQ(c.version.is_same_api(tag), c.matching != Version::NONE && tag == c.matching)
                << narrow(c.version.get_version()) << " tag " << tag;
        }
    }
}

// --- value semantics -------------------------------------------------------------------------------

TEST(VersionValue, CopyAndMoveCarryEveryField) {
    Version source;
    source.set(0x2018A, 0x09000000, u"2.0");  // release valid, interface not, strategy "2.0"
    const Seen original = seen(source);

    Version copied(source);
    expectSeen(copied, original, "copy");
    EXPECT_EQ(copied.getVersioningStrategy(), u"2.0");
    EXPECT_TRUE(copied.is_incompatible_api());

    copied.set(0, 0, u"1.0");  // an independent value
    expectSeen(source, original, "source after changing the copy");

    Version assigned;
    assigned = source;
    expectSeen(assigned, original, "copy assignment");
    assigned = assigned;
    expectSeen(assigned, original, "self assignment");

    Version moved(std::move(assigned));
    expectSeen(moved, original, "move construction");
    EXPECT_EQ(moved.getVersioningStrategy(), u"2.0");

    Version moveAssigned(0x2024B, kApi800);
    moveAssigned = std::move(moved);
    expectSeen(moveAssigned, original, "move assignment");
    EXPECT_EQ(moveAssigned.getVersioningStrategy(), u"2.0");

    // The text pointer belongs to each value.
    EXPECT_NE(moveAssigned.get_version(), source.get_version());
}

}  // namespace
