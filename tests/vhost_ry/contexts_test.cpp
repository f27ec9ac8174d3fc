// Allocation-list and array-list contexts: what leaving a context frees, what it keeps, and the
// counts it reports.
#include <gtest/gtest.h>

#include <vector>

#include <ry.h>

#include "host/ry.hpp"
#include "vhost/ry/leaks.hpp"
#include "vhost/ry/lifetime.hpp"

namespace {

using vhost::ry::ContextReport;
using vhost::ry::liveCounts;

// The two contexts of one module call, left in the order the call frame leaves them.
struct Call {
    Call() : arrays(host::ryEnterNewArrayListContext()), blocks(host::ryEnterNewAllocListContext()) {}
    void end(ryArray** outputs = nullptr, int count = 0, bool keep = true) {
        host::ryExitArrayListContext(arrays, outputs, count, keep);
        host::ryRestorePreviousAllocListContext(blocks);
    }
    host::ryContextToken arrays;
    host::ryContextToken blocks;
};

TEST(Contexts, LeavingFreesEverythingButKeptOutputsAndPersistentItems) {
    const auto before = liveCounts();
    Call call;
    ryArray* out = ryCreateDoubleMatrix(2, 2, ryREAL);
    ryArray* persistent = ryCreateDoubleMatrix(3, 1, ryREAL);
    host::rySetArrayScope(persistent, ryPERSISTENT_SCOPE);
    ryCreateDoubleMatrix(10, 10, ryREAL);  // 800 bytes forgotten
    ryCreateString("forgotten");           // 9 UTF-16 units
    void* kept = ryCalloc(16, 1);
    host::removeFromAllocList(kept);
    ryMalloc(100);
    ryCalloc(5, 4);
    ryArray* outputs[] = {out};
    call.end(outputs, 1);

    EXPECT_EQ(vhost::ry::lastArrayListReport(), (ContextReport{2, 0, 800 + 18}));
    EXPECT_EQ(vhost::ry::lastAllocListReport(), (ContextReport{0, 2, 120}));
    EXPECT_EQ(vhost::ry::lastContextReport(), (ContextReport{2, 2, 938}));
    const auto after = liveCounts();
    EXPECT_EQ(after.arrays, before.arrays + 2);
    EXPECT_EQ(after.blocks, before.blocks + 1);
    EXPECT_EQ(ryGetM(out), 2u);  // still usable
    EXPECT_EQ(host::ryGetArrayScope(persistent), ryPERSISTENT_SCOPE);

    ryDestroyArray(out);
    ryDestroyArray(persistent);
    ryFree(kept);
    EXPECT_EQ(liveCounts().arrays, before.arrays);
    EXPECT_EQ(liveCounts().blocks, before.blocks);
    EXPECT_EQ(liveCounts().bytes, before.bytes);
}

TEST(Contexts, KeepFalseDestroysTheOutputsToo) {
    const auto before = liveCounts();
    Call call;
    ryArray* outputs[] = {ryCreateDoubleScalar(1), ryCreateDoubleScalar(2)};
    call.end(outputs, 2, false);
    EXPECT_EQ(vhost::ry::lastArrayListReport().arrays, 2u);
    EXPECT_EQ(liveCounts().arrays, before.arrays);
}

TEST(Contexts, NullOutputsAndArraysOfOuterContextsAreLeftAlone) {
    Call outer;
    ryArray* input = ryCreateDoubleScalar(3);
    Call inner;
    ryArray* made = ryCreateDoubleScalar(4);
    ryArray* outputs[] = {nullptr, input, made, nullptr};
    inner.end(outputs, 4);
    EXPECT_EQ(vhost::ry::lastArrayListReport().arrays, 0u);
    EXPECT_EQ(ryGetScalar(input), 3.0);
    EXPECT_EQ(ryGetScalar(made), 4.0);
    outer.end();
    EXPECT_EQ(vhost::ry::lastArrayListReport().arrays, 2u);
}

TEST(Contexts, LeavingAnOuterContextAlsoLeavesInnerOnesThatWereNotLeft) {
    const auto before = liveCounts();
    const std::size_t depth = vhost::ry::arrayListDepth();
    Call outer;
    ryCreateDoubleScalar(1);
    Call inner;  // never ended, as when an error skipped the inner call's clean-up
    ryCreateDoubleScalar(2);
    ryMalloc(8);
    outer.end();
    EXPECT_EQ(vhost::ry::lastArrayListReport().arrays, 2u);
    EXPECT_EQ(vhost::ry::lastAllocListReport().blocks, 1u);
    EXPECT_EQ(vhost::ry::arrayListDepth(), depth);
    EXPECT_EQ(vhost::ry::allocListDepth(), depth);
    EXPECT_EQ(liveCounts().arrays, before.arrays);
    EXPECT_EQ(liveCounts().blocks, before.blocks);
}

TEST(Contexts, ContextsLeftEarlierAreEnteredAgainEmptyAndInTheNewOrder) {
    const std::size_t depth = vhost::ry::arrayListDepth();
    Call first;
    Call second;
    Call third;
    ryCreateDoubleScalar(1);
    ryMalloc(8);
    first.end();  // three contexts of each kind left at once

    Call outer;
    ryArray* kept = ryCreateDoubleScalar(2);
    Call inner;
    ryCreateDoubleScalar(3);
    ryCreateDoubleScalar(4);
    ryMalloc(16);
    EXPECT_EQ(vhost::ry::arrayListDepth(), depth + 2);
    EXPECT_EQ(vhost::ry::allocListDepth(), depth + 2);
    inner.end();
    EXPECT_EQ(vhost::ry::lastArrayListReport().arrays, 2u);
    EXPECT_EQ(vhost::ry::lastAllocListReport(), (ContextReport{0, 1, 16}));
    EXPECT_EQ(ryGetScalar(kept), 2.0);
    outer.end();
    EXPECT_EQ(vhost::ry::lastArrayListReport().arrays, 1u);
    EXPECT_EQ(vhost::ry::lastAllocListReport().blocks, 0u);
    EXPECT_EQ(vhost::ry::arrayListDepth(), depth);
}

// Liveness is what makes a stale handle harmless; it must hold for every handle however many
// there are and in whatever order they go.
TEST(Contexts, EveryReleasedHandleIsNoLongerLiveAndEveryOtherStillIs) {
    const auto before = liveCounts();
    constexpr int kCount = 5000;
    std::vector<ryArray*> arrays;
    std::vector<void*> blocks;
    for (int i = 0; i < kCount; ++i) {
        arrays.push_back(ryCreateDoubleScalar(i));
        blocks.push_back(ryMalloc(8));
    }
    for (int i = kCount - 1; i >= 0; --i) {
        if (i % 3 == 0) ryDestroyArray(arrays[i]);
        if (i % 4 == 1) ryFree(blocks[i]);
    }
    int wrong = 0;
    for (int i = 0; i < kCount; ++i) {
        wrong += vhost::ry::isLive(arrays[i]) != (i % 3 != 0);
        if (i % 3 != 0) wrong += ryGetScalar(arrays[i]) != i;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(liveCounts().arrays, before.arrays + kCount - (kCount + 2) / 3);
    EXPECT_EQ(liveCounts().blocks, before.blocks + kCount - (kCount + 2) / 4);

    for (int i = 0; i < kCount; ++i) {
        ryDestroyArray(arrays[i]);  // a second release of the destroyed third is ignored
        ryFree(blocks[i]);
    }
    EXPECT_EQ(liveCounts().arrays, before.arrays);
    EXPECT_EQ(liveCounts().blocks, before.blocks);
    EXPECT_FALSE(vhost::ry::isLive(arrays[1]));
}

TEST(Contexts, ATokenOfTheOtherStackOrOfNoContextChangesNothing) {
    Call call;
    ryArray* a = ryCreateDoubleScalar(1);
    host::ryExitArrayListContext(call.blocks, nullptr, 0, true);  // an allocation-list token
    int local = 0;
    host::ryExitArrayListContext(&local, nullptr, 0, true);
    EXPECT_EQ(ryGetScalar(a), 1.0);
    call.end();
    EXPECT_EQ(vhost::ry::lastArrayListReport().arrays, 1u);
}

TEST(Contexts, WhatIsCreatedWithNoContextStaysUntilReleased) {
    const std::size_t baseline = liveCounts().arrays;
    ryArray* a = ryCreateDoubleScalar(5);  // in the engine's base context
    Call call;
    call.end();
    EXPECT_EQ(liveCounts().arrays, baseline + 1);
    ryDestroyArray(a);
    EXPECT_EQ(liveCounts().arrays, baseline);
}

TEST(Contexts, ReleasingTrackedItemsRemovesThemAndASecondReleaseIsIgnored) {
    Call call;
    ryArray* a = ryCreateDoubleMatrix(4, 4, ryREAL);
    ryDestroyArray(a);
    ryDestroyArray(a);
    ryCreateDoubleScalar(1);
    void* p = ryMalloc(64);
    ryFree(p);
    ryFree(p);
    int stack = 0;
    ryFree(&stack);  // not host memory: ignored
    call.end();
    EXPECT_EQ(vhost::ry::lastArrayListReport(), (ContextReport{1, 0, 8}));
    EXPECT_EQ(vhost::ry::lastAllocListReport(), ContextReport{});
}

TEST(Contexts, ReallocKeepsTrackingAndTheNewSize) {
    const auto before = liveCounts();
    Call call;
    auto* p = static_cast<char*>(ryMalloc(4));
    p[0] = 'x';
    p = static_cast<char*>(ryRealloc(p, 4096));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 'x');
    EXPECT_EQ(ryRealloc(ryMalloc(1), 0), nullptr);  // frees
    call.end();
    EXPECT_EQ(vhost::ry::lastAllocListReport(), (ContextReport{0, 1, 4096}));
    EXPECT_EQ(liveCounts().blocks, before.blocks);
    EXPECT_EQ(liveCounts().bytes, before.bytes);
}

TEST(Contexts, CallocRefusesSizesThatOverflow) {
    EXPECT_EQ(ryCalloc(SIZE_MAX / 2, 4), nullptr);
    EXPECT_EQ(host::ryCalloc(SIZE_MAX, SIZE_MAX), nullptr);
    auto* zeros = static_cast<unsigned char*>(ryCalloc(32, 1));
    for (int i = 0; i < 32; ++i) EXPECT_EQ(zeros[i], 0);
    ryFree(zeros);
}

TEST(Contexts, ScopeDecidesWhetherAnArrayIsTracked) {
    Call call;
    ryArray* a = ryCreateDoubleScalar(1);
    host::rySetArrayScope(a, ryGLOBAL_SCOPE);
    ryArray* b = ryCreateDoubleScalar(2);
    host::rySetArrayScope(b, ryPERSISTENT_SCOPE);
    host::rySetArrayScope(b, ryTEMPORARY_SCOPE);  // back under the current call
    call.end();
    EXPECT_EQ(vhost::ry::lastArrayListReport().arrays, 1u);
    EXPECT_EQ(host::ryGetArrayScope(a), ryGLOBAL_SCOPE);
    host::destroyArray(a);
}

TEST(Contexts, UniqueHandlesAreUntrackedUntilHandedOver) {
    Call call;
    host::ryUnique owned = host::do_create_uninitnumeric({2, 2}, ryDOUBLE_CLASS, ryREAL);
    ryArray* handed = host::to_veltra(host::do_create_uninitnumeric({1, 1}, ryINT8_CLASS, ryREAL));
    ryArray* taken = ryCreateDoubleScalar(1);
    host::ryUnique back = host::from_veltra(taken);
    call.end();
    EXPECT_EQ(vhost::ry::lastArrayListReport().arrays, 1u);  // only the handed-over one
    EXPECT_EQ(ryGetNumberOfElements(owned.get()), 4u);
    EXPECT_EQ(ryGetScalar(back.get()), 1.0);
    (void)handed;
}

TEST(Contexts, AnOutputThatIsAnElementIsReplacedByItsOwnCopy) {
    Call outer;
    Call inner;
    ryArray* cell = ryCreateCellMatrix(1, 1);
    rySetCell(cell, 0, ryCreateDoubleScalar(9));
    ryArray* outputs[] = {ryGetCell(cell, 0)};
    inner.end(outputs, 1);  // the cell goes, the element it held must not
    ASSERT_NE(outputs[0], nullptr);
    EXPECT_EQ(ryGetScalar(outputs[0]), 9.0);
    outer.end();
    EXPECT_EQ(vhost::ry::lastArrayListReport().arrays, 1u);
}

TEST(Contexts, TotalsAddUpAndReset) {
    vhost::ry::resetContextReports();
    for (int i = 0; i < 3; ++i) {
        Call call;
        ryCreateDoubleScalar(i);
        ryMalloc(10);
        call.end();
    }
    EXPECT_EQ(vhost::ry::totalContextReport(), (ContextReport{3, 3, 3 * (8 + 10)}));
    vhost::ry::resetContextReports();
    EXPECT_EQ(vhost::ry::totalContextReport(), ContextReport{});
}

}  // namespace
