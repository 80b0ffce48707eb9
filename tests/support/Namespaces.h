#pragma once

#include <functional>
#include <string>

namespace vigil::test {

// Runs `body` in a forked child with a network namespace and a mount namespace of its own (with a
// fresh sysfs on /sys, so /sys/class/net shows the child's links). GoogleTest assertions in the
// body count: the child exits non-zero when any failed. Returns "" when the body ran and passed,
// otherwise why it did not (for GTEST_SKIP or a failure message).
struct NamespaceOutcome {
    bool ran = false;
    bool passed = false;
    std::string reason;
};
NamespaceOutcome runInNetworkNamespace(const std::function<void()>& body, int timeoutSeconds = 60);

// Runs a shell command, returning its exit status (127 when it could not be run).
int shell(const std::string& command);

}  // namespace vigil::test

// Runs the body in fresh namespaces; skips with the reason when namespaces are not available.
#define VIGIL_IN_NETWORK_NAMESPACE(body)                                 \
    do {                                                                 \
        const auto outcome = ::vigil::test::runInNetworkNamespace(body); \
        if (!outcome.ran)                                                \
            GTEST_SKIP() << outcome.reason;                              \
        EXPECT_TRUE(outcome.passed) << outcome.reason;                   \
    } while (0)
