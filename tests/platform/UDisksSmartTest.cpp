#include "platform/UDisksSmart.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "collectors/DiskData.h"
#include "support/SessionBus.h"
#include "support/TestSupport.h"

extern char** environ;

namespace vigil {
namespace {

namespace fs = std::filesystem;

using Append = std::function<int(sd_bus_message*)>;
template <typename T>
Append basic(const char* type, T value) {
    return [type, value](sd_bus_message* m) { return sd_bus_message_append(m, "v", type, value); };
}
Append b(bool v) {
    return basic("b", static_cast<int>(v));
}
Append d(double v) {
    return basic("d", v);
}
Append t(uint64_t v) {
    return basic("t", v);
}
Append x(int64_t v) {
    return basic("x", v);
}
Append i(int32_t v) {
    return basic("i", v);
}
Append q(uint16_t v) {
    return basic("q", v);
}
Append text(const char* type, std::string v) {
    return [type, v](sd_bus_message* m) { return sd_bus_message_append(m, "v", type, v.c_str()); };
}
Append o(std::string v) {
    return text("o", std::move(v));
}
Append s(std::string v) {
    return text("s", std::move(v));
}
Append as(std::vector<std::string> texts) {
    return [texts](sd_bus_message* m) {
        int r = sd_bus_message_open_container(m, 'v', "as");
        if (r >= 0)
            r = sd_bus_message_open_container(m, 'a', "s");
        for (const auto& text : texts) {
            if (r >= 0)
                r = sd_bus_message_append_basic(m, 's', text.c_str());
        }
        if (r >= 0)
            r = sd_bus_message_close_container(m);
        return r >= 0 ? sd_bus_message_close_container(m) : r;
    };
}

// Stands in for udisksd on a machine with real ATA and NVMe drives, which the test machine does not
// have: it answers Properties.Get and GetAll with values recorded from such drives, and says "No
// such interface" for an interface a drive lacks, as udisksd does.
class RecordedUDisks {
  public:
    using Interfaces = std::map<std::string, std::map<std::string, Append>>;

    explicit RecordedUDisks(std::map<std::string, Interfaces> objects)
        : objects_(std::move(objects)) {}
    ~RecordedUDisks() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    bool start(const std::string& address) {
        thread_ = std::thread([this, address] { run(address); });
        while (!ready_ && !failed_)
            std::this_thread::yield();
        return ready_;
    }

  private:
    void run(const std::string& address) {
        sd_bus* bus = nullptr;
        bool ok = sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address.c_str()) >= 0 &&
                  sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
                  sd_bus_add_fallback(bus, nullptr, "/org/freedesktop/UDisks2", &RecordedUDisks::on,
                                      this) >= 0 &&
                  sd_bus_request_name(bus, "org.freedesktop.UDisks2", 0) >= 0;
        if (!ok) {
            failed_ = true;
            sd_bus_flush_close_unref(bus);
            return;
        }
        ready_ = true;
        while (!stop_) {
            while (sd_bus_process(bus, nullptr) > 0) {
            }
            sd_bus_wait(bus, 50'000);
        }
        sd_bus_flush_close_unref(bus);
    }

    static int on(sd_bus_message* m, void* userdata, sd_bus_error* error) {
        auto* self = static_cast<RecordedUDisks*>(userdata);
        if (!sd_bus_message_has_signature(m, "ss") && !sd_bus_message_has_signature(m, "s"))
            return 0;
        const bool get = sd_bus_message_is_method_call(m, "org.freedesktop.DBus.Properties", "Get");
        const bool getAll =
            sd_bus_message_is_method_call(m, "org.freedesktop.DBus.Properties", "GetAll");
        if (!get && !getAll)
            return 0;
        const char* interface = nullptr;
        const char* property = nullptr;
        if (sd_bus_message_read(m, "s", &interface) < 0 ||
            (get && sd_bus_message_read(m, "s", &property) < 0))
            return -EINVAL;
        auto object = self->objects_.find(sd_bus_message_get_path(m));
        if (object == self->objects_.end())
            return sd_bus_error_setf(error, "org.freedesktop.DBus.Error.UnknownMethod",
                                     "Object does not exist at path %s",
                                     sd_bus_message_get_path(m));
        auto found = object->second.find(interface);
        if (found == object->second.end())
            return sd_bus_error_setf(error, "org.freedesktop.DBus.Error.InvalidArgs",
                                     "No such interface '%s'", interface);
        sd_bus_message* reply = nullptr;
        int r = sd_bus_message_new_method_return(m, &reply);
        if (get) {
            auto value = found->second.find(property);
            if (value == found->second.end()) {
                sd_bus_message_unref(reply);
                return sd_bus_error_setf(error, "org.freedesktop.DBus.Error.InvalidArgs",
                                         "No such property '%s'", property);
            }
            r = value->second(reply);
        } else {
            r = sd_bus_message_open_container(reply, 'a', "{sv}");
            for (const auto& [name, append] : found->second) {
                if (r >= 0)
                    r = sd_bus_message_open_container(reply, 'e', "sv");
                if (r >= 0)
                    r = sd_bus_message_append_basic(reply, 's', name.c_str());
                if (r >= 0)
                    r = append(reply);
                if (r >= 0)
                    r = sd_bus_message_close_container(reply);
            }
            if (r >= 0)
                r = sd_bus_message_close_container(reply);
        }
        if (r >= 0)
            r = sd_bus_send(nullptr, reply, nullptr);
        sd_bus_message_unref(reply);
        return r < 0 ? r : 1;
    }

    std::map<std::string, Interfaces> objects_;
    std::atomic<bool> ready_{false}, failed_{false}, stop_{false};
    std::thread thread_;
};

constexpr const char* blockIface = "org.freedesktop.UDisks2.Block";
constexpr const char* driveIface = "org.freedesktop.UDisks2.Drive";
constexpr const char* ataIface = "org.freedesktop.UDisks2.Drive.Ata";
constexpr const char* nvmeIface = "org.freedesktop.UDisks2.NVMe.Controller";
constexpr const char* drives = "/org/freedesktop/UDisks2/drives/";

RecordedUDisks::Interfaces block(const char* drive) {
    return {{blockIface, {{"Drive", o(drive)}, {"ReadOnly", b(false)}}}};
}

RecordedUDisks::Interfaces drive(const char* model, const char* serial, const char* bus) {
    return {{driveIface, {{"Model", s(model)}, {"Serial", s(serial)}, {"ConnectionBus", s(bus)}}}};
}

std::map<std::string, Append> ata(bool supported, bool enabled, uint64_t updated, bool failing,
                                  double kelvin, uint64_t powerOnSeconds, int64_t badSectors,
                                  int32_t attributesFailing, const char* selftest) {
    return {{"SmartSupported", b(supported)},
            {"SmartEnabled", b(enabled)},
            {"SmartUpdated", t(updated)},
            {"SmartFailing", b(failing)},
            {"SmartTemperature", d(kelvin)},
            {"SmartPowerOnSeconds", t(powerOnSeconds)},
            {"SmartNumBadSectors", x(badSectors)},
            {"SmartNumAttributesFailing", i(attributesFailing)},
            {"SmartNumAttributesFailedInThePast", i(0)},
            {"SmartSelftestStatus", s(selftest)},
            {"SmartSelftestPercentRemaining", i(-1)},
            {"PmSupported", b(true)}};
}

// The drives of a desktop as udisksd 2.10 lists them.
std::map<std::string, RecordedUDisks::Interfaces> recordedDesktop() {
    const std::string base = "/org/freedesktop/UDisks2/block_devices/";
    const std::string ssd = std::string(drives) + "Samsung_SSD_860_EVO_500GB_S3Z2NB0K512345A";
    const std::string hdd = std::string(drives) + "ST2000DM001_1ER164_Z4Z5K8XJ";
    const std::string nvme = std::string(drives) + "Samsung_SSD_970_EVO_Plus_1TB_S4EWNX0R123456";
    const std::string stick = std::string(drives) + "SanDisk_Cruzer_Blade_4C530001230607117094";
    const std::string off = std::string(drives) + "WDC_WD10EZEX_08WN4A0_WD_WCC6Y3PL1234";
    const std::string asleep = std::string(drives) + "WDC_WD40EFRX_68N32N0_WD_WCC7K4TT5678";
    const std::string oldNvme = std::string(drives) + "INTEL_SSDPEKNW512G8_BTNH91234567512A";

    std::map<std::string, RecordedUDisks::Interfaces> objects;
    objects["/org/freedesktop/UDisks2/Manager"] = {
        {"org.freedesktop.UDisks2.Manager", {{"Version", s("2.10.1")}}}};
    objects[base + "sda"] = block(ssd.c_str());
    objects[ssd] = drive("Samsung SSD 860 EVO 500GB", "S3Z2NB0K512345A", "");
    objects[ssd][ataIface] =
        ata(true, true, 1765413120, false, 308.15, 50'410'800, 0, 0, "success");
    objects[base + "sdb"] = block(hdd.c_str());
    objects[hdd] = drive("ST2000DM001-1ER164", "Z4Z5K8XJ", "");
    // Reallocated sectors past the threshold: the drive's own assessment is "failing".
    objects[hdd][ataIface] =
        ata(true, true, 1765413125, true, 314.15, 139'845'600, 1184, 1, "error_read");
    objects[base + "nvme0n1"] = block(nvme.c_str());
    objects[nvme] = drive("Samsung SSD 970 EVO Plus 1TB", "S4EWNX0R123456", "");
    objects[nvme][nvmeIface] = {{"State", s("live")},
                                {"ControllerID", q(4)},
                                {"NVMeRevision", s("1.3")},
                                {"SmartUpdated", t(1765413121)},
                                {"SmartCriticalWarning", as({"spare"})},
                                {"SmartPowerOnHours", t(9127)},
                                {"SmartTemperature", q(318)},
                                {"SmartSelftestStatus", s("success")},
                                {"SmartSelftestPercentRemaining", i(-1)}};
    objects[base + "sdc"] = block(stick.c_str());
    objects[stick] = drive("Cruzer Blade", "4C530001230607117094", "usb");
    objects[base + "sdd"] = block(off.c_str());
    objects[off] = drive("WDC WD10EZEX-08WN4A0", "WD-WCC6Y3PL1234", "");
    objects[off][ataIface] = ata(true, false, 0, false, 0, 0, 0, 0, "success");
    // A drive in standby: udisksd does not wake it, so it has no SMART data yet.
    objects[base + "sde"] = block(asleep.c_str());
    objects[asleep] = drive("WDC WD40EFRX-68N32N0", "WD-WCC7K4TT5678", "");
    objects[asleep][ataIface] = ata(true, true, 0, false, 0, 0, 0, 0, "success");
    // An NVMe drive as a UDisks2 before 2.10 shows it: a drive without the controller interface.
    objects[base + "nvme1n1"] = block(oldNvme.c_str());
    objects[oldNvme] = drive("INTEL SSDPEKNW512G8", "BTNH91234567512A", "");
    objects[base + "loop0"] = block("/");
    return objects;
}

// A root with the whole disks of the recorded drives in its sysfs, a partition on the first.
fs::path recordedRoot() {
    const fs::path root =
        fs::temp_directory_path() / ("vigil-udisks-smart-" + std::to_string(::getpid()));
    fs::remove_all(root);
    for (const char* disk : {"sda", "sdb", "sdc", "sdd", "sde", "nvme0n1", "nvme1n1", "loop0"})
        fs::create_directories(root / "sys/block" / disk);
    fs::create_directories(root / "sys/block/sda/sda1");
    std::ofstream(root / "sys/block/sda/sda1/partition") << "1\n";
    fs::create_directories(root / "dev");
    fs::permissions(root, fs::perms::all, fs::perm_options::add);
    return root;
}

#define VIGIL_REQUIRE_BUS(bus)   \
    if ((bus).address().empty()) \
    GTEST_SKIP() << "dbus-daemon could not be started (package dbus-daemon)"

TEST(UDisksSmart, RecordedDrivesOnAPrivateSystemBus) {
    test::PrivateBus bus(test::PrivateBus::Kind::system);
    VIGIL_REQUIRE_BUS(bus);
    RecordedUDisks udisksd(recordedDesktop());
    ASSERT_TRUE(udisksd.start(bus.address()));

    // Found the way a desktop session finds the system bus.
    const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string saved = previous ? previous : "";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
    UDisksSmart udisks;
    std::string healthyWhy;
    auto healthy = udisks.read("sda", &healthyWhy);
    std::string failingWhy, warningWhy;
    auto failing = udisks.read("sdb", &failingWhy);
    auto warning = udisks.read("nvme0n1", &warningWhy);
    std::string asleepWhy, oldNvmeWhy, unknownWhy;
    auto asleep = udisks.read("sde", &asleepWhy);
    auto oldNvme = udisks.read("nvme1n1", &oldNvmeWhy);
    auto unknown = udisks.read("sdz", &unknownWhy);
    if (previous)
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
    else
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");

    ASSERT_TRUE(healthy && failing && warning)
        << healthyWhy << " / " << failingWhy << " / " << warningWhy;
    EXPECT_EQ(healthy->availability, SmartAvailability::read);
    EXPECT_TRUE(healthy->capable);
    EXPECT_TRUE(healthy->passed);
    EXPECT_DOUBLE_EQ(healthy->temperature, 35.0);
    EXPECT_EQ(failing->availability, SmartAvailability::read);
    EXPECT_FALSE(failing->passed);
    EXPECT_DOUBLE_EQ(failing->temperature, 41.0);
    EXPECT_EQ(healthy->reallocatedSectors, 0);
    EXPECT_EQ(failing->reallocatedSectors, 1184);
    EXPECT_EQ(warning->reallocatedSectors, std::nullopt);  // NVMe drives have none
    EXPECT_EQ(warning->availability, SmartAvailability::read);
    EXPECT_FALSE(warning->passed);
    EXPECT_DOUBLE_EQ(warning->temperature, 45.0);
    // No answer from UDisks2: the caller asks the drive itself.
    EXPECT_FALSE(asleep);
    EXPECT_NE(asleepWhy.find("not read"), std::string::npos) << asleepWhy;
    EXPECT_FALSE(oldNvme);
    EXPECT_NE(oldNvmeWhy.find("NVMe"), std::string::npos) << oldNvmeWhy;
    EXPECT_FALSE(unknown);
    EXPECT_NE(unknownWhy.find("sdz"), std::string::npos) << unknownWhy;

    // The collector over the same drives: UDisks2 first, the drive itself where it has no answer.
    const fs::path root = recordedRoot();
    DiskCollector::Options options;
    options.root = root.string();
    options.busAddress = bus.address();
    DiskCollector collector(options);
    struct Expected {
        const char* device;
        bool isSmart;
        bool passed;
        double temperature;
        SmartAvailability availability;
    };
    for (const Expected& e : {
             Expected{"sda1", true, true, 35, SmartAvailability::read},
             Expected{"sdb", true, false, 41, SmartAvailability::read},
             Expected{"nvme0n1", true, false, 45, SmartAvailability::read},
             Expected{"sdc", false, true, 0, SmartAvailability::notSupported},
             Expected{"sdd", false, true, 0, SmartAvailability::switchedOff},
             Expected{"loop0", false, true, 0, SmartAvailability::notSupported},
             // Asleep, and no device node to ask in this root: no answer.
             Expected{"sde", false, true, 0, SmartAvailability::unreadable},
         }) {
        SMARTData record{9, 9, 9, SmartAvailability::read};
        EXPECT_EQ(collector.getSMARTData(e.device, &record), e.isSmart) << e.device;
        EXPECT_EQ(record.isSmart, e.isSmart ? 1 : 0) << e.device;
        EXPECT_EQ(record.isSmartPassed, e.passed ? 1 : 0) << e.device;
        EXPECT_DOUBLE_EQ(record.temperature, e.temperature) << e.device;
        EXPECT_EQ(record.availability, e.availability) << e.device;
    }
    fs::remove_all(root);
}

// A desktop user on a machine without UDisks2: the drive's node is root's alone, so SMART could not
// be read here, which differs from a drive without SMART.
TEST(UDisksSmart, WithoutUDisksAndRootSmartIsNotReadableHere) {
    test::PrivateBus bus(
        test::PrivateBus::Kind::system);  // a system bus where UDisks2 does not run
    VIGIL_REQUIRE_BUS(bus);
    const fs::path root = recordedRoot();
    std::ofstream(root / "dev/sda") << std::string(4096, '\0');
    fs::permissions(root / "dev/sda", fs::perms::owner_read | fs::perms::owner_write);

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            _exit(100);
        DiskCollector::Options options;
        options.root = root.string();
        options.busAddress = bus.address();
        DiskCollector collector(options);
        SMARTData record{};
        const bool isSmart = collector.getSMARTData("sda1", &record);
        _exit(isSmart ? 101 : static_cast<int>(record.availability));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 100)
        GTEST_SKIP() << "cannot become an unprivileged user (nobody) here";
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(SmartAvailability::notPermitted));

    // The same node for root: opened and asked; a plain file answers no ATA command.
    DiskCollector::Options options;
    options.root = root.string();
    options.busAddress = bus.address();
    DiskCollector collector(options);
    SMARTData record{};
    EXPECT_FALSE(collector.getSMARTData("sda1", &record));
    EXPECT_EQ(record.availability, SmartAvailability::notSupported);
    fs::remove_all(root);
}

// The real udisksd, on a private system bus, with a loop device: no drive behind it, so no SMART.
// udisksd lists only devices that udev has initialised; it runs in a mount namespace of its own
// whose /run holds a udev database entry for the loop device alone (udevd is not started: it
// would act on every device of the machine).
TEST(UDisksSmart, RealUDisksSaysALoopDeviceHasNoSmart) {
    const char* udisksd = "/usr/libexec/udisks2/udisksd";
    VIGIL_REQUIRE_ROOT();
    if (::access(udisksd, X_OK) != 0)
        GTEST_SKIP() << "udisksd is not installed (package udisks2)";
    test::PrivateBus bus(test::PrivateBus::Kind::system);
    VIGIL_REQUIRE_BUS(bus);
    const fs::path image =
        fs::temp_directory_path() / ("vigil-smart-loop-" + std::to_string(::getpid()));
    std::ofstream(image) << std::string(1 << 20, '\0');
    std::string loop;
    if (FILE* out =
            ::popen(("losetup --find --show " + image.string() + " 2>/dev/null").c_str(), "r")) {
        char line[64] = {};
        if (std::fgets(line, sizeof line, out))
            loop = fs::path(std::string(line).substr(0, std::strcspn(line, "\n"))).filename();
        ::pclose(out);
    }
    if (loop.empty()) {
        fs::remove(image);
        GTEST_SKIP() << "no free loop device (losetup --find failed)";
    }
    std::string majorMinor;
    std::ifstream("/sys/block/" + loop + "/dev") >> majorMinor;
    const std::string script =
        "mount -t tmpfs tmpfs /run && mkdir -p /run/udev/data && "
        "echo I:1 > /run/udev/data/b" +
        majorMinor + " && exec " + udisksd;
    const std::string env = "DBUS_SYSTEM_BUS_ADDRESS=" + bus.address();
    const char* argv[] = {"unshare", "-m", "--propagation", "private",
                          "sh",      "-c", script.c_str(),  nullptr};
    const char* envp[] = {env.c_str(), "PATH=/usr/sbin:/usr/bin:/sbin:/bin", nullptr};
    pid_t daemon = -1;
    const bool spawned = posix_spawnp(&daemon, "unshare", nullptr, nullptr,
                                      const_cast<char**>(argv), const_cast<char**>(envp)) == 0;

    UDisksSmart udisks(bus.address());
    std::optional<SmartReading> reading;
    std::string why;
    bool exited = false;
    // udisksd takes a moment to start and list the devices.
    test::waitUntil(
        [&] {
            reading = udisks.read(loop, &why);
            exited = exited || !spawned || ::waitpid(daemon, nullptr, WNOHANG) != 0;
            return reading || exited;
        },
        std::chrono::seconds(30));
    SMARTData record{};
    DiskCollector::Options options;
    options.busAddress = bus.address();
    DiskCollector collector(options);
    const bool isSmart = reading && collector.getSMARTData(loop.c_str(), &record);

    if (spawned && !exited) {
        ::kill(daemon, SIGTERM);
        ::waitpid(daemon, nullptr, 0);
    }
    std::system(("losetup -d /dev/" + loop).c_str());
    fs::remove(image);
    ASSERT_TRUE(spawned) << "cannot start unshare";
    ASSERT_FALSE(exited && !reading) << "udisksd stopped at once";
    ASSERT_TRUE(reading) << "udisksd did not list " << loop << ": " << why;
    EXPECT_EQ(reading->availability, SmartAvailability::notSupported);
    EXPECT_FALSE(isSmart);
    EXPECT_EQ(record.availability, SmartAvailability::notSupported);
}

}  // namespace
}  // namespace vigil
