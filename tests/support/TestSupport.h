#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

namespace vigil::test {

// The folder of a fixture machine: tests/fixtures/<name>.
std::string fixturePath(const std::string& name);

// Runs the main queue on this thread until the condition holds or the deadline passes.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::seconds(10));

bool isRoot();

}  // namespace vigil::test

// Skips the test with a reason when not running as root.
#define VIGIL_REQUIRE_ROOT()                                \
    do {                                                    \
        if (!::vigil::test::isRoot())                       \
            GTEST_SKIP() << "needs root (CI runs as root)"; \
    } while (0)
