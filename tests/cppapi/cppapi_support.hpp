// What the C++ service tests share: an engine handle on an engine of the test's own, and the
// text of a char array.
#pragma once

#include <string>

#include "cppapi/engine_handle.hpp"
#include "loader/cpp_lifecycle.hpp"
#include "support/engine_test.hpp"
#include "vhost/dataarray/impl.hpp"

namespace cppapitest {

inline std::u16string charText(const host::data::Array& array) {
    const auto& impl = *array.impl();
    return std::u16string(static_cast<const char16_t*>(vhost::data::elementData(impl)), impl.count());
}

class EngineHandleTest : public orbtest::AttachedEngineTest {
protected:
    orb::cppapi::OrbFunctionImpl* m_handle = orb::cppapi::makeEngineHandle(u"tester");
    ~EngineHandleTest() override { orbDestroyFunctionImpl(m_handle); }
};

}  // namespace cppapitest
