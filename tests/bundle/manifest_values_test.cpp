// Manifest text to values: which JSON value becomes which type, and which texts are refused.
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "vhost/bundle/manifest_values.hpp"

namespace {

using host::Any;
using host::AnyMap;
using host::any_cast;
using vhost::bundle::parseManifest;

const Any& valueOf(const AnyMap& map) { return map.at("v"); }

TEST(ManifestValues, EachJsonValueBecomesItsType) {
    struct Case {
        const char* json;
        const std::type_info& type;
    };
    const Case cases[] = {
        {"800", typeid(int)},
        {"-1", typeid(int)},
        {"2147483647", typeid(int)},    // the largest int
        {"-2147483648", typeid(int)},   // the smallest int
        {"2147483648", typeid(double)},  // one past: fits 32 unsigned bits but not an int
        {"18446744073709551615", typeid(double)},
        {"800.0", typeid(double)},  // written as a fraction: not an integer
        {"8e2", typeid(double)},
        {"true", typeid(bool)},
        {"\"800\"", typeid(std::string)},
        {"[1, \"a\"]", typeid(std::vector<Any>)},
        {"{}", typeid(AnyMap)},
        {"null", typeid(void)},
    };
    for (const auto& c : cases) {
        const AnyMap map = parseManifest(std::string("{\"v\": ") + c.json + "}");
        EXPECT_EQ(valueOf(map).Type(), c.type) << c.json;
    }
}

TEST(ManifestValues, ValuesSurviveTheConversion) {
    const AnyMap map = parseManifest(R"({
        "bundle.symbolic_name": "x",
        "kv": {"orb": {"release": "R2024b", "apiVersion": 800, "threadpoolSafe": 1}},
        "big": 2147483648, "neg": -2147483648, "ratio": 0.25, "flag": true,
        "list": [1, "two", [3], {"Four": 4}], "text": "caf\u00e9 \"q\""
    })");
    EXPECT_EQ(any_cast<std::string>(map.AtCompoundKey("kv.orb.release")), "R2024b");
    EXPECT_EQ(any_cast<int>(map.AtCompoundKey("kv.orb.apiVersion")), 800);
    EXPECT_EQ(any_cast<int>(map.AtCompoundKey("kv.orb.threadpoolSafe")), 1);
    EXPECT_EQ(any_cast<double>(map.at("big")), 2147483648.0);
    EXPECT_EQ(any_cast<int>(map.at("neg")), -2147483647 - 1);
    EXPECT_EQ(any_cast<double>(map.at("ratio")), 0.25);
    EXPECT_TRUE(any_cast<bool>(map.at("flag")));
    EXPECT_EQ(any_cast<std::string>(map.at("text")), "caf\xc3\xa9 \"q\"");

    const auto& list = any_cast<std::vector<Any>>(map.at("list"));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(any_cast<int>(list[0]), 1);
    EXPECT_EQ(any_cast<std::string>(list[1]), "two");
    EXPECT_EQ(any_cast<int>(any_cast<std::vector<Any>>(list[2]).at(0)), 3);
    EXPECT_EQ(any_cast<int>(any_cast<AnyMap>(list[3]).at("four")), 4);  // nested maps ignore case too
}

TEST(ManifestValues, TextsThatAreNotAStrictJsonObjectAreRefused) {
    const char* refused[] = {
        "",
        "[1, 2]",                      // an array, not an object
        "42",
        "{\"a\": 1,}",                 // trailing comma
        "{\"a\": 1} // comment",       // comments are not JSON
        "{'a': 1}",                    // single quotes
        "{\"a\": 1} {\"b\": 2}",       // two documents
        "{\"a\": 1",                   // truncated
        "{\"a\": 01}",                 // leading zero
        "{\"a\": \"\xff\"}",           // not UTF-8
        "{\"Key\": 1, \"key\": 2}",    // keys the map could not tell apart
    };
    for (const char* text : refused) {
        EXPECT_THROW(parseManifest(text), std::runtime_error) << text;
    }
}

TEST(ManifestValues, NestingIsBoundedSoDeepDocumentsCannotExhaustTheStack) {
    const auto nestedArrays = [](std::size_t depth) {
        return "{\"v\": " + std::string(depth, '[') + std::string(depth, ']') + "}";
    };
    // The object itself is one level.
    EXPECT_NO_THROW(parseManifest(nestedArrays(vhost::bundle::kManifestMaxDepth - 1)));
    EXPECT_THROW(parseManifest(nestedArrays(vhost::bundle::kManifestMaxDepth)), std::runtime_error);
    // Far deeper than any stack would take if each level recursed.
    EXPECT_THROW(parseManifest(nestedArrays(1'000'000)), std::runtime_error);
}

}  // namespace
