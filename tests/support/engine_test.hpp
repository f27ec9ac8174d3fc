// A fresh engine bound to the test's thread, as a host binds its engines, with the runtime
// attached to the reference host.
#pragma once

#include <gtest/gtest.h>

#include "vhost/boot/boot.hpp"
#include "vhost/engine/engine.hpp"

namespace orbtest {

class AttachedEngineTest : public testing::Test {
protected:
    struct Attached {
        Attached() { vhost::boot::attachRuntime(); }
    } m_attached;
    vhost::Engine m_engine;
    vhost::EngineScope m_scope{m_engine};
};

}  // namespace orbtest
