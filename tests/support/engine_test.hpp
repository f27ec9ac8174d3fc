// A fresh engine bound to the test's thread, as a host binds its engines, with the runtime
// attached to the reference host; and what statements print when the host language runs them.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "vhost/boot/boot.hpp"
#include "vhost/engine/engine.hpp"
#include "vhost/lang/interpreter.hpp"
#include "vhost/ut/output.hpp"

namespace orbtest {

inline std::string printed(const std::string& statements) {
    vhost::OutputCapture output;
    vhost::lang::evaluate(statements);
    return output.text();
}

class AttachedEngineTest : public testing::Test {
protected:
    struct Attached {
        Attached() { vhost::boot::attachRuntime(); }
    } m_attached;
    vhost::Engine m_engine;
    vhost::EngineScope m_scope{m_engine};
};

}  // namespace orbtest
