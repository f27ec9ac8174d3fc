// A fresh engine bound to the test's thread, and helpers to run the language on it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host/exceptions.hpp"
#include "support/engine_test.hpp"
#include "vhost/engine/engine.hpp"
#include "vhost/lang/interpreter.hpp"
#include "vhost/lang/workspace.hpp"
#include "vhost/ut/output.hpp"

class LangTest : public ::testing::Test {
protected:
    // What `statements` print.
    static std::string run(const std::string& statements) { return orbtest::printed(statements); }
    // The identifier of the error `statements` raise ("<none>" when they raise nothing).
    static std::string errorOf(const std::string& statements) {
        try {
            vhost::OutputCapture quiet;
            vhost::lang::evaluate(statements);
        } catch (const host::UserException& error) {
            return error.identifier();
        }
        return "<none>";
    }
    static const ryArray* base(const std::string& name) { return vhost::lang::workspaces().base().find(name); }

    vhost::Engine m_engine{"lang test"};
    vhost::EngineScope m_scope{m_engine};
};
