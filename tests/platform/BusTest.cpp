#include "platform/Bus.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "collectors/DiskData.h"
#include "support/SessionBus.h"
#include "support/TestSupport.h"

extern char** environ;

namespace vigil {
namespace {

namespace fs = std::filesystem;

#define VIGIL_REQUIRE_BUS(bus)                          \
    if ((bus).address().empty())                        \
    GTEST_SKIP() << "dbus-daemon could not be started " \
                    "(package dbus-daemon)"

TEST(Bus, CallsTheDaemonAndReportsErrorsInOneLine) {
    test::PrivateBus daemon;
    VIGIL_REQUIRE_BUS(daemon);
    std::string error;
    auto bus = Bus::open(daemon.address(), &error);
    ASSERT_TRUE(bus) << error;
    EXPECT_TRUE(bus->nameHasOwner("org.freedesktop.DBus", std::chrono::seconds(5), &error));
    EXPECT_FALSE(bus->nameHasOwner("org.freedesktop.UDisks2", std::chrono::seconds(5), &error));

    Bus::Target daemonTarget{"org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus"};
    auto id = bus->call(daemonTarget, "GetId", nullptr, std::chrono::seconds(5), &error);
    ASSERT_TRUE(id) << error;
    auto text = id->readString();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), 32u);

    // Nobody owns the name: a one-line error that names the call and the D-Bus error.
    error.clear();
    Bus::Target absent{"org.example.Absent", "/org/example", "org.example.Thing"};
    EXPECT_FALSE(bus->call(absent, "Poke", nullptr, std::chrono::seconds(5), &error));
    EXPECT_NE(error.find("org.example.Thing.Poke"), std::string::npos) << error;
    EXPECT_NE(error.find("org.freedesktop.DBus.Error."), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
}

TEST(Bus, CallToAPeerThatNeverAnswersTimesOut) {
    test::PrivateBus daemon;
    VIGIL_REQUIRE_BUS(daemon);
    auto caller = Bus::open(daemon.address());
    auto silent = Bus::open(daemon.address());  // never processes its messages
    ASSERT_TRUE(caller && silent);
    std::string unique = silent->uniqueName();
    ASSERT_FALSE(unique.empty());
    std::string error;
    Bus::Target target{unique, "/org/example", "org.example.Thing"};
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(caller->call(target, "Poke", nullptr, std::chrono::milliseconds(300), &error));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_FALSE(error.empty());
}

TEST(Bus, UnreachableAddressFailsWithAReason) {
    std::string error;
    EXPECT_FALSE(Bus::open("unix:path=/nonexistent-vigil/bus", &error));
    EXPECT_NE(error.find("/nonexistent-vigil/bus"), std::string::npos);
}

// UDisks2 as far as ejecting goes: the block, filesystem and drive objects of the fixture's USB
// stick (sdb with sdb1). udisksd itself needs udev and the system bus, which tests do not start.
class FakeUDisks {
  public:
    explicit FakeUDisks(const std::string& address, bool powerOff = true) {
        bus_ = Bus::open(address);
        if (!bus_)
            return;
        const std::string base = "/org/freedesktop/UDisks2/";
        const std::string drive = base + "drives/Flash_Disk_0001";
        auto record = [this](const std::string& path) {
            return [this, path](const std::string& member) {
                std::lock_guard lock(mutex_);
                calls_.push_back(member + " " + path);
            };
        };
        Bus::Interface filesystem{"org.freedesktop.UDisks2.Filesystem",
                                  {{"Unmount", record(base + "block_devices/sdb1")}},
                                  {}};
        Bus::Interface block{"org.freedesktop.UDisks2.Block", {}, {{"Drive", {'o', drive}}}};
        Bus::Interface driveInterface{
            "org.freedesktop.UDisks2.Drive",
            {{"Eject", record(drive)}, {"PowerOff", record(drive)}},
            {{"Ejectable", {'b', "", !powerOff}}, {"CanPowerOff", {'b', "", powerOff}}}};
        bus_->serve(base + "block_devices/sdb1", filesystem);
        bus_->serve(base + "block_devices/sdb", block);
        bus_->serve(drive, driveInterface);
        bus_->requestName("org.freedesktop.UDisks2");
        thread_ = std::thread([this] {
            while (!stop_ && bus_->process(std::chrono::milliseconds(50))) {
            }
        });
    }
    ~FakeUDisks() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    std::vector<std::string> calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

  private:
    std::unique_ptr<Bus> bus_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

TEST(Bus, EjectGoesThroughUDisksWhenItRuns) {
    test::PrivateBus daemon;
    VIGIL_REQUIRE_BUS(daemon);
    for (bool powerOff : {true, false}) {
        FakeUDisks udisks(daemon.address(), powerOff);
        DiskCollector::Options options;
        options.root = test::fixturePath("disk-desktop");
        options.busAddress = daemon.address();
        DiskCollector collector(options);
        auto outcome = collector.eject("/media/user/My Disk");
        EXPECT_TRUE(outcome.viaUDisks);
        EXPECT_TRUE(outcome.unmounted);
        EXPECT_TRUE(outcome.ejected);
        EXPECT_EQ(outcome.error, "");
        std::string last = powerOff ? "PowerOff /org/freedesktop/UDisks2/drives/Flash_Disk_0001"
                                    : "Eject /org/freedesktop/UDisks2/drives/Flash_Disk_0001";
        EXPECT_EQ(udisks.calls(),
                  (std::vector<std::string>{"Unmount /org/freedesktop/UDisks2/block_devices/sdb1",
                                            last}));
    }
}

TEST(Bus, EjectRefusesTheRootDisk) {
    DiskCollector::Options options;
    options.root = test::fixturePath("disk-desktop");
    options.useUDisks = false;
    DiskCollector collector(options);
    EXPECT_TRUE(collector.holdsRootFileSystem("sda2"));
    EXPECT_TRUE(collector.holdsRootFileSystem("sda1"));  // /boot/efi sits on the root's disk
    EXPECT_FALSE(collector.holdsRootFileSystem("sdb1"));
    auto outcome = collector.eject("/boot/efi");
    EXPECT_FALSE(outcome.unmounted);
    EXPECT_NE(outcome.error.find("root file system"), std::string::npos);
    EXPECT_FALSE(collector.ejectDisk("sda2"));
    EXPECT_FALSE(collector.eject("/nosuch").unmounted);
}

}  // namespace
}  // namespace vigil
