#include "C/system/ErrorReport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vigil {
namespace {

using namespace std::chrono_literals;

// A source that stays broken, beside another one, over a little more than a minute of a clock the
// test moves itself.
TEST(ErrorReportTest, EachCauseIsWrittenOnceAMinute) {
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    std::vector<std::string> lines;
    ErrorReport report([&] { return now; },
                       [&](const std::string& line) { lines.push_back(line); });

    EXPECT_TRUE(report.report("read", "/proc/stat: Permission denied"));
    now += 10s;
    EXPECT_FALSE(report.report("read", "/proc/stat: Permission denied"));
    EXPECT_TRUE(report.report("read", "/proc/meminfo: Permission denied"));
    // A narrower cause, the file and its error: the same file read by another caller is not news.
    const std::string denied = "/proc/loadavg: Permission denied";
    EXPECT_TRUE(report.report("cpu ticks", denied, denied));
    EXPECT_FALSE(report.report("load average", denied, denied));
    now += 49s;
    EXPECT_FALSE(report.report("read", "/proc/stat: Permission denied"));
    now += 1s;  // a minute after the first line
    EXPECT_TRUE(report.report("read", "/proc/stat: Permission denied"));
    report.note("the stored theme 7 names no theme; using the light one");
    report.reportEach("settings file /s.json is not valid JSON -- moved aside");
    report.reportEach("settings file /s.json is not valid JSON -- moved aside");

    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Error: read -- /proc/stat: Permission denied",
                         "Error: read -- /proc/meminfo: Permission denied",
                         "Error: cpu ticks -- /proc/loadavg: Permission denied",
                         "Error: read -- /proc/stat: Permission denied",
                         "Vigil: the stored theme 7 names no theme; using the light one",
                         "Error: settings file /s.json is not valid JSON -- moved aside",
                         "Error: settings file /s.json is not valid JSON -- moved aside",
                     }));
}

// A source that recovered is forgotten by its owner: its next failure is written at once, while the
// other causes stay quiet.
TEST(ErrorReportTest, ForgettingACallerLeavesTheOthersQuiet) {
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    std::vector<std::string> lines;
    ErrorReport report([&] { return now; },
                       [&](const std::string& line) { lines.push_back(line); });
    report.report("Notification Notify", "no server");
    report.report("poll", "Interrupted system call");
    report.forget("Error: Notification ");
    now += 5s;
    EXPECT_TRUE(report.report("Notification Notify", "no server"));
    EXPECT_FALSE(report.report("poll", "Interrupted system call"));
    EXPECT_EQ(lines.size(), 3u);
}

}  // namespace
}  // namespace vigil
