// The module-facing C interface: shapes, dimension types, text, classes and what is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#define RY_NO_NAME_MAPPING 1
#include <ry.h>

#include "host/exceptions.hpp"
#include "host/ry.hpp"

namespace {

std::vector<std::size_t> dims730(const ryArray* a) {
    const rySize* d = ryGetDimensions_730(a);
    return {d, d + ryGetNumberOfDimensions_730(a)};
}

std::vector<int> dims700(const ryArray* a) {
    const ryCompatSize* d = ryGetDimensions_700(a);
    return {d, d + ryGetNumberOfDimensions_700(a)};
}

TEST(Shape, DimensionListsAreNormalised) {
    struct Case {
        std::vector<rySize> given;
        std::vector<std::size_t> kept;
        rySize m, n, count;
    } cases[] = {
        {{}, {0, 0}, 0, 0, 0},
        {{5}, {5, 1}, 5, 1, 5},
        {{2, 3, 1, 1}, {2, 3}, 2, 3, 6},
        {{2, 1, 4, 1}, {2, 1, 4}, 2, 4, 8},
        {{3, 0, 2}, {3, 0, 2}, 3, 0, 0},
    };
    for (const Case& c : cases) {
        ryArray* a = ryCreateNumericArray_730(c.given.size(), c.given.data(), ryUINT8_CLASS, ryREAL);
        EXPECT_EQ(dims730(a), c.kept) << ::testing::PrintToString(c.given);
        EXPECT_EQ(ryGetM(a), c.m);
        EXPECT_EQ(ryGetN(a), c.n);
        EXPECT_EQ(ryGetNumberOfElements(a), c.count);
        EXPECT_EQ(ryIsEmpty(a), c.count == 0);
        ryDestroyArray(a);
    }
}

TEST(Shape, TheCompatibleInterfaceSeesIntDimensions) {
    const ryCompatSize given[] = {4, 1, 3};
    ryArray* a = ryCreateNumericArray_700(3, given, ryINT32_CLASS, ryREAL);
    EXPECT_EQ(dims700(a), (std::vector<int>{4, 1, 3}));
    EXPECT_EQ(dims730(a), (std::vector<std::size_t>{4, 1, 3}));
    const ryCompatSize negative[] = {-2, 3};
    ryArray* b = ryCreateNumericArray_700(2, negative, ryINT32_CLASS, ryREAL);
    EXPECT_EQ(dims700(b), (std::vector<int>{0, 3}));
    ryDestroyArray(a);
    ryDestroyArray(b);
}

TEST(Shape, ReshapingGrowsDataWithZerosAndKeepsValues) {
    ryArray* a = ryCreateDoubleMatrix_730(2, 1, ryCOMPLEX);
    ryGetPr_730(a)[1] = 3;
    ryGetPi_730(a)[1] = 4;
    const rySize bigger[] = {2, 3};
    rySetDimensions_730(a, bigger, 2);
    ASSERT_EQ(ryGetNumberOfElements(a), 6u);
    const ryComplexDouble* z = ryGetComplexDoubles_800(a);
    EXPECT_EQ(z[1].real, 3.0);
    EXPECT_EQ(z[1].imag, 4.0);
    EXPECT_EQ(z[5].real, 0.0);
    rySetM(a, 1);
    EXPECT_EQ(dims730(a), (std::vector<std::size_t>{1, 3}));
    ryDestroyArray(a);
}

TEST(Shape, SingleSubscriptsAreColumnMajor) {
    const rySize d[] = {2, 3, 4};
    ryArray* a = ryCreateNumericArray_730(3, d, ryDOUBLE_CLASS, ryREAL);
    const rySize subs[] = {1, 2, 3};
    EXPECT_EQ(ryCalcSingleSubscript_730(a, 3, subs), 1u + 2 * 2 + 3 * 6);
    const ryCompatSize subs700[] = {1, 1};
    EXPECT_EQ(ryCalcSingleSubscript_700(a, 2, subs700), 3u);
    ryDestroyArray(a);
}

TEST(Classes, CreatorsPredicatesAndNamesAgree) {
    struct Case {
        ryArray* array;
        ryClassID id;
        const char* name;
        rySize elementSize;
        bool numeric;
    } cases[] = {
        {ryCreateDoubleScalar(1), ryDOUBLE_CLASS, "double", 8, true},
        {ryCreateNumericMatrix_800(1, 1, rySINGLE_CLASS, ryREAL), rySINGLE_CLASS, "single", 4, true},
        {ryCreateNumericMatrix_730(1, 1, ryINT8_CLASS, ryREAL), ryINT8_CLASS, "int8", 1, true},
        {ryCreateNumericMatrix_700(1, 1, ryUINT16_CLASS, ryREAL), ryUINT16_CLASS, "uint16", 2, true},
        {ryCreateNumericMatrix_800(1, 1, ryINT64_CLASS, ryREAL), ryINT64_CLASS, "int64", 8, true},
        {ryCreateLogicalScalar(true), ryLOGICAL_CLASS, "logical", 1, false},
        {ryCreateString("abc"), ryCHAR_CLASS, "char", 2, false},
        {ryCreateCellMatrix(1, 1), ryCELL_CLASS, "cell", 0, false},
        {ryCreateStructMatrix(1, 1, 0, nullptr), rySTRUCT_CLASS, "struct", 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ryGetClassID(c.array), c.id) << c.name;
        EXPECT_STREQ(ryGetClassName(c.array), c.name);
        EXPECT_TRUE(ryIsClass(c.array, c.name));
        EXPECT_EQ(ryGetElementSize(c.array), c.elementSize) << c.name;
        EXPECT_EQ(ryIsNumeric(c.array), c.numeric) << c.name;
        EXPECT_EQ(ryIsDouble(c.array), c.id == ryDOUBLE_CLASS);
        EXPECT_EQ(ryIsInt8(c.array), c.id == ryINT8_CLASS);
        EXPECT_EQ(ryIsUint16(c.array), c.id == ryUINT16_CLASS);
        EXPECT_EQ(ryIsLogical(c.array), c.id == ryLOGICAL_CLASS);
        EXPECT_EQ(ryIsChar(c.array), c.id == ryCHAR_CLASS);
        EXPECT_EQ(ryIsCell(c.array), c.id == ryCELL_CLASS);
        EXPECT_EQ(ryIsStruct(c.array), c.id == rySTRUCT_CLASS);
        ryDestroyArray(c.array);
    }
    EXPECT_FALSE(ryIsDouble(nullptr));
    EXPECT_STREQ(ryGetClassName(nullptr), "unknown");
}

// Misuse raises the array library's error, which names what was wrong and where.
TEST(Refusals, EachMisuseRaisesItsIdentifierNamingTheCall) {
    ryArray* flags = ryCreateLogicalMatrix(1, 1);
    ryArray* complexDouble = ryCreateDoubleMatrix_800(1, 1, ryCOMPLEX);
    ryArray* column = ryCreateDoubleMatrix_730(3, 1, ryREAL);
    double stack[3] = {};
    void* small = ryMalloc(2 * sizeof(double));
    struct Case {
        const char* what;
        std::function<void()> action;
        std::string identifier;
        std::vector<std::string> named;  // in the message
    } cases[] = {
        {"a numeric matrix of cells", [] { ryCreateNumericMatrix_800(1, 1, ryCELL_CLASS, ryREAL); },
         "VELTRA:ry:notNumericClass", {"ryCreateNumericMatrix", "cell"}},
        {"uninitialised cells", [] { host::do_create_uninitnumeric({1, 1}, ryCELL_CLASS, ryREAL); },
         "VELTRA:ry:notNumericClass", {"do_create_uninitnumeric", "cell"}},
        {"an imaginary part for a logical", [&] { rySetPi_730(flags, static_cast<double*>(ryMalloc(8))); },
         "VELTRA:ry:complexNotAllowed", {"logical"}},
        {"the real part of interleaved complex data", [&] { ryGetPr_800(complexDouble); },
         "VELTRA:ry:interleavedRealOnly", {"ryGetPr"}},
        {"data that is not host memory", [&] { rySetPr_730(column, stack); }, "VELTRA:ry:notHostMemory", {}},
        {"data too small for the array", [&] { rySetPr_730(column, static_cast<double*>(small)); },
         "VELTRA:ry:bufferTooSmall", {}},
    };
    for (const Case& c : cases) {
        try {
            c.action();
            ADD_FAILURE() << c.what << ": no error";
        } catch (const host::UserException& e) {
            EXPECT_EQ(e.identifier(), c.identifier) << c.what;
            for (const std::string& part : c.named) EXPECT_NE(e.message().find(part), std::string::npos) << e.message();
        }
    }
    EXPECT_FALSE(ryIsComplex(flags));
    ryFree(small);
    for (ryArray* a : {flags, complexDouble, column}) ryDestroyArray(a);
}

TEST(Scalars, ReadAsDoubleWhateverTheClass) {
    ryArray* i8 = ryCreateNumericMatrix_800(1, 1, ryINT8_CLASS, ryREAL);
    *ryGetInt8s_800(i8) = -5;
    EXPECT_EQ(ryGetScalar(i8), -5.0);
    EXPECT_TRUE(ryIsLogicalScalarTrue(ryCreateLogicalScalar(true)));
    EXPECT_FALSE(ryIsLogicalScalarTrue(ryCreateLogicalScalar(false)));
    EXPECT_FALSE(ryIsLogicalScalarTrue(ryCreateDoubleScalar(1)));
    EXPECT_EQ(ryGetScalar(ryCreateCellMatrix(1, 1)), 0.0);
    EXPECT_EQ(ryGetScalar(ryCreateDoubleMatrix_800(0, 0, ryREAL)), 0.0);
    EXPECT_EQ(ryGetPr_800(ryCreateDoubleMatrix_800(0, 3, ryREAL)), nullptr);
    ryDestroyArray(i8);
}

TEST(Text, Utf8RoundTripsThroughUtf16Storage) {
    const char* text = "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80";  // grüß € and an emoji
    ryArray* a = ryCreateString(text);
    EXPECT_EQ(ryGetN(a), 9u);  // 7 characters of one code unit and a surrogate pair
    EXPECT_EQ(ryGetChars(a)[2], 0xFC);
    char* back = ryArrayToString(a);
    EXPECT_STREQ(back, text);
    ryFree(back);
    EXPECT_EQ(host::get_ustring(a), u"gr\u00FC\u00DF \u20AC \U0001F600");
    char16_t* wide = host::ryArrayToString_UTF16(a);
    EXPECT_EQ(std::u16string(wide), host::get_ustring(a));
    host::ryFreeEx(wide);
    ryDestroyArray(a);
}

TEST(Text, InvalidTextIsRefusedBothWays) {
    EXPECT_THROW(ryCreateString("\xC3"), host::UserException);
    ryArray* a = ryCreateCharArray_730(0, nullptr);
    const rySize one[] = {1, 1};
    rySetDimensions_730(a, one, 2);
    ryGetChars(a)[0] = 0xD800;  // a lone surrogate
    EXPECT_EQ(ryArrayToString(a), nullptr);
    char buffer[8];
    EXPECT_EQ(ryGetString(a, buffer, sizeof buffer), 1);
    ryDestroyArray(a);
    ryArray* d = ryCreateDoubleScalar(1);  // no text at all
    EXPECT_EQ(ryArrayToString(d), nullptr);
    EXPECT_EQ(host::ryArrayToString_UTF16(d), nullptr);
    EXPECT_EQ(host::get_ustring(d), u"");
    ryDestroyArray(d);
}

TEST(Text, GetStringCutsOnlyAtCharacterBoundaries) {
    ryArray* a = ryCreateString("ab\xE2\x82\xAC");  // "ab€": 5 bytes in UTF-8
    struct Case {
        rySize capacity;
        int status;
        const char* text;
    } cases[] = {{6, 0, "ab\xE2\x82\xAC"}, {5, 1, "ab"}, {3, 1, "ab"}, {2, 1, "a"}, {1, 1, ""}};
    for (const Case& c : cases) {
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(ryGetString(a, buffer, c.capacity), c.status) << c.capacity;
        EXPECT_STREQ(buffer, c.text) << c.capacity;
    }
    EXPECT_EQ(ryGetString(ryCreateDoubleScalar(1), nullptr, 0), 1);
    ryDestroyArray(a);
}

TEST(Text, CharMatricesArePaddedRowsStoredByColumn) {
    const char* rows[] = {"ab", "", "xyz"};
    ryArray* a = ryCreateCharMatrixFromStrings(3, rows);
    EXPECT_EQ(dims730(a), (std::vector<std::size_t>{3, 3}));
    char* all = ryArrayToString(a);
    EXPECT_STREQ(all, "a xb y  z");
    ryFree(all);
    ryDestroyArray(a);
}

}  // namespace
