#include <gtest/gtest.h>

#include "C/system/ErrorReport.h"
#include "support/TempFolder.h"
#include "system/Alerts.h"

namespace vigil {
namespace {

using Json = nlohmann::json;

// The settings file as a person may have edited it: one rule changed, one that makes no sense,
// one of a later version, and the rest left to their defaults.
TEST(AlertRules, StoredRulesOverDefaultsBadOnesRefusedOnceNothingStoredLost) {
    test::TempFolder folder;
    test::writeText(folder / "alerts.json", R"({"alertRules": {
        "processorBusy": {"warnLevel": 95, "clearLevel": 80, "minDuration": 300},
        "memoryLow": {"warnLevel": 20, "clearLevel": 5},
        "batteryLow": {"enabled": false},
        "gpuBusy": {"warnLevel": 99}
    }})");
    Defaults defaults("alerts", folder.path());
    ErrorReport::shared().forget("Error: alert rules");

    testing::internal::CaptureStderr();
    auto rules = alertRules(defaults);
    const std::string errors = testing::internal::GetCapturedStderr();

    ASSERT_EQ(rules.size(), allAlertKinds().size());
    EXPECT_EQ(rules[0].kind, AlertKind::processorBusy);
    EXPECT_EQ(rules[0].warnLevel, 95);
    EXPECT_EQ(rules[0].clearLevel, 80);
    EXPECT_EQ(rules[0].minDuration, std::chrono::seconds(300));
    EXPECT_TRUE(rules[0].enabled);
    // Clear level below the warning level of a rule that fires below it: the defaults.
    EXPECT_EQ(rules[1].kind, AlertKind::memoryLow);
    EXPECT_EQ(rules[1].warnLevel, 10);
    EXPECT_EQ(rules[1].clearLevel, 15);
    EXPECT_EQ(rules[1].minDuration, std::chrono::seconds(60));
    EXPECT_EQ(errors,
              "Error: alert rules -- the stored rule \"memoryLow\" makes no sense and is left "
              "out; its defaults apply\n");
    const auto battery = rules[6];
    EXPECT_EQ(battery.kind, AlertKind::batteryLow);
    EXPECT_FALSE(battery.enabled);
    EXPECT_EQ(battery.warnLevel, 10);
    EXPECT_EQ(rules[7].kind, AlertKind::driveHealth);
    EXPECT_TRUE(rules[7].enabled);
    EXPECT_EQ(rules[8].kind, AlertKind::connectionBack);
    EXPECT_TRUE(rules[8].enabled);

    // Reading again in the same minute writes no second line.
    testing::internal::CaptureStderr();
    alertRules(defaults);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // The settings view writes the rules back: what it changed is kept, and so is the entry this
    // version does not know.
    rules[5].warnLevel = 8;
    rules[5].notifyCleared = true;
    setAlertRules(rules, defaults);
    const auto file = Json::parse(test::readText(folder / "alerts.json"));
    EXPECT_EQ(file["alertRules"]["gpuBusy"], Json::parse(R"({"warnLevel": 99})"));
    EXPECT_EQ(file["alertRules"]["temperatureHigh"]["warnLevel"], 8);
    const auto reread = alertRules(defaults);
    EXPECT_EQ(reread[5].warnLevel, 8);
    EXPECT_TRUE(reread[5].notifyCleared);
    EXPECT_EQ(reread[0].warnLevel, 95);
}

TEST(AlertRules, ASettingThatIsNoObjectLeavesEveryDefault) {
    test::TempFolder folder;
    test::writeText(folder / "alerts.json", R"({"alertRules": [1, 2]})");
    Defaults defaults("alerts", folder.path());
    ErrorReport::shared().forget("Error: alert rules");
    testing::internal::CaptureStderr();
    const auto rules = alertRules(defaults);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("\"alertRules\" is no object"), std::string::npos) << errors;
    for (const auto& rule : rules) {
        const auto fallback = defaultAlertRule(rule.kind);
        EXPECT_EQ(rule.warnLevel, fallback.warnLevel);
        EXPECT_EQ(rule.enabled, fallback.enabled);
    }
    EXPECT_EQ(Json::parse(test::readText(folder / "alerts.json"))["alertRules"], Json({1, 2}));
}

}  // namespace
}  // namespace vigil
