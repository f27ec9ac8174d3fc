// The error and warning services, the trap-flag query and the diagnostics feature when the host
// installed its callbacks: the library hands everything over unchanged and does nothing itself.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <orb.h>

#include "capi/callback_table.hpp"
#include "capi/per_engine.hpp"
#include "capi/trap_flag.hpp"
#include "host/services.hpp"
#include "vhost/engine/engine.hpp"
#include "vhost/ry/warnings.hpp"
#include "vhost/ut/output.hpp"

namespace {

struct Call {
    int slot;
    std::string identifier;
    std::string text;
    bool operator==(const Call&) const = default;
};
std::vector<Call> g_calls;
bool g_trapAnswer = false;
int g_trapQueries = 0;

std::string format(const char* format, va_list args) {
    char buffer[256];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    return buffer;
}

OrbCallbackTable hostTable() {
    OrbCallbackTable table{};
    table.errMsgIdAndTxt = [](const char* id, const char* fmt, va_list args) {
        g_calls.push_back({17, id, format(fmt, args)});
    };
    table.errMsgTxt = [](const char* message) { g_calls.push_back({18, "", message}); };
    table.warnMsgIdAndTxt = [](const char* id, const char* fmt, va_list args) {
        g_calls.push_back({19, id, format(fmt, args)});
    };
    table.warnMsgTxt = [](const char* message) { g_calls.push_back({20, "", message}); };
    table.trapFlag = [] {
        ++g_trapQueries;
        return g_trapAnswer;
    };
    return table;
}

class ServicesWithSlots : public testing::Test {
protected:
    static void SetUpTestSuite() {
        static const OrbCallbackTable table = hostTable();
        orbSetCallbacks(&table);
    }
    void SetUp() override { g_calls.clear(); }
};

TEST_F(ServicesWithSlots, ErrorsAndWarningsGoToTheHostUnchecked) {
    vhost::ry::clearWarnings();
    vhost::OutputCapture capture;
    // The host's callbacks here return; the services then return too.
    orbErrMsgIdAndTxt("not an identifier", "%d-%s", 7, "x");
    orbErrMsgTxt("100%");
    orbWarnMsgIdAndTxt("", "%s!", "hey");
    orbWarnMsgTxt("careful %d");
    const std::vector<Call> expected = {
        {17, "not an identifier", "7-x"}, {18, "", "100%"}, {19, "", "hey!"}, {20, "", "careful %d"}};
    EXPECT_EQ(g_calls, expected);
    EXPECT_TRUE(vhost::ry::recordedWarnings().empty());
    EXPECT_EQ(capture.text(), "");
}

TEST_F(ServicesWithSlots, TrapFlagComesFromTheHostOutsideEngineContexts) {
    for (bool answer : {true, false}) {
        g_trapAnswer = answer;
        EXPECT_EQ(orb::capi::chooseTrapFlag(), answer);
    }
    vhost::Engine engine;
    vhost::EngineScope bound(engine);
    int queries = g_trapQueries;
    g_trapAnswer = true;
    EXPECT_FALSE(orb::capi::chooseTrapFlag());
    EXPECT_EQ(g_trapQueries, queries);
}

TEST_F(ServicesWithSlots, DiagnosticsFeatureIsRecordedForTheSettingEngine) {
    using Record = orb::capi::PerEngine<orb::capi::OrbDisableDiagnosticsMsgPerEngine>;
    vhost::Engine engine;
    vhost::EngineScope bound(engine);
    ASSERT_TRUE(host::svSetFeature("ORB_DisableDiagnosticMsg", 2));
    EXPECT_TRUE(Record::mustExist().value);
    ASSERT_TRUE(host::svSetFeature("ORB_DisableDiagnosticMsg", 0));
    EXPECT_FALSE(Record::mustExist().value);
    vhost::Engine other;
    vhost::EngineScope otherBound(other);
    EXPECT_EQ(Record::find(), nullptr);
}

}  // namespace
