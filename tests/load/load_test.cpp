// Under load: a module called a million times in one process, with arrays in and out, keeps the
// process's resident memory flat and leaves nothing behind: no allocation or array-list context
// still entered, no array, memory block or shared data array alive that was not alive before.
// The figures (resident memory at each tenth of the run) are printed and recorded as test
// properties, so a growth that stays under the limit is still visible in the report.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ry.h>

#include "host/exceptions.hpp"
#include "loader/loader_support.hpp"
#include "vhost/dataarray/impl.hpp"
#include "vhost/dispatcher/dispatcher.hpp"
#include "vhost/lang/interpreter.hpp"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers hold freed memory back on purpose and make each call far dearer: the counts are
// still checked, over fewer calls, and the resident set is not judged.
constexpr bool kJudgesGrowth = false;
constexpr int kCalls = 20'000;
#else
constexpr bool kJudgesGrowth = true;
constexpr int kCalls = 1'000'000;
#endif
constexpr int kSamples = 10;
constexpr int kElements = 16;
// After the warm-up, a flat process may still grow by what the allocator keeps in its pools and
// the page tables of its heap; a leak of one 16-element array per call alone would be 128 MB.
constexpr std::size_t kAllowedGrowth = 4u << 20;

using orbtest::residentBytes;

class UnderLoad : public orbtest::ModuleCallTest {
protected:
    // Runs `call` kCalls times after a warm-up, sampling the resident set; checks that `call`
    // answered right every time and that nothing drifted.
    template <class Call>
    void runLoad(const char* what, Call&& call) {
        for (int i = 0; i < 1000; ++i) ASSERT_TRUE(call(i)) << "warm-up call " << i;
        const orbtest::HostState before = orbtest::HostState::now();
        const std::size_t dataArrays = vhost::data::liveArrayCount();
        std::vector<std::size_t> resident{residentBytes()};
        int wrong = 0;
        for (int i = 0; i < kCalls; ++i) {
            if (!call(i)) ++wrong;
            if ((i + 1) % (kCalls / kSamples) == 0) resident.push_back(residentBytes());
        }
        EXPECT_EQ(wrong, 0) << "of " << kCalls << " calls";
        EXPECT_EQ(orbtest::HostState::now(), before);
        EXPECT_EQ(vhost::data::liveArrayCount(), dataArrays);

        std::string figures;
        for (std::size_t bytes : resident) figures += std::to_string(bytes >> 10) + " ";
        std::printf("%s, %d calls: resident KiB at each tenth: %s\n", what, kCalls, figures.c_str());
        RecordProperty(std::string(what) + "_resident_kib", figures);
        if (!kJudgesGrowth) return;
        const std::size_t grown = resident.back() > resident.front() ? resident.back() - resident.front() : 0;
        EXPECT_LT(grown, kAllowedGrowth) << "the resident set grew by " << grown << " bytes";
    }
};

TEST_F(UnderLoad, ACModuleCalledAMillionTimesWithArraysInAndOut) {
    ryArray* input = ryCreateDoubleMatrix(1, kElements, ryREAL);
    runLoad("twice", [&](int i) {
        double* x = ryGetDoubles(input);
        for (int k = 0; k < kElements; ++k) x[k] = i + k;
        std::vector<ryArray*> outputs = vhost::lang::call("twice", 1, {input});
        bool right = outputs.size() == 1 && outputs[0] && ryGetNumberOfElements(outputs[0]) == kElements;
        for (int k = 0; right && k < kElements; ++k) right = ryGetDoubles(outputs[0])[k] == 2.0 * (i + k);
        for (ryArray* output : outputs) ryDestroyArray(output);
        return right;
    });
    ryDestroyArray(input);
}

TEST_F(UnderLoad, ACppModuleCalledAMillionTimesSharesAndReleasesItsDataArrays) {
    // probe('count') answers the calls its object has seen: the one object lives across them all,
    // and every input it is handed as a shared data array is released again.
    ryArray* action = ryCreateString("count");
    runLoad("probe", [&, calls = 0.0](int) mutable {
        std::vector<ryArray*> outputs = vhost::lang::call("probe", 1, {action});
        const bool right = outputs.size() == 1 && outputs[0] && ryGetScalar(outputs[0]) == ++calls;
        for (ryArray* output : outputs) ryDestroyArray(output);
        return right;
    });
    ryDestroyArray(action);
    EXPECT_TRUE(vhost::clear("probe"));
}

}  // namespace
