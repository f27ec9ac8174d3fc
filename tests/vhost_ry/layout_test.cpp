// Complex data seen through both layouts: separate parts (interfaces 700 and 730) and interleaved
// pairs (800), whichever wrote last; and copies that share data until one of them is written.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#define RY_NO_NAME_MAPPING 1
#include <ry.h>

#include "host/ry.hpp"
#include "vhost/ry/array.hpp"
#include "vhost/ry/leaks.hpp"

namespace {

struct Values {
    std::vector<double> re, im;
};

enum class Gen { Separate, Interleaved };
const char* name(Gen g) { return g == Gen::Separate ? "separate" : "interleaved"; }
void PrintTo(Gen g, std::ostream* os) { *os << name(g); }

ryArray* make(Gen g, std::size_t n) {
    return g == Gen::Separate ? ryCreateDoubleMatrix_730(1, n, ryCOMPLEX) : ryCreateDoubleMatrix_800(1, n, ryCOMPLEX);
}

void write(Gen g, ryArray* a, const Values& v) {
    if (g == Gen::Separate) {
        double* pr = ryGetPr_730(a);
        double* pi = ryGetPi_730(a);
        for (std::size_t k = 0; k < v.re.size(); ++k) pr[k] = v.re[k], pi[k] = v.im[k];
    } else {
        ryComplexDouble* z = ryGetComplexDoubles_800(a);
        for (std::size_t k = 0; k < v.re.size(); ++k) z[k] = {v.re[k], v.im[k]};
    }
}

Values read(Gen g, const ryArray* a) {
    Values v;
    const std::size_t n = ryGetNumberOfElements(a);
    if (g == Gen::Separate) {
        const double* pr = ryGetPr_730(a);
        const double* pi = ryGetPi_730(a);
        v.re.assign(pr, pr + n);
        v.im.assign(pi, pi + n);
    } else {
        const ryComplexDouble* z = ryGetComplexDoubles_800(a);
        for (std::size_t k = 0; k < n; ++k) v.re.push_back(z[k].real), v.im.push_back(z[k].imag);
    }
    return v;
}

class LayoutTable : public ::testing::TestWithParam<std::tuple<Gen, Gen, Gen>> {};

// Made in one layout, written in another, read in a third: the reader sees what was written.
TEST_P(LayoutTable, ReaderSeesTheLastWrite) {
    auto [maker, writer, reader] = GetParam();
    const Values v{{1.5, -2, 3e10}, {-0.25, 7, 0}};
    ryArray* a = make(maker, 3);
    write(writer, a, v);
    const Values got = read(reader, a);
    EXPECT_EQ(got.re, v.re);
    EXPECT_EQ(got.im, v.im);
    // and the opposite layout again, after the reader possibly moved the truth
    const Values again = read(reader == Gen::Separate ? Gen::Interleaved : Gen::Separate, a);
    EXPECT_EQ(again.re, v.re);
    EXPECT_EQ(again.im, v.im);
    ryDestroyArray(a);
}

INSTANTIATE_TEST_SUITE_P(AllCombinations, LayoutTable,
                         ::testing::Combine(::testing::Values(Gen::Separate, Gen::Interleaved),
                                            ::testing::Values(Gen::Separate, Gen::Interleaved),
                                            ::testing::Values(Gen::Separate, Gen::Interleaved)),
                         [](const auto& info) {
                             return std::string("made_") + name(std::get<0>(info.param)) + "_written_" +
                                    name(std::get<1>(info.param)) + "_read_" + name(std::get<2>(info.param));
                         });

// What the host sees when it reads the interleaved form without taking the data over.
const ryComplexDouble* hostView(const ryArray* a) {
    return static_cast<const ryComplexDouble*>(a->numeric()->interleaved(vhost::ry::Access::Read));
}

TEST(Layout, InterleavedWritesByTheHostReachAModuleHoldingSeparateParts) {
    ryArray* a = ryCreateDoubleMatrix_730(1, 1, ryCOMPLEX);
    const double* pr = ryGetPr_730(a);
    // The host writes through the interleaved form (as a host function does).
    auto* z = static_cast<ryComplexDouble*>(a->writableNumeric()->interleaved(vhost::ry::Access::Write));
    z[0] = {3, 4};
    host::updateInterleavedData(a);
    EXPECT_EQ(pr[0], 3.0);
    ryDestroyArray(a);
}

TEST(Layout, UpdateReachesElementsOfContainers) {
    ryArray* cell = ryCreateCellMatrix(1, 1);
    const char* fields[] = {"z"};
    ryArray* record = ryCreateStructMatrix(1, 1, 1, fields);
    ryArray* a = ryCreateDoubleMatrix_730(1, 1, ryCOMPLEX);
    rySetField(record, 0, "z", a);
    rySetCell(cell, 0, record);
    double* pi = ryGetPi_730(a);
    EXPECT_EQ(hostView(a)[0].imag, 0.0);
    *pi = 5;
    host::updateInterleavedData(cell);
    EXPECT_EQ(hostView(a)[0].imag, 5.0);
    ryDestroyArray(cell);
}

TEST(Layout, SettingAnImaginaryPartMakesARealArrayComplexAndNullMakesItReal) {
    ryArray* a = ryCreateDoubleMatrix_730(2, 1, ryREAL);
    ryGetPr_730(a)[1] = 4;
    auto* im = static_cast<double*>(ryMalloc(2 * sizeof(double)));
    im[0] = 8, im[1] = 9;
    rySetPi_730(a, im);
    ASSERT_TRUE(ryIsComplex(a));
    EXPECT_EQ(ryGetComplexDoubles_800(a)[1].real, 4.0);
    EXPECT_EQ(ryGetComplexDoubles_800(a)[1].imag, 9.0);
    rySetPi_730(a, nullptr);
    EXPECT_FALSE(ryIsComplex(a));
    EXPECT_EQ(ryGetDoubles_800(a)[1], 4.0);
    ryDestroyArray(a);
}

TEST(Layout, MakeComplexAndRealInTheInterleavedInterface) {
    ryArray* a = ryCreateNumericMatrix_800(1, 2, rySINGLE_CLASS, ryREAL);
    ryGetSingles_800(a)[0] = 1.5f;
    ASSERT_EQ(ryMakeArrayComplex_800(a), 1);
    const ryComplexSingle* z = ryGetComplexSingles_800(a);
    EXPECT_EQ(z[0].real, 1.5f);
    EXPECT_EQ(z[0].imag, 0.0f);
    ASSERT_EQ(ryMakeArrayReal_800(a), 1);
    EXPECT_EQ(ryGetSingles_800(a)[0], 1.5f);
    ryArray* text = ryCreateString("x");
    EXPECT_EQ(ryMakeArrayComplex_800(text), 0);
    ryDestroyArray(text);
    ryDestroyArray(a);
}

TEST(Layout, TypedAccessAnswersNullForOtherClassesAndComplexity) {
    ryArray* realDouble = ryCreateDoubleMatrix_800(1, 1, ryREAL);
    ryArray* complexDouble = ryCreateDoubleMatrix_800(1, 1, ryCOMPLEX);
    ryArray* int32 = ryCreateNumericMatrix_800(1, 1, ryINT32_CLASS, ryREAL);
    EXPECT_NE(ryGetDoubles_800(realDouble), nullptr);
    EXPECT_EQ(ryGetComplexDoubles_800(realDouble), nullptr);
    EXPECT_EQ(ryGetDoubles_800(complexDouble), nullptr);
    EXPECT_EQ(ryGetDoubles_800(int32), nullptr);
    EXPECT_NE(ryGetInt32s_800(int32), nullptr);
    EXPECT_EQ(ryGetUint32s_800(int32), nullptr);
    EXPECT_EQ(rySetDoubles_800(int32, static_cast<double*>(ryMalloc(8))), 0);
    EXPECT_EQ(ryGetPi_730(realDouble), nullptr);
    ryDestroyArray(realDouble);
    ryDestroyArray(complexDouble);
    ryDestroyArray(int32);
}

TEST(Layout, ReplacedDataBelongsToTheArray) {
    ryArray* a = ryCreateDoubleMatrix_730(3, 1, ryREAL);
    auto* fits = static_cast<double*>(ryMalloc(3 * sizeof(double)));
    fits[2] = 42;
    rySetPr_730(a, fits);
    EXPECT_EQ(ryGetPr_730(a), fits);
    EXPECT_EQ(ryGetPr_730(a)[2], 42.0);
    ryFree(fits);  // the array owns it now: ignored
    EXPECT_EQ(ryGetPr_730(a)[2], 42.0);
    ryDestroyArray(a);
}

TEST(Copies, SharedCopiesAreIndependentOnceWritten) {
    ryArray* a = ryCreateDoubleMatrix_800(1, 2, ryCOMPLEX);
    ryGetComplexDoubles_800(a)[0] = {1, 2};
    host::ryUnique shared = host::do_shared_copy(a);
    host::ryUnique deep = host::do_deep_copy(a);
    ryGetPi_730(shared.get())[0] = 100;  // the writer's own copy changes
    EXPECT_EQ(ryGetComplexDoubles_800(a)[0].imag, 2.0);
    EXPECT_EQ(ryGetComplexDoubles_800(deep.get())[0].imag, 2.0);
    EXPECT_EQ(ryGetComplexDoubles_800(shared.get())[0].imag, 100.0);
    ryGetComplexDoubles_800(a)[1] = {5, 6};
    EXPECT_EQ(ryGetPr_730(shared.get())[1], 0.0);
    EXPECT_EQ(ryGetPr_730(deep.get())[1], 0.0);
    ryDestroyArray(a);
    // the copies outlive the original
    EXPECT_EQ(ryGetComplexDoubles_800(deep.get())[0].real, 1.0);
}

TEST(Copies, DuplicateOfAContainerCopiesItsElements) {
    ryArray* cell = ryCreateCellMatrix(1, 2);
    rySetCell(cell, 0, ryCreateDoubleScalar(1));
    ryArray* copy = ryDuplicateArray(cell);
    ASSERT_NE(ryGetCell(copy, 0), ryGetCell(cell, 0));
    ryGetPr_730(ryGetCell(copy, 0))[0] = 2;
    EXPECT_EQ(ryGetScalar(ryGetCell(cell, 0)), 1.0);
    EXPECT_EQ(ryGetCell(copy, 1), nullptr);
    ryDestroyArray(cell);
    EXPECT_EQ(ryGetScalar(ryGetCell(copy, 0)), 2.0);
    ryDestroyArray(copy);
}

TEST(Copies, UninitialisedArraysHaveTheRequestedShapeAndClass) {
    host::ryUnique a = host::do_create_uninitnumeric({2, 3, 1, 1}, ryUINT16_CLASS, ryCOMPLEX);
    EXPECT_EQ(ryGetClassID(a.get()), ryUINT16_CLASS);
    EXPECT_TRUE(ryIsComplex(a.get()));
    EXPECT_EQ(ryGetNumberOfDimensions_730(a.get()), 2u);
}

// Whatever was done to a small matrix, releasing it frees all it held, a sharer keeps the data,
// and the next small matrix (made in the slot it gave back) starts new: real zeros of its own shape.
TEST(Copies, AReleasedMatrixLeavesNothingBehind) {
    struct Use {
        const char* what;
        // May return an array to release after the matrix, which must still read 7 last.
        std::function<ryArray*(ryArray*)> use;
    };
    ryArray* const none = nullptr;
    const std::vector<Use> table = {
        {"nothing", [&](ryArray*) { return none; }},
        {"a shared copy released first", [&](ryArray* a) { return ryDestroyArray(ryDuplicateArray(a)), none; }},
        {"a shared copy released after it", [](ryArray* a) { return ryDuplicateArray(a); }},
        {"a shared copy written, then released after it", [](ryArray* a) {
             ryArray* copy = ryDuplicateArray(a);
             ryGetDoubles_800(a)[0] = 1;  // the matrix takes a record of its own
             return copy;
         }},
        {"made complex", [&](ryArray* a) { return ryMakeArrayComplex_800(a), none; }},
        {"made complex and real again", [&](ryArray* a) { return ryMakeArrayComplex_800(a), ryMakeArrayReal_800(a), none; }},
        {"its data replaced",
         [&](ryArray* a) { return rySetDoubles_800(a, static_cast<double*>(ryCalloc(4, sizeof(double)))), none; }},
        {"grown past its own room", [&](ryArray* a) { return rySetN(a, 100), none; }},
        {"given three dimensions", [&](ryArray* a) {
             const rySize dims[] = {1, 2, 2};
             return rySetDimensions_730(a, dims, 3), none;
         }},
        {"its 32-bit dimensions read", [&](ryArray* a) { return ryGetDimensions_700(a), none; }},
        {"an element of a cell, then taken out", [&](ryArray* a) {
             ryArray* cell = ryCreateCellMatrix(1, 1);
             rySetCell(cell, 0, a);
             rySetCell(cell, 0, nullptr);
             return ryDestroyArray(cell), none;
         }},
        {"made persistent and reusable", [&](ryArray* a) {
             return host::rySetArrayScope(a, ryPERSISTENT_SCOPE), host::rySetReusable(a, true), none;
         }},
    };
    for (const Use& row : table) {
        SCOPED_TRACE(row.what);
        const auto before = vhost::ry::liveCounts();
        ryArray* a = ryCreateDoubleMatrix_800(2, 2, ryREAL);
        ryGetDoubles_800(a)[3] = 7;
        ryArray* later = row.use(a);
        ryDestroyArray(a);

        ryArray* next = ryCreateDoubleMatrix_800(1, 3, ryREAL);
        EXPECT_EQ(ryGetM(next), 1u);
        EXPECT_EQ(ryGetN(next), 3u);
        EXPECT_EQ(ryGetNumberOfDimensions_730(next), 2u);
        EXPECT_FALSE(ryIsComplex(next));
        EXPECT_EQ(ryGetPi_730(next), nullptr);
        EXPECT_EQ(host::ryGetArrayScope(next), ryTEMPORARY_SCOPE);
        double* x = ryGetDoubles_800(next);
        ASSERT_NE(x, nullptr);
        EXPECT_EQ(x[0] + x[1] + x[2], 0.0);
        x[0] = x[1] = x[2] = -1;
        if (later) {
            EXPECT_EQ(ryGetDoubles_800(later)[3], 7.0);
            ryDestroyArray(later);
        }
        EXPECT_EQ(vhost::ry::liveCounts().bytes, before.bytes + 3 * sizeof(double));
        ryDestroyArray(next);
        const auto after = vhost::ry::liveCounts();
        EXPECT_EQ(after.arrays, before.arrays);
        EXPECT_EQ(after.blocks, before.blocks);
        EXPECT_EQ(after.bytes, before.bytes);
    }
}

}  // namespace
