#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/TestSupport.h"
#include "system/Battery.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

Battery::Options fixtureOptions(const std::string& root) {
    Battery::Options options;
    options.root = root;
    options.watchKernel = false;
    options.rereadInterval = 0;
    return options;
}

// A writable copy of a fixture machine.
struct MachineCopy {
    explicit MachineCopy(const std::string& scenario) {
        char pattern[] = "/tmp/vigil-battery-XXXXXX";
        root = ::mkdtemp(pattern);
        fs::copy(test::fixturePath(scenario), root,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    ~MachineCopy() { fs::remove_all(root); }
    void write(const std::string& supply, const std::string& attribute, const std::string& value) {
        std::ofstream(root + "/sys/class/power_supply/" + supply + "/" + attribute)
            << value << "\n";
    }
    std::string root;
};

TEST(BatteryTest, WithoutABatteryOnExternalPowerAndSilent) {
    Battery battery(fixtureOptions(test::fixturePath("power-no-battery")));
    EXPECT_FALSE(battery.hasBattery());
    EXPECT_TRUE(battery.isACPowered());
    EXPECT_EQ(battery.timeRemaining(), "Calculating..");
    EXPECT_EQ(battery.onBatteryChanged.fireCount(), 0);
    battery.update();
    EXPECT_EQ(battery.percent(), 0);
    EXPECT_EQ(battery.health(), std::nullopt);

    Battery nothing(fixtureOptions("/nonexistent-root-for-vigil"));
    EXPECT_FALSE(nothing.hasBattery());
    EXPECT_TRUE(nothing.isACPowered());
}

TEST(BatteryTest, ChargingBatteryFigures) {
    Battery battery(fixtureOptions(test::fixturePath("power-charging")));
    EXPECT_EQ(battery.type(), SystemResourceType::battery);
    EXPECT_TRUE(battery.hasBattery());
    EXPECT_TRUE(battery.installed());
    EXPECT_TRUE(battery.isACPowered());
    EXPECT_TRUE(battery.isCharging());
    EXPECT_FALSE(battery.isFullyCharged());
    EXPECT_EQ(battery.onBatteryChanged.fireCount(), 1);  // the first report, at construction
    EXPECT_EQ(battery.timeRemaining(), "2:05  until charged");
    EXPECT_EQ(battery.percent(), 50);
    EXPECT_EQ(battery.currentCapacity(), 2000);
    EXPECT_EQ(battery.maxCapacity(), 4000);
    EXPECT_EQ(battery.designCapacity(), 4400);
    EXPECT_EQ(battery.health(), 91);
    EXPECT_EQ(battery.temperature(), 30.5);
    EXPECT_EQ(battery.voltage(), 12000);
    EXPECT_EQ(battery.current(), 1000);
    EXPECT_EQ(battery.cycleCount(), 120);
    EXPECT_EQ(battery.condition(), "Normal");
    EXPECT_FALSE(battery.hasACondition());
    EXPECT_EQ(battery.manufactured(), "15 Mar 2016");
    EXPECT_NE(battery.age().find(" years"), std::string::npos);
}

TEST(BatteryTest, RemainingTimeTexts) {
    Battery discharging(fixtureOptions(test::fixturePath("power-discharging")));
    EXPECT_EQ(discharging.timeRemaining(), "2:00  remaining");
    EXPECT_FALSE(discharging.isACPowered());
    EXPECT_EQ(discharging.current(), -1500);
    Battery estimating(fixtureOptions(test::fixturePath("power-mains-offline")));
    EXPECT_EQ(estimating.timeRemaining(), "Calculating...");
    EXPECT_EQ(estimating.condition(), "Overheat");
    EXPECT_TRUE(estimating.hasACondition());
    Battery full(fixtureOptions(test::fixturePath("power-vanished")));
    EXPECT_TRUE(full.isFullyCharged());
    EXPECT_EQ(full.timeRemaining(), "");
    EXPECT_EQ(full.health(), 100);
}

TEST(BatteryTest, HealthIsCappedAtOneHundred) {
    MachineCopy machine("power-charging");
    machine.write("BAT0", "charge_full", "5000000");  // more than the 4400000 of its design
    Battery battery(fixtureOptions(machine.root));
    EXPECT_EQ(battery.health(), 100);
}

TEST(BatteryTest, KernelEventsReachTheMainQueueAndFireTheSignal) {
    MachineCopy machine("power-charging");
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, fds), 0);
    auto options = fixtureOptions(machine.root);
    options.ueventFd = fds[0];
    Battery battery(options);
    ASSERT_EQ(battery.percent(), 50);

    Trackable listener;
    std::thread::id firedOn;
    int fired = 0;
    battery.onBatteryChanged.listen(listener, [&] {
        firedOn = std::this_thread::get_id();
        ++fired;
    });

    // The adapter is pulled: the battery discharges at 1 A from 3000 mAh.
    machine.write("AC", "online", "0");
    machine.write("BAT0", "status", "Discharging");
    machine.write("BAT0", "charge_now", "3000000");
    machine.write("BAT0", "time_to_full_now", "0");
    const std::string event =
        "change@/devices/LNXSYSTM:00/LNXSYBUS:00/PNP0C0A:00/power_supply/BAT0\0ACTION=change\0"
        "DEVPATH=/devices/LNXSYSTM:00/LNXSYBUS:00/PNP0C0A:00/power_supply/BAT0\0"
        "SUBSYSTEM=power_supply\0POWER_SUPPLY_NAME=BAT0\0SEQNUM=99\0"s;
    // Another subsystem's event changes nothing.
    const std::string other = "add@/devices/virtual/net/veth0\0SUBSYSTEM=net\0"s;
    ASSERT_GT(::send(fds[1], other.data(), other.size(), 0), 0);
    ASSERT_GT(::send(fds[1], event.data(), event.size(), 0), 0);

    ASSERT_TRUE(test::waitUntil([&] { return fired >= 1; }));
    EXPECT_EQ(firedOn, std::this_thread::get_id());  // the thread that runs the main queue
    EXPECT_EQ(battery.percent(), 75);
    EXPECT_FALSE(battery.isACPowered());
    EXPECT_FALSE(battery.isCharging());
    EXPECT_EQ(battery.timeRemaining(), "3:00  remaining");
    EXPECT_EQ(battery.current(), -1000);
    ::close(fds[1]);
}

TEST(BatteryTest, PeriodicRereadPicksUpChanges) {
    MachineCopy machine("power-discharging");
    auto options = fixtureOptions(machine.root);
    options.rereadInterval = 0.05;
    Battery battery(options);
    ASSERT_EQ(battery.percent(), 75);
    machine.write("BAT0", "charge_now", "1000000");
    EXPECT_TRUE(test::waitUntil([&] { return battery.percent() == 25; }));
    EXPECT_GE(battery.onBatteryChanged.fireCount(), 2);
}

TEST(BatteryTest, GarbageIsReportedOnceAndGivesSafeFigures) {
    testing::internal::CaptureStderr();
    Battery battery(fixtureOptions(test::fixturePath("power-garbage")));
    battery.update();
    battery.update();
    const std::string errors = testing::internal::GetCapturedStderr();
    size_t lines = 0;
    for (char c : errors)
        lines += c == '\n';
    EXPECT_EQ(lines, 8u) << errors;  // one per bad attribute, not one per read
    EXPECT_TRUE(battery.hasBattery());
    EXPECT_EQ(battery.percent(), 0);
    EXPECT_EQ(battery.voltage(), std::nullopt);  // unknown, not 0
    EXPECT_EQ(battery.timeRemaining(), "Calculating...");
    EXPECT_EQ(battery.manufactured(), "");  // a year before 1980 is no date
}

TEST(BatteryTest, BatteryThatGoesAwayKeepsItsFigures) {
    MachineCopy machine("power-discharging");
    Battery battery(fixtureOptions(machine.root));
    fs::remove_all(machine.root + "/sys/class/power_supply/BAT0");
    battery.update();
    EXPECT_EQ(battery.percent(), 75);
    EXPECT_EQ(battery.maxCapacity(), 4000);
}

}  // namespace
}  // namespace vigil
