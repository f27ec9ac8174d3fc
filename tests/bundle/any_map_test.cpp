// Manifest values: exact-type casts, case-insensitive maps and dotted keys.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/bundle.hpp"

namespace {

using host::Any;
using host::AnyMap;
using host::any_cast;

AnyMap nested() {
    AnyMap orb;
    orb.insert("release", std::string("R2024b"));
    orb.insert("apiVersion", 800);
    AnyMap kv;
    kv.insert("orb", orb);
    kv.insert("flat", 1.5);
    AnyMap root;
    root.insert("kv", kv);
    root.insert("bundle.symbolic_name", std::string("name-with-dot"));
    root.insert("list", std::vector<Any>{Any(1), Any("two")});
    return root;
}

TEST(AnyCast, NeedsTheExactTypeAndNamesBothTypesWhenItFails) {
    const Any number = 800;
    EXPECT_EQ(any_cast<int>(number), 800);
    // No conversions: not to a wider, unsigned or floating type, nor from text.
    EXPECT_THROW(any_cast<long>(number), host::BadAnyCastException);
    EXPECT_THROW(any_cast<double>(number), host::BadAnyCastException);
    EXPECT_THROW(any_cast<int>(Any("800")), host::BadAnyCastException);

    try {
        any_cast<std::string>(number);
        FAIL() << "no exception";
    } catch (const std::bad_cast& e) {  // catchable as the standard's failed-cast type too
        const std::string what = e.what();
        EXPECT_NE(what.find("any_cast"), std::string::npos) << what;
        EXPECT_NE(what.find("int"), std::string::npos) << what;
        EXPECT_NE(what.find("string"), std::string::npos) << what;
    }
}

TEST(AnyCast, CStringsAreHeldAsTextAndEmptyValuesCastToNothing) {
    const Any text = "R2024b";
    EXPECT_EQ(text.Type(), typeid(std::string));
    EXPECT_EQ(any_cast<std::string>(text), "R2024b");

    const Any empty;
    EXPECT_TRUE(empty.Empty());
    EXPECT_THROW(any_cast<int>(empty), host::BadAnyCastException);
    EXPECT_EQ(any_cast<int>(&empty), nullptr);
    EXPECT_EQ(any_cast<int>(static_cast<const Any*>(nullptr)), nullptr);
}

TEST(AnyMap, KeysIgnoreCaseForLookupAndForInsertion) {
    AnyMap map;
    EXPECT_TRUE(map.insert("ApiVersion", 800));
    EXPECT_FALSE(map.insert("APIVERSION", 700));  // the same key: the first value stays
    EXPECT_EQ(map.size(), 1u);
    for (const char* spelling : {"apiversion", "APIVERSION", "ApiVersion", "aPiVeRsIoN"}) {
        EXPECT_EQ(any_cast<int>(map.at(spelling)), 800) << spelling;
        EXPECT_EQ(map.count(spelling), 1u) << spelling;
    }
    EXPECT_THROW(map.at("apiVersio"), std::out_of_range);
}

TEST(AnyMap, CompoundKeysDescendOneMapPerDot) {
    const AnyMap root = nested();
    struct Case {
        const char* key;
        const char* expected;  // null: std::out_of_range
    };
    const Case cases[] = {
        {"kv.orb.release", "R2024b"},
        {"KV.Orb.RELEASE", "R2024b"},
        {"kv.orb.missing", nullptr},
        {"missing", nullptr},
        {"kv.flat.deeper", nullptr},      // 1.5 is not a map
        {"list.0", nullptr},              // lists are not descended
        {"kv.orb.", nullptr},
        {"", nullptr},
        // A key with a literal dot is not reachable by descent; at() finds it.
        {"bundle.symbolic_name", nullptr},
    };
    for (const auto& c : cases) {
        if (c.expected) {
            EXPECT_EQ(any_cast<std::string>(root.AtCompoundKey(c.key)), c.expected) << c.key;
        } else {
            EXPECT_THROW(root.AtCompoundKey(c.key), std::out_of_range) << c.key;
        }
    }
    EXPECT_EQ(any_cast<int>(root.AtCompoundKey("kv.orb.apiVersion")), 800);
    EXPECT_EQ(any_cast<std::string>(root.at("bundle.symbolic_name")), "name-with-dot");
    EXPECT_EQ(any_cast<AnyMap>(root.AtCompoundKey("kv.orb")).size(), 2u);
}

}  // namespace
