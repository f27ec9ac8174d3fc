// Every identifier the library declares has a catalogue text taking exactly its arguments, and the
// catalogue holds nothing the library does not declare.
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "capi/message_ids.hpp"
#include "host/i18n.hpp"

namespace {

struct Declared {
    std::string identifier;
    int argumentCount;
};

std::vector<Declared> declaredIdentifiers() {
    std::vector<Declared> ids;
#define ORB_COLLECT2(a, b, m, n) ids.push_back({orb::capi::messageIdentifier<a::b::m>(), n});
#define ORB_COLLECT3(a, b, c, m, n) ids.push_back({orb::capi::messageIdentifier<a::b::c::m>(), n});
    ORB_MESSAGE_IDS(ORB_COLLECT2, ORB_COLLECT3)
#undef ORB_COLLECT2
#undef ORB_COLLECT3
    return ids;
}

nlohmann::json catalogueFile() {
    std::ifstream in(ORB_SOURCE_DIR "/resources/messages/orb.json");
    return nlohmann::json::parse(in);
}

TEST(MessageCatalogue, EveryDeclaredIdentifierHasATextWithItsPlaceholders) {
    const nlohmann::json file = catalogueFile();
    const std::regex placeholder(R"(\{(\d+)\})");
    for (const Declared& id : declaredIdentifiers()) {
        SCOPED_TRACE(id.identifier);
        ASSERT_TRUE(file.contains(id.identifier));
        EXPECT_TRUE(host::i18n::has_message(id.identifier));  // and the staged catalogue has it too
        const std::string text = file[id.identifier];
        std::set<int> used;
        for (std::sregex_iterator it(text.begin(), text.end(), placeholder), end; it != end; ++it) {
            used.insert(std::stoi((*it)[1]));
        }
        std::set<int> expected;
        for (int i = 0; i < id.argumentCount; ++i) expected.insert(i);
        EXPECT_EQ(used, expected);
    }
}

TEST(MessageCatalogue, HoldsOnlyDeclaredIdentifiers) {
    std::set<std::string> declared;
    for (const Declared& id : declaredIdentifiers()) declared.insert(id.identifier);
    const nlohmann::json file = catalogueFile();
    for (const auto& entry : file.items()) {
        EXPECT_TRUE(declared.count(entry.key())) << entry.key();
    }
}

}  // namespace
