// Cells, structs and objects: who owns their elements, and what copies share.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <ry.h>

#include "host/exceptions.hpp"
#include "host/ry.hpp"
#include "vhost/ry/class_registry.hpp"
#include "vhost/ry/leaks.hpp"
#include "vhost/ry/lifetime.hpp"

namespace {

using vhost::ry::liveCounts;

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const host::UserException& e) {
        return e.identifier();
    }
    return "no error";
}

TEST(Ownership, SettingTransfersOwnershipAndDestroyingTheParentFreesTheChildren) {
    const auto before = liveCounts();
    auto arrays = host::ryEnterNewArrayListContext();
    ryArray* cell = ryCreateCellMatrix(2, 1);
    const char* fields[] = {"a", "b"};
    ryArray* record = ryCreateStructMatrix(1, 2, 2, fields);
    rySetField(record, 1, "b", ryCreateDoubleMatrix(3, 3, ryREAL));
    rySetCell(cell, 0, record);
    rySetCell(cell, 1, ryCreateString("x"));
    host::ryExitArrayListContext(arrays, nullptr, 0, true);
    // Only the cell was the call's; its elements went with it.
    EXPECT_EQ(vhost::ry::lastArrayListReport(), (vhost::ry::ContextReport{1, 0, 72 + 2}));
    EXPECT_EQ(liveCounts().arrays, before.arrays);
    EXPECT_EQ(liveCounts().bytes, before.bytes);
}

TEST(Ownership, AReplacedElementGoesBackToTheCallAndMayStillBeDestroyed) {
    auto arrays = host::ryEnterNewArrayListContext();
    ryArray* cell = ryCreateCellMatrix(1, 1);
    ryArray* first = ryCreateDoubleScalar(1);
    rySetCell(cell, 0, first);
    rySetCell(cell, 0, ryCreateDoubleScalar(2));
    EXPECT_EQ(ryGetScalar(first), 1.0);
    rySetCell(cell, 0, nullptr);  // the second goes back too
    rySetCell(cell, 0, ryCreateDoubleScalar(3));
    ryDestroyArray(ryGetCell(cell, 0));  // destroying an element empties its slot
    EXPECT_EQ(ryGetCell(cell, 0), nullptr);
    host::ryExitArrayListContext(arrays, nullptr, 0, true);
    EXPECT_EQ(vhost::ry::lastArrayListReport().arrays, 3u);
}

TEST(Ownership, ElementsCannotBeSharedOrContainThemselves) {
    ryArray* outer = ryCreateCellMatrix(1, 1);
    ryArray* inner = ryCreateCellMatrix(1, 1);
    ryArray* value = ryCreateDoubleScalar(1);
    rySetCell(inner, 0, value);
    rySetCell(outer, 0, inner);
    const char* noFields[] = {nullptr};
    ryArray* record = ryCreateStructMatrix(1, 1, 0, noFields);
    struct Case {
        const char* what;
        std::function<void()> action;
        const char* identifier;
    } cases[] = {
        {"an element into a second cell", [&] { rySetCell(ryCreateCellMatrix(1, 1), 0, value); }, "VELTRA:ry:alreadyElement"},
        {"an element into a struct", [&] { rySetField(record, 0, "v", value); }, "VELTRA:ry:alreadyElement"},
        {"a cell into itself", [&] { rySetCell(outer, 0, outer); }, "VELTRA:ry:selfContaining"},
        {"a cell into its own element", [&] { rySetCell(inner, 0, outer); }, "VELTRA:ry:selfContaining"},
        {"past the end", [&] { rySetCell(outer, 1, ryCreateDoubleScalar(0)); }, "VELTRA:ry:indexOutOfRange"},
        {"into a number", [&] { rySetCell(value, 0, nullptr); }, "VELTRA:ry:wrongClass"},
        {"a destroyed array", [&] {
             ryArray* gone = ryCreateDoubleScalar(0);
             ryDestroyArray(gone);
             rySetCell(outer, 0, gone);
         }, "VELTRA:ry:invalidArray"},
        {"a bad field name", [&] { rySetField(record, 0, "1x", nullptr); }, "VELTRA:ry:invalidFieldName"},
        {"a null array", [&] { ryGetM(nullptr); }, "VELTRA:ry:nullArray"},
        {"a null array's scalar", [&] { ryGetScalar(nullptr); }, "VELTRA:ry:nullArray"},
        {"a null array's count", [&] { ryGetNumberOfElements(nullptr); }, "VELTRA:ry:nullArray"},
        {"duplicate field names", [] {
             const char* twice[] = {"a", "a"};
             ryCreateStructMatrix(1, 1, 2, twice);
         }, "VELTRA:ry:duplicateFieldName"},
    };
    for (const Case& c : cases) EXPECT_EQ(errorOf(c.action), c.identifier) << c.what;
    EXPECT_EQ(ryGetCell(inner, 0), value);  // nothing moved
    ryDestroyArray(outer);
    ryDestroyArray(record);
}

TEST(Structs, FieldsCanBeAddedRemovedAndFound) {
    const char* fields[] = {"alpha", "beta"};
    ryArray* s = ryCreateStructMatrix(2, 1, 2, fields);
    rySetField(s, 1, "beta", ryCreateDoubleScalar(2));
    rySetField(s, 0, "alpha", ryCreateDoubleScalar(1));
    EXPECT_EQ(ryAddField(s, "gamma"), 2);
    EXPECT_EQ(ryAddField(s, "beta"), 1);
    EXPECT_EQ(ryAddField(s, "not valid"), -1);
    rySetField(s, 1, "delta", ryCreateDoubleScalar(4));  // added on the way
    EXPECT_EQ(ryGetNumberOfFields(s), 4);
    EXPECT_EQ(ryGetScalar(ryGetField(s, 1, "beta")), 2.0);
    EXPECT_EQ(ryGetScalar(ryGetField(s, 1, "delta")), 4.0);
    EXPECT_EQ(ryGetField(s, 0, "gamma"), nullptr);
    ryRemoveField(s, ryGetFieldNumber(s, "alpha"));
    EXPECT_EQ(ryGetFieldNumber(s, "alpha"), -1);
    EXPECT_STREQ(ryGetFieldNameByNumber(s, 0), "beta");
    EXPECT_EQ(ryGetScalar(ryGetFieldByNumber(s, 1, 0)), 2.0);
    EXPECT_EQ(ryGetScalar(ryGetFieldByNumber(s, 1, 2)), 4.0);
    EXPECT_EQ(ryGetField(s, 5, "beta"), nullptr);
    EXPECT_EQ(host::ryGetField(s, 1, "beta"), ryGetField(s, 1, "beta"));
    ryDestroyArray(s);
}

TEST(Structs, ReshapingDropsElementsThatNoLongerFit) {
    const auto before = liveCounts();
    const char* fields[] = {"v"};
    ryArray* s = ryCreateStructMatrix(1, 3, 1, fields);
    for (int i = 0; i < 3; ++i) rySetField(s, i, "v", ryCreateDoubleScalar(i));
    rySetN(s, 2);
    EXPECT_EQ(liveCounts().arrays, before.arrays + 3);
    EXPECT_EQ(ryGetScalar(ryGetField(s, 1, "v")), 1.0);
    rySetN(s, 4);
    EXPECT_EQ(ryGetField(s, 3, "v"), nullptr);
    ryDestroyArray(s);
    EXPECT_EQ(liveCounts().arrays, before.arrays);
}

class Objects : public ::testing::Test {
protected:
    void SetUp() override {
        vhost::ry::registerClass({"test.Shape", {}});
        vhost::ry::registerClass({"test.Circle", {"test.Shape"}});
        vhost::ry::registerClass({"test.Node", {"handle"}});
        vhost::ry::registerClass({"test.Leaf", {"test.Node"}});
    }
    void TearDown() override {
        for (const char* name : {"test.Shape", "test.Circle", "test.Node", "test.Leaf"})
            vhost::ry::unregisterClass(name);
    }
    static ryArray* object(const char* className) { return vhost::ry::newObjectArray(className, {1, 1}); }
    static double property(const ryArray* o, const char* name) {
        ryArray* value = host::ryGetProperty(o, 0, name);
        const double v = value ? ryGetScalar(value) : -1;
        ryDestroyArray(value);
        return v;
    }
    static void setProperty(ryArray* o, const char* name, double v) {
        host::ryUnique value(ryCreateDoubleScalar(v));
        host::rySetPropertyShared(o, 0, std::u16string(name, name + std::char_traits<char>::length(name)), value.get());
    }
};

TEST_F(Objects, IsAFollowsSuperclassesAndIsClassDoesNot) {
    ryArray* circle = object("test.Circle");
    ryArray* leaf = object("test.Leaf");
    ryArray* number = ryCreateDoubleScalar(1);
    struct Case {
        const ryArray* array;
        const char* name;
        bool isA, isClass;
    } cases[] = {
        {circle, "test.Circle", true, true}, {circle, "test.Shape", true, false}, {circle, "handle", false, false},
        {leaf, "test.Node", true, false},    {leaf, "handle", true, false},      {leaf, "test.Shape", false, false},
        {number, "double", true, true},      {number, "single", false, false},   {nullptr, "double", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(host::ryIsA(c.array, c.name), c.isA) << c.name;
        EXPECT_EQ(host::ryIsClass(c.array, c.name), c.isClass) << c.name;
    }
    EXPECT_STREQ(ryGetClassName(circle), "test.Circle");
    EXPECT_EQ(ryGetClassID(circle), ryOBJECT_CLASS);
    for (ryArray* a : {circle, leaf, number}) ryDestroyArray(a);
}

TEST_F(Objects, ValueObjectCopiesAreIndependentHandleObjectCopiesAreTheSameObject) {
    ryArray* value = object("test.Circle");
    ryArray* handle = object("test.Leaf");
    setProperty(value, "r", 1);
    setProperty(handle, "r", 1);
    host::ryUnique valueCopy = host::do_deep_copy(value);
    host::ryUnique valueShared = host::do_shared_copy(value);
    host::ryUnique handleCopy = host::do_deep_copy(handle);
    setProperty(valueShared.get(), "r", 2);
    setProperty(handleCopy.get(), "r", 3);
    EXPECT_EQ(property(value, "r"), 1.0);
    EXPECT_EQ(property(valueCopy.get(), "r"), 1.0);
    EXPECT_EQ(property(valueShared.get(), "r"), 2.0);
    EXPECT_EQ(property(handle, "r"), 3.0);
    EXPECT_EQ(property(handle, "missing"), -1.0);
    ryArray* read = host::ryGetProperty(value, 0, "r");  // a copy the caller owns
    ryGetPr(read)[0] = 6;
    EXPECT_EQ(property(value, "r"), 1.0);
    ryDestroyArray(read);
    ryDestroyArray(value);
    ryDestroyArray(handle);
    EXPECT_EQ(property(handleCopy.get(), "r"), 3.0);  // the object lives while a handle does
}

TEST(FunctionHandles, CarryTheirPayloadThroughCopies) {
    auto payload = std::make_shared<int>(17);
    ryArray* f = vhost::ry::newFunctionHandle("@sin", payload);
    host::ryUnique copy = host::do_deep_copy(f);
    EXPECT_TRUE(ryIsFunctionHandle(copy.get()));
    EXPECT_STREQ(ryGetClassName(copy.get()), "function_handle");
    EXPECT_EQ(copy->function()->payload, payload);
    EXPECT_EQ(copy->function()->text, "@sin");
    vhost::ry::destroy(f);
}

}  // namespace
