// Every fixture machine's snapshot.json is what vigil-snapshot prints for it, so one test guards
// every collector on every machine. After an intended change, write them again with
//   VIGIL_UPDATE_GOLDEN=1 build/asan/tests/test_tools --gtest_filter='GoldenSnapshot.*'
// and read the diff before committing it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/TestSupport.h"
#include "support/TestTree.h"

using nlohmann::ordered_json;

namespace {

// Figures that come from the running machine or the clock rather than from the fixture:
// the uptime (now minus the fixture's boot time), the live machine's processor count, each
// volume's size, use and sample time (statfs of the file system that holds the checkout), and the
// whole network resource: links, addresses and counters come through rtnetlink, which has no root,
// and the host name, router and name servers from the live configuration watch.
void dropLiveFigures(ordered_json& snapshot) {
    for (const char* key : {"uptime", "awakeTime", "sleepTime"})
        snapshot["cpu"].erase(key);
    snapshot.erase("network");
    snapshot["applications"].erase("activeLogicalCores");
    snapshot["disk"].erase("usage");
    for (auto& volume : snapshot["disk"]["volumes"])
        for (const char* key : {"total", "free", "used", "usagePercent", "timestamp"})
            volume.erase(key);
}

// The applications are the running user's processes: a fixture's /proc/<pid> folders belong to
// whoever checked the tree out, so the list is only compared when that is the one running the test.
bool fixtureProcessesAreOurs(const std::string& machine) {
    struct stat proc {};
    return ::stat((machine + "/proc").c_str(), &proc) != 0 || proc.st_uid == ::geteuid();
}

ordered_json snapshotOf(const std::string& machine) {
    vigil::test::TempTree scratch;
    // A private HOME: no desktop entries of the user running the tests.
    std::string command = "env -u XDG_DATA_HOME -u XDG_DATA_DIRS HOME=" + scratch.root + " " +
                          VIGIL_TOOLS_DIR + "/vigil-snapshot --interval 0 --root '" + machine +
                          "' >" + scratch.path("out") + " 2>/dev/null";
    int raw = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << command;
    ordered_json snapshot = ordered_json::parse(vigil::test::readText(scratch.path("out")));
    dropLiveFigures(snapshot);
    return snapshot;
}

}  // namespace

TEST(GoldenSnapshot, EveryFixtureMachinePrintsItsSnapshotJson) {
    if (::access(VIGIL_TOOLS_DIR "/vigil-snapshot", X_OK) != 0)
        GTEST_SKIP() << "vigil-snapshot is not built (build the whole tree)";
    const bool update = std::getenv("VIGIL_UPDATE_GOLDEN") != nullptr;
    int machines = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VIGIL_FIXTURES_DIR)) {
        if (!entry.is_directory())
            continue;
        ++machines;
        const std::string machine = entry.path().string();
        const std::string golden = machine + "/snapshot.json";
        SCOPED_TRACE(golden);
        ordered_json printed = snapshotOf(machine);
        if (update) {
            std::ofstream(golden, std::ios::trunc) << printed.dump(2) << "\n";
            continue;
        }
        std::ifstream stored(golden);
        ASSERT_TRUE(stored) << "missing; write it with VIGIL_UPDATE_GOLDEN=1";
        ordered_json expected = ordered_json::parse(stored);
        if (!fixtureProcessesAreOurs(machine)) {
            printed.erase("applications");
            expected.erase("applications");
        }
        // A tree's sensors are read through libsensors in a private mount namespace, which takes
        // root; elsewhere the tool prints none.
        if (::geteuid() != 0) {
            printed.erase("sensors");
            expected.erase("sensors");
        }
        // The patch names each figure that changed.
        EXPECT_EQ(printed, expected)
            << nlohmann::json::diff(nlohmann::json(expected), nlohmann::json(printed)).dump(1);
    }
    EXPECT_GE(machines, 20);
}
