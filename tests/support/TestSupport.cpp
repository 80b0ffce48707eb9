#include "support/TestSupport.h"

#include <unistd.h>

#include "runtime/RunLoop.h"

namespace vigil::test {

std::string fixturePath(const std::string& name) {
    return std::string(VIGIL_FIXTURES_DIR) + "/" + name;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    return RunLoop::runUntil(condition, deadline);
}

bool isRoot() {
    return geteuid() == 0;
}

}  // namespace vigil::test
