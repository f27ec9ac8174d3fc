// The data-array library: conversions to and from host arrays, reference counting, and the
// plain C interface modules use.
#include <gtest/gtest.h>

#include <orb_data.h>

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/dataarray.hpp"
#include "host/ry.hpp"
#include "vhost/dataarray/impl.hpp"
#include "vhost/ry/class_registry.hpp"
#include "vhost/ry/lifetime.hpp"

namespace ry = vhost::ry;
using host::data::Array;
using host::data::ArrayFactory;
using host::data::ArrayType;

namespace {

// Live implementation objects and host arrays, for checking that a run leaves nothing behind.
struct Live {
    std::size_t impls = vhost::data::liveArrayCount();
    std::size_t hosts = ry::liveCounts().arrays;
    void expectUnchanged() const {
        EXPECT_EQ(vhost::data::liveArrayCount(), impls);
        EXPECT_EQ(ry::liveCounts().arrays, hosts);
    }
};

ryArray* numeric(ryClassID cls, std::vector<std::size_t> dims, bool complex) {
    ryArray* a = ry::newDataArray(std::move(dims), cls, complex, ry::Layout::Interleaved, false);
    auto* bytes = static_cast<unsigned char*>(a->writableNumeric()->interleaved(ry::Access::Write));
    const std::size_t n = a->numberOfElements() * a->numeric()->elementSize() * (complex ? 2 : 1);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    if (cls == ryLOGICAL_CLASS)
        for (std::size_t i = 0; i < n; ++i) bytes[i] &= 1;
    return a;
}

// Structural equality of two host arrays: class, dimensions, complexity, data, elements, objects.
void expectSame(const ryArray* a, const ryArray* b) {
    ASSERT_EQ(a == nullptr, b == nullptr);
    if (!a) return;
    ASSERT_EQ(a->classId(), b->classId());
    EXPECT_EQ(a->dims(), b->dims());
    EXPECT_EQ(a->isComplex(), b->isComplex());
    if (a->numeric()) {
        const std::size_t n = a->numberOfElements() * a->numeric()->elementSize() * (a->isComplex() ? 2 : 1);
        EXPECT_EQ(0, std::memcmp(a->numeric()->interleaved(ry::Access::Read), b->numeric()->interleaved(ry::Access::Read), n));
    } else if (a->cell()) {
        for (std::size_t i = 0; i < a->cell()->elements.size(); ++i) expectSame(a->cell()->elements[i], b->cell()->elements[i]);
    } else if (a->structure()) {
        EXPECT_EQ(a->structure()->fields, b->structure()->fields);
        for (std::size_t i = 0; i < a->structure()->values.size(); ++i)
            expectSame(a->structure()->values[i], b->structure()->values[i]);
    } else if (a->object()) {
        EXPECT_EQ(a->className(), b->className());
        if (a->object()->handle) {
            EXPECT_EQ(a->object()->state, b->object()->state);
        }
    } else if (a->function()) {
        EXPECT_EQ(a->function()->text, b->function()->text);
    }
}

class DataArrays : public ::testing::Test {
protected:
    void SetUp() override {
        ry::registerClass({"test.Point", {}});
        ry::registerClass({"test.Node", {"handle"}});
    }
    void TearDown() override {
        for (const char* name : {"test.Point", "test.Node"}) ry::unregisterClass(name);
    }
};

TEST_F(DataArrays, HostArraysRoundTripExactly) {
    struct Case {
        const char* name;
        std::function<ryArray*()> make;
        ArrayType type;
    };
    const Case cases[] = {
        {"double", [] { return numeric(ryDOUBLE_CLASS, {2, 3}, false); }, ArrayType::DOUBLE},
        {"single 3-d", [] { return numeric(rySINGLE_CLASS, {2, 1, 2}, false); }, ArrayType::SINGLE},
        {"complex double", [] { return numeric(ryDOUBLE_CLASS, {1, 3}, true); }, ArrayType::COMPLEX_DOUBLE},
        {"complex single", [] { return numeric(rySINGLE_CLASS, {2, 2}, true); }, ArrayType::COMPLEX_SINGLE},
        {"int8", [] { return numeric(ryINT8_CLASS, {3, 1}, false); }, ArrayType::INT8},
        {"uint16", [] { return numeric(ryUINT16_CLASS, {1, 4}, false); }, ArrayType::UINT16},
        {"int64 empty", [] { return numeric(ryINT64_CLASS, {0, 2}, false); }, ArrayType::INT64},
        {"uint64", [] { return numeric(ryUINT64_CLASS, {2, 2}, false); }, ArrayType::UINT64},
        {"logical", [] { return numeric(ryLOGICAL_CLASS, {2, 2}, false); }, ArrayType::LOGICAL},
        {"char", [] { return ry::newCharRow(u"p\u00e9\U0001F600"); }, ArrayType::CHAR},
        {"cell", [] {
             ryArray* c = ry::newCellArray({1, 3});
             ry::setCell(c, 0, numeric(ryINT32_CLASS, {1, 2}, false));
             ry::setCell(c, 2, ry::newCharRow(u"x"));
             return c;
         }, ArrayType::CELL},
        {"struct", [] {
             ryArray* s = ry::newStructArray({1, 2}, {"a", "b"});
             ry::setFieldValue(s, 1, 0, numeric(ryDOUBLE_CLASS, {1, 1}, true));
             ryArray* inner = ry::newCellArray({1, 1});
             ry::setCell(inner, 0, ry::newCharRow(u"deep"));
             ry::setFieldValue(s, 0, 1, inner);
             return s;
         }, ArrayType::STRUCT},
        {"value object", [] { return ry::newObjectArray("test.Point", {1, 2}); }, ArrayType::VALUE_OBJECT},
        {"handle object", [] { return ry::newObjectArray("test.Node", {1, 1}); }, ArrayType::HANDLE_OBJECT},
        {"function", [] { return ry::newFunctionHandle("@(x) x", nullptr); }, ArrayType::FUNCTION},
    };
    const Live live;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ryArray* original = c.make();
        Array a = host::data::createArrayFromRyArray(original);
        EXPECT_EQ(a.getType(), c.type);
        EXPECT_EQ(a.getDimensions(), original->dims());
        EXPECT_EQ(a.getNumberOfElements(), original->numberOfElements());
        ryArray* back = host::data::createRyArray(a);
        expectSame(original, back);
        if (original->numeric()) {
            EXPECT_EQ(original->sharedNumeric(), back->sharedNumeric()) << "data copied, not shared";
        }
        host::data::releaseRyArray(back);

        // Taken over instead of copied: a leaf array is held as it is, a container converted and
        // let go of.
        ryArray* taken = c.make();
        const bool container = taken->cell() || taken->structure();
        Array adopted = host::data::adoptRyArray(taken);
        EXPECT_EQ(adopted.getType(), c.type);
        EXPECT_EQ(adopted.impl()->host == taken, !container);
        back = host::data::createRyArray(adopted);
        expectSame(container ? original : taken, back);  // a handle object is another object
        host::data::releaseRyArray(back);
        ry::destroy(original);
    }
    live.expectUnchanged();
}

TEST_F(DataArrays, AnArrayTakenOverIsCopiedWhenItIsNotPlainAndGoneWhateverHappens) {
    const Live live;
    {
        // Marked reusable by the host: the data array gets a plain copy of it.
        ryArray* reusable = numeric(ryDOUBLE_CLASS, {1, 2}, false);
        reusable->setReusable(true);
        const ryArray* expected = numeric(ryDOUBLE_CLASS, {1, 2}, false);
        Array a = host::data::adoptRyArray(reusable);
        EXPECT_NE(a.impl()->host, reusable);
        EXPECT_FALSE(a.impl()->host->reusable());
        expectSame(a.impl()->host, expected);
        ry::destroy(const_cast<ryArray*>(expected));
    }
    // A class without a data-array type is refused, and the array is destroyed all the same.
    EXPECT_THROW(host::data::adoptRyArray(numeric(ryINT16_CLASS, {1, 1}, true)), std::invalid_argument);
    EXPECT_THROW(host::data::adoptRyArray(nullptr), std::invalid_argument);
    live.expectUnchanged();
}

TEST_F(DataArrays, ReferenceCountsBalanceOverSharingAndConversion) {
    const Live live;
    const double values[] = {1.5, -2, 3, 4};
    void* m = orbDataCreateNumericMatrix(static_cast<int>(ArrayType::DOUBLE), 2, 2, values);
    void* cell = orbDataCreateCellMatrix(1, 2);
    ASSERT_TRUE(m && cell);
    orbDataAddRef(m);
    Array held = Array::share(static_cast<host::data::ArrayImpl*>(m));
    ASSERT_EQ(orbDataSetCell(cell, 1, m), ORB_DATA_OK);
    orbDataRelease(m);
    orbDataRelease(m);  // now held only by `held` and the cell
    held = Array();
    void* got = nullptr;
    ASSERT_EQ(orbDataGetCell(cell, 1, &got), ORB_DATA_OK);
    ASSERT_EQ(got, m);
    double v = 0;
    ASSERT_EQ(orbDataGetElement(got, 1, &v), ORB_DATA_OK);
    EXPECT_EQ(v, -2);
    orbDataRelease(got);

    ryArray* host = host::data::createRyArray(Array::share(static_cast<host::data::ArrayImpl*>(cell)));
    orbDataRelease(cell);
    Array again = host::data::createArrayFromRyArray(host);
    host::data::releaseRyArray(host);
    ASSERT_EQ(orbDataGetCell(again.impl(), 1, &got), ORB_DATA_OK);
    ASSERT_EQ(orbDataGetElement(got, 0, &v), ORB_DATA_OK);
    EXPECT_EQ(v, 1.5);
    orbDataRelease(got);
    ASSERT_EQ(orbDataGetCell(again.impl(), 0, &got), ORB_DATA_OK);
    EXPECT_EQ(got, nullptr);
    again = Array();
    live.expectUnchanged();
}

// A container's borrowed host form is kept between calls: after any change of the container, of
// a container inside it, or of the data of an element it holds, it is what a fresh conversion
// gives on any thread, and a form borrowed before the change stays whole while it is held.
TEST_F(DataArrays, ABorrowedHostFormFollowsEveryChangeOfItsContentAndOutlivesItsHolders) {
    const Live live;
    {
        ArrayFactory factory;
        Array inner = factory.createStructArray({1, 1}, {"x"});
        Array element = factory.createScalarDouble(1);
        Array outer = factory.createCellArray({1, 3});
        factory.setCell(outer, 0, inner);
        factory.setCell(outer, 1, element);
        const std::vector<std::pair<const char*, std::function<void()>>> changes = {
            {"an element of the container set", [&] { factory.setCell(outer, 2, factory.createCharArray(u"new")); }},
            {"a field of a struct inside set", [&] { factory.setField(inner, 0, "x", factory.createScalarInt32(7)); }},
            {"the data of an element held elsewhere too written",
             [&] { *static_cast<double*>(vhost::data::writableElementData(*element.impl())) = 42; }},
        };
        for (const auto& [change, apply] : changes) {
            SCOPED_TRACE(change);
            host::data::FormKeep before;
            const ryArray* old = host::data::borrowRyArray(outer, before);
            const host::ryUnique oldCopy = host::do_deep_copy(old);
            apply();
            host::data::FormKeep after;
            const ryArray* now = host::data::borrowRyArray(outer, after);
            ryArray* fresh = host::data::createRyArray(outer);
            expectSame(now, fresh);
            std::thread([&] {  // another thread than the one whose form it is
                host::data::FormKeep there;
                expectSame(host::data::borrowRyArray(outer, there), fresh);
            }).join();
            expectSame(old, oldCopy.get());
            host::data::releaseRyArray(fresh);
        }
    }
    live.expectUnchanged();
}

TEST_F(DataArrays, FactoriesAndTypedReads) {
    const Live live;
    const float pairs[] = {1, 2, 3, 4};
    void* z = orbDataCreateNumericMatrix(static_cast<int>(ArrayType::COMPLEX_SINGLE), 1, 2, pairs);
    float pair[2] = {};
    EXPECT_EQ(orbDataGetElementSize(z), 2 * sizeof(float));
    ASSERT_EQ(orbDataGetElement(z, 1, pair), ORB_DATA_OK);
    EXPECT_EQ(pair[0], 3);
    EXPECT_EQ(pair[1], 4);
    EXPECT_EQ(orbDataGetElement(z, 2, pair), ORB_DATA_OUT_OF_RANGE);

    void* text = orbDataCreateCharArray(u"h\u00e9", 2);
    char16_t unit = 0;
    ASSERT_EQ(orbDataGetElement(text, 1, &unit), ORB_DATA_OK);
    EXPECT_EQ(unit, u'\u00e9');
    EXPECT_EQ(orbDataGetNumberOfDimensions(text), 2u);
    EXPECT_EQ(orbDataGetDimensions(text)[1], 2u);

    const char16_t* texts[] = {u"one", u""};
    const std::size_t lengths[] = {3, 0};
    void* strings = orbDataCreateStringArray(texts, lengths, 2);
    const char16_t* read = nullptr;
    std::size_t length = 9;
    ASSERT_EQ(orbDataGetString(strings, 0, &read, &length), ORB_DATA_OK);
    EXPECT_EQ(std::u16string(read, length), u"one");
    ASSERT_EQ(orbDataGetString(strings, 1, &read, &length), ORB_DATA_OK);
    EXPECT_EQ(length, 0u);

    const char* fields[] = {"id", "name"};
    void* s = orbDataCreateStructMatrix(2, 1, fields, 2);
    EXPECT_EQ(orbDataSetField(s, 1, "name", text), ORB_DATA_OK);
    EXPECT_STREQ(orbDataGetFieldName(s, 1), "name");
    void* field = nullptr;
    ASSERT_EQ(orbDataGetField(s, 1, "name", &field), ORB_DATA_OK);
    EXPECT_EQ(field, text);
    orbDataRelease(field);
    ASSERT_EQ(orbDataGetField(s, 0, "name", &field), ORB_DATA_OK);
    EXPECT_EQ(field, nullptr);

    Array u = ArrayFactory().createScalarUInt64(UINT64_MAX);
    std::uint64_t big = 0;
    ASSERT_EQ(orbDataGetElement(u.impl(), 0, &big), ORB_DATA_OK);
    EXPECT_EQ(big, UINT64_MAX);
    u = Array();
    for (void* p : {z, text, strings, s}) orbDataRelease(p);
    live.expectUnchanged();
}

TEST_F(DataArrays, RefusedRequestsLeaveNothingBehind) {
    const Live live;
    const char* bad[] = {"ok", "1st"};
    const char* twice[] = {"a", "a"};
    EXPECT_EQ(orbDataCreateStructMatrix(1, 1, bad, 2), nullptr);
    EXPECT_EQ(orbDataCreateStructMatrix(1, 1, twice, 2), nullptr);
    for (int type : {static_cast<int>(ArrayType::CELL), static_cast<int>(ArrayType::CHAR), static_cast<int>(ArrayType::STRING), 99})
        EXPECT_EQ(orbDataCreateNumericMatrix(type, 1, 1, nullptr), nullptr) << type;

    void* cell = orbDataCreateCellMatrix(1, 1);
    void* s = orbDataCreateStructMatrix(1, 1, bad, 1);
    void* d = orbDataCreateNumericMatrix(static_cast<int>(ArrayType::DOUBLE), 1, 1, nullptr);
    const char16_t* read = nullptr;
    std::size_t length = 0;
    void* out = nullptr;
    struct Case {
        const char* what;
        int status;
        int expected;
    } cases[] = {
        {"cell index past end", orbDataSetCell(cell, 1, d), ORB_DATA_OUT_OF_RANGE},
        {"cell element of a struct", orbDataSetCell(s, 0, d), ORB_DATA_BAD_ARGUMENT},
        {"unknown field", orbDataSetField(s, 0, "nope", d), ORB_DATA_BAD_ARGUMENT},
        {"field of a cell", orbDataGetField(cell, 0, "ok", &out), ORB_DATA_BAD_ARGUMENT},
        {"string of a double", orbDataGetString(d, 0, &read, &length), ORB_DATA_BAD_ARGUMENT},
        {"element of a cell", orbDataGetElement(cell, 0, &out), ORB_DATA_BAD_ARGUMENT},
        {"null array", orbDataGetCell(nullptr, 0, &out), ORB_DATA_BAD_ARGUMENT},
    };
    for (const Case& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;

    ryArray* complexInt = numeric(ryINT16_CLASS, {1, 1}, true);
    EXPECT_THROW(host::data::createArrayFromRyArray(complexInt), std::invalid_argument);
    ry::destroy(complexInt);
    Array strings = ArrayFactory().createStringArray({u"a"});
    EXPECT_THROW(host::data::createRyArray(strings), std::invalid_argument);
    // A cell that cannot be converted as a whole leaves no partial host array.
    Array wrapper = ArrayFactory().createCellArray({1, 2});
    ArrayFactory().setCell(wrapper, 0, ArrayFactory().createScalarInt32(1));
    ArrayFactory().setCell(wrapper, 1, strings);
    EXPECT_THROW(host::data::createRyArray(wrapper), std::invalid_argument);
    strings = wrapper = Array();
    for (void* p : {cell, s, d}) orbDataRelease(p);
    live.expectUnchanged();
}

}  // namespace
