// vigil-snapshot --history and --top over a history file written by the store.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>

#include "history/History.h"
#include "support/TempFolder.h"

namespace vigil {
namespace {

using nlohmann::json;

struct Outcome {
    int status = -1;
    std::string out, err;
};

Outcome snapshot(const test::TempFolder& scratch, const std::string& args) {
    const std::string out = scratch / "out", err = scratch / "err";
    const std::string command =
        std::string(VIGIL_TOOLS_DIR) + "/vigil-snapshot " + args + " >" + out + " 2>" + err;
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, test::readText(out), test::readText(err)};
}

TEST(VigilSnapshotHistory, PrintsSeriesInTheirTiersAndTheTopApplicationsOfAMinute) {
    if (::access((std::string(VIGIL_TOOLS_DIR) + "/vigil-snapshot").c_str(), X_OK) != 0)
        GTEST_SKIP() << "vigil-snapshot is not built (build the whole tree)";
    test::TempFolder scratch;
    const std::string file = scratch / "history.sqlite";
    using namespace std::chrono;
    const std::int64_t now =
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    // Two samples 90 minutes ago (in the minute tier only by now) and two a few seconds ago.
    const std::int64_t then = now - 90 * 60'000;
    const std::int64_t minute = then - then % 60'000;
    {
        History::Options options;
        options.path = file;
        History history(options);
        history.record("cpu.busy", minute + 1000, 30);
        history.record("cpu.busy", minute + 2000, 50);
        history.record("cpu.busy", now - 3000, 12.5);
        history.record("cpu.load1", now - 3000, 0.75);
        history.record("cpufreq.core0", now - 3000, 1);  // a name that only starts alike
        history.recordTop(now - 3000, "cpu", {{"Firefox", 41.5}, {"Terminal", 2}});
        history.recordTop(now - 3000, "mem", {{"Firefox", 1.5e9}});
    }
    const std::string from = " --history-file " + file;

    Outcome recent = snapshot(scratch, "--history cpu --since 1m" + from);
    ASSERT_EQ(recent.status, 0) << recent.err;
    const json series = json::parse(recent.out)["series"];
    EXPECT_EQ(series.size(), 2u) << series.dump();  // cpu.busy and cpu.load1, not cpufreq.core0
    EXPECT_EQ(series["cpu.busy"], json::parse(R"([{"time":)" + std::to_string(now - 3000) +
                                              R"(,"value":12.5,"tier":"raw"}])"));
    EXPECT_EQ(series["cpu.load1"][0]["value"], 0.75);
    // "1h" reaches exactly as far back as the samples are kept: the samples, not the minutes.
    Outcome hour = snapshot(scratch, "--history cpu.busy --since 1h" + from);
    ASSERT_EQ(hour.status, 0) << hour.err;
    EXPECT_EQ(json::parse(hour.out)["series"]["cpu.busy"], series["cpu.busy"]);

    Outcome older = snapshot(scratch, "--history cpu.busy --since 2h --until 1h" + from);
    ASSERT_EQ(older.status, 0) << older.err;
    EXPECT_EQ(json::parse(older.out)["series"]["cpu.busy"],
              json::parse(R"([{"time":)" + std::to_string(minute) +
                          R"(,"value":40.0,"max":50.0,"tier":"minute"}])"));

    Outcome top = snapshot(scratch, "--top " + std::to_string(now - 3000) + from);
    ASSERT_EQ(top.status, 0) << top.err;
    const json apps = json::parse(top.out);
    EXPECT_EQ(apps["cpu"], json::parse(R"([{"name":"Firefox","value":41.5},
                                           {"name":"Terminal","value":2.0}])"));
    EXPECT_EQ(apps["mem"][0]["value"], 1.5e9);

    Outcome unknown = snapshot(scratch, "--history disk" + from);
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("Error: history disk -- no such series recorded"), std::string::npos)
        << unknown.err;
    Outcome badTime = snapshot(scratch, "--history cpu --since yesterday" + from);
    EXPECT_EQ(badTime.status, 2);
}

}  // namespace
}  // namespace vigil
