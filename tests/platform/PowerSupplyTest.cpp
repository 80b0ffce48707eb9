#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/PowerSupply.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

using namespace std::string_literals;

// A power_supply uevent as the kernel sends it when an ACPI battery changes.
const std::string kBatteryChange =
    "change@/devices/LNXSYSTM:00/LNXSYBUS:00/PNP0C0A:00/power_supply/BAT0\0"
    "ACTION=change\0"
    "DEVPATH=/devices/LNXSYSTM:00/LNXSYBUS:00/PNP0C0A:00/power_supply/BAT0\0"
    "SUBSYSTEM=power_supply\0"
    "POWER_SUPPLY_NAME=BAT0\0"
    "POWER_SUPPLY_TYPE=Battery\0"
    "POWER_SUPPLY_STATUS=Discharging\0"
    "POWER_SUPPLY_PRESENT=1\0"
    "POWER_SUPPLY_CAPACITY=74\0"
    "SEQNUM=4242\0"s;

const std::string kNetChange =
    "change@/devices/virtual/net/lo\0ACTION=change\0DEVPATH=/devices/virtual/net/lo\0"
    "SUBSYSTEM=net\0INTERFACE=lo\0IFINDEX=1\0SEQNUM=841\0"s;

const PowerSupplyInfo* find(const std::vector<PowerSupplyInfo>& list, const std::string& name) {
    for (const auto& s : list) {
        if (s.name == name)
            return &s;
    }
    return nullptr;
}

TEST(PowerSupplyTest, ParsesIntegersAndRejectsGarbage) {
    EXPECT_EQ(parsePowerSupplyInteger("4000000\n"), 4000000);
    EXPECT_EQ(parsePowerSupplyInteger("-1500000\n"), -1500000);
    EXPECT_EQ(parsePowerSupplyInteger(" +12\n"), 12);
    for (const char* bad :
         {"", "\n", "abc\n", "12.5\n", "1.5e6", "-", "99999999999999999999999", "12 13"}) {
        EXPECT_EQ(parsePowerSupplyInteger(bad), std::nullopt) << bad;
    }
}

TEST(PowerSupplyTest, ReadsTheDocumentedAttributesOfEachSupply) {
    const auto list = PowerSupply(test::fixturePath("power-charging")).list();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "AC");  // sorted by name
    EXPECT_TRUE(list[0].isExternalSource());
    EXPECT_EQ(list[0].online, true);
    const auto* bat = find(list, "BAT0");
    ASSERT_NE(bat, nullptr);
    EXPECT_TRUE(bat->isBattery());
    EXPECT_EQ(bat->status, "Charging");
    EXPECT_EQ(bat->chargeNow, 2000000);
    EXPECT_EQ(bat->chargeFullDesign, 4400000);
    EXPECT_EQ(bat->temp, 305);
    EXPECT_EQ(bat->timeToFullNow, 7500);
    EXPECT_EQ(bat->energyNow, std::nullopt);
    EXPECT_EQ(bat->manufactureYear, 2016);
}

TEST(PowerSupplyTest, MissingTreeVanishedAndGarbageAttributesAreEmpty) {
    EXPECT_TRUE(PowerSupply("/nonexistent-root-for-vigil").list().empty());

    const auto vanished = PowerSupply(test::fixturePath("power-vanished")).list();
    const auto* bat = find(vanished, "BAT0");
    ASSERT_NE(bat, nullptr);
    EXPECT_EQ(bat->chargeNow, std::nullopt);
    EXPECT_EQ(bat->currentNow, std::nullopt);
    EXPECT_EQ(bat->chargeFull, 4000000);

    testing::internal::CaptureStderr();
    PowerSupply garbage(test::fixturePath("power-garbage"));
    const auto list = garbage.list();
    garbage.list();  // a second read does not repeat the error lines
    const std::string errors = testing::internal::GetCapturedStderr();
    bat = find(list, "BAT0");
    ASSERT_NE(bat, nullptr);
    EXPECT_EQ(bat->chargeNow, std::nullopt);
    EXPECT_EQ(bat->voltageNow, std::nullopt);
    EXPECT_EQ(bat->temp, std::nullopt);
    EXPECT_EQ(bat->chargeFull, 4000000);
    EXPECT_EQ(find(list, "AC")->online, std::nullopt);
    EXPECT_NE(errors.find("Error: power_supply BAT0/charge_now -- not an integer: \"abc\""),
              std::string::npos)
        << errors;
    size_t lines = 0;
    for (char c : errors)
        lines += c == '\n';
    EXPECT_EQ(lines, 8u) << errors;
}

TEST(PowerSupplyTest, ParsesKernelUevents) {
    const auto event = parseUevent(kBatteryChange);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->action, "change");
    EXPECT_EQ(event->devpath, "/devices/LNXSYSTM:00/LNXSYBUS:00/PNP0C0A:00/power_supply/BAT0");
    EXPECT_EQ(event->subsystem(), "power_supply");
    EXPECT_EQ(event->properties.at("POWER_SUPPLY_CAPACITY"), "74");

    EXPECT_EQ(parseUevent(kNetChange)->subsystem(), "net");
    // udev's re-broadcast, a header without '@', an empty message, a body that contradicts it.
    EXPECT_FALSE(parseUevent("libudev\0\xfe\xed\xca\xfe"s));
    EXPECT_FALSE(parseUevent("change/devices/x\0SUBSYSTEM=power_supply\0"s));
    EXPECT_FALSE(parseUevent(""));
    EXPECT_FALSE(parseUevent("add@/devices/x\0ACTION=remove\0"s));
    // Without a trailing NUL and with junk entries it still parses what is there.
    const auto truncated = parseUevent("add@/devices/y\0junk\0=x\0SUBSYSTEM=power_supply"s);
    ASSERT_TRUE(truncated);
    EXPECT_EQ(truncated->subsystem(), "power_supply");
}

TEST(PowerSupplyTest, MonitorDeliversOnlyItsSubsystemFromASocket) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, fds), 0);
    std::mutex mutex;
    std::vector<std::string> seen;
    std::atomic<int> count{0};
    {
        UeventMonitor monitor(fds[0], "power_supply", [&](const Uevent& event) {
            std::lock_guard lock(mutex);
            seen.push_back(event.devpath);
            ++count;
        });
        for (const std::string& message :
             {kNetChange, "libudev\0junk"s, kBatteryChange, "garbage"s, kBatteryChange}) {
            ASSERT_EQ(::send(fds[1], message.data(), message.size(), 0),
                      static_cast<ssize_t>(message.size()));
        }
        ASSERT_TRUE(test::waitUntil([&] { return count.load() >= 2; }));
    }  // the monitor stops and joins here
    ::close(fds[1]);
    std::lock_guard lock(mutex);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "/devices/LNXSYSTM:00/LNXSYBUS:00/PNP0C0A:00/power_supply/BAT0");
}

TEST(PowerSupplyTest, ReceiveTellsEventsDropsAndFailures) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, fds), 0);
    UeventMonitor::ReceiveStatus status;
    EXPECT_FALSE(UeventMonitor::receive(fds[0], &status));
    EXPECT_EQ(status, UeventMonitor::ReceiveStatus::empty);
    ASSERT_GT(::send(fds[1], kBatteryChange.data(), kBatteryChange.size(), 0), 0);
    ASSERT_GT(::send(fds[1], "junk", 4, 0), 0);
    EXPECT_TRUE(UeventMonitor::receive(fds[0], &status));
    EXPECT_EQ(status, UeventMonitor::ReceiveStatus::event);
    EXPECT_FALSE(UeventMonitor::receive(fds[0], &status));
    EXPECT_EQ(status, UeventMonitor::ReceiveStatus::dropped);
    EXPECT_FALSE(UeventMonitor::receive(-1, &status));
    EXPECT_EQ(status, UeventMonitor::ReceiveStatus::closed);
    ::close(fds[1]);
    ::close(fds[0]);
}

TEST(PowerSupplyTest, MonitorHearsTheKernelsOwnSocket) {
    VIGIL_REQUIRE_ROOT();
    const int fd = UeventMonitor::openKernelSocket();
    if (fd < 0)
        GTEST_SKIP() << "no NETLINK_KOBJECT_UEVENT socket here";
    std::atomic<int> count{0};
    UeventMonitor monitor(fd, "net", [&](const Uevent& event) {
        if (event.devpath == "/devices/virtual/net/lo" && event.action == "change")
            ++count;
    });
    // Writing an action to a device's uevent file makes the kernel broadcast that event.
    std::ofstream trigger("/sys/devices/virtual/net/lo/uevent");
    trigger << "change" << std::flush;
    if (!trigger)
        GTEST_SKIP() << "/sys is read-only here: cannot make the kernel send a uevent";
    trigger.close();
    EXPECT_TRUE(test::waitUntil([&] { return count.load() >= 1; }));
}

}  // namespace
}  // namespace vigil
