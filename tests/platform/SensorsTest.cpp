#include <sys/statfs.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/Sensors.h"
#include "support/PrivateMounts.h"
#include "support/TestSupport.h"

// libsensors reads the real /sys and refuses one that is not sysfs, so these tests mount the
// fixture machines' class/hwmon and devices over this machine's in a private mount namespace.

namespace vigil::platform {
namespace {

namespace fs = std::filesystem;

const Sensor* findSensor(const std::vector<SensorChip>& chips, const std::string& id) {
    for (const auto& chip : chips) {
        for (const auto& sensor : chip.sensors) {
            if (sensor.id == id)
                return &sensor;
        }
    }
    return nullptr;
}

std::vector<std::string> chipIds(const std::vector<SensorChip>& chips) {
    std::vector<std::string> ids;
    for (const auto& chip : chips)
        ids.push_back(chip.id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Mounts the machine's tree and reads it through the process's library with its configuration.
std::vector<SensorChip> readMachine(const std::string& root, const std::string& configuration) {
    const auto error = mountSysTree(root);
    EXPECT_EQ(error, "");
    SensorLibrary::setConfiguration(configuration);
    return SensorLibrary::read();
}

#define SKIP_WITHOUT_SYSFS()                                                       \
    do {                                                                           \
        struct statfs sys {};                                                      \
        if (::statfs("/sys", &sys) != 0 || sys.f_type != 0x62656572 /* SYSFS */)   \
            GTEST_SKIP() << "/sys is not a sysfs here; libsensors will not start"; \
    } while (0)

TEST(SensorsTest, DesktopCoretempFansAndNvmeWithTheUsersLabelsAndIgnores) {
    SKIP_WITHOUT_SYSFS();
    VIGIL_IN_PRIVATE_MOUNTS([] {
        const auto root = test::fixturePath("sensors-desktop");
        const auto chips = readMachine(root, root + "/etc/sensors3.conf");
        EXPECT_EQ(chipIds(chips), (std::vector<std::string>{"coretemp-isa-0000", "nct6798-isa-0290",
                                                            "nvme-pci-0100"}));

        const Sensor* package = findSensor(chips, "coretemp-isa-0000/Package id 0");
        ASSERT_NE(package, nullptr);
        EXPECT_EQ(package->kind, SensorKind::temperature);
        EXPECT_EQ(package->value, 45.0);
        EXPECT_EQ(package->max, 80.0);
        EXPECT_EQ(package->critical, 100.0);
        EXPECT_FALSE(package->alarm);

        const Sensor* composite = findSensor(chips, "nvme-pci-0100/Composite");
        ASSERT_NE(composite, nullptr);
        EXPECT_DOUBLE_EQ(*composite->value, 38.85);
        EXPECT_DOUBLE_EQ(*composite->critical, 84.85);

        // sensors.conf names the fans; the alarm of the slow one shows; temp3 is ignored.
        const Sensor* rear = findSensor(chips, "nct6798-isa-0290/Rear fan");
        ASSERT_NE(rear, nullptr);
        EXPECT_EQ(rear->kind, SensorKind::fan);
        EXPECT_EQ(rear->value, 850.0);
        EXPECT_TRUE(rear->alarm);
        EXPECT_TRUE(rear->labelled);
        ASSERT_NE(findSensor(chips, "nct6798-isa-0290/CPU fan"), nullptr);
        EXPECT_EQ(findSensor(chips, "nct6798-isa-0290/AUXTIN0"), nullptr);
        const Sensor* in0 = findSensor(chips, "nct6798-isa-0290/in0");
        ASSERT_NE(in0, nullptr);
        EXPECT_EQ(in0->kind, SensorKind::voltage);
        EXPECT_DOUBLE_EQ(*in0->value, 1.032);
        EXPECT_DOUBLE_EQ(*in0->max, 1.744);
    });
}

TEST(SensorsTest, AmdLaptopChipsPowerAndBattery) {
    SKIP_WITHOUT_SYSFS();
    VIGIL_IN_PRIVATE_MOUNTS([] {
        const auto chips = readMachine(test::fixturePath("sensors-amd-laptop"), "/dev/null");
        EXPECT_EQ(chipIds(chips),
                  (std::vector<std::string>{"BAT0-acpi-0", "acpitz-virtual-0", "amdgpu-pci-0500",
                                            "k10temp-pci-00c3"}));
        const Sensor* tctl = findSensor(chips, "k10temp-pci-00c3/Tctl");
        ASSERT_NE(tctl, nullptr);
        EXPECT_DOUBLE_EQ(*tctl->value, 62.875);
        EXPECT_FALSE(tctl->max.has_value());
        const Sensor* ppt = findSensor(chips, "amdgpu-pci-0500/PPT");
        ASSERT_NE(ppt, nullptr);
        EXPECT_EQ(ppt->kind, SensorKind::power);
        EXPECT_DOUBLE_EQ(*ppt->value, 8.123);
        EXPECT_DOUBLE_EQ(*ppt->max, 25.0);
        const Sensor* current = findSensor(chips, "BAT0-acpi-0/curr1");
        ASSERT_NE(current, nullptr);
        EXPECT_EQ(current->kind, SensorKind::current);
        EXPECT_DOUBLE_EQ(*current->value, 1.22);
        for (const auto& chip : chips) {
            if (chip.id == "amdgpu-pci-0500") {
                EXPECT_EQ(chip.device, "0000:05:00.0");
            }
        }
    });
}

TEST(SensorsTest, UnlabelledSensorsKeepTheirFeatureNames) {
    SKIP_WITHOUT_SYSFS();
    VIGIL_IN_PRIVATE_MOUNTS([] {
        const auto chips = readMachine(test::fixturePath("sensors-unlabelled"), "/dev/null");
        ASSERT_EQ(chips.size(), 1u);
        EXPECT_EQ(chips[0].id, "it8728-isa-0a30");
        EXPECT_EQ(chips[0].adapter, "ISA adapter");
        ASSERT_EQ(chips[0].sensors.size(), 4u);
        const Sensor* temp2 = findSensor(chips, "it8728-isa-0a30/temp2");
        ASSERT_NE(temp2, nullptr);
        EXPECT_EQ(temp2->label, "temp2");
        EXPECT_FALSE(temp2->labelled);
        EXPECT_EQ(temp2->value, 35.0);
        EXPECT_EQ(findSensor(chips, "it8728-isa-0a30/fan1")->value, 1500.0);
    });
}

TEST(SensorsTest, AChipThatVanishesBetweenReadsIsLeftOutAndAReturningOneComesBack) {
    SKIP_WITHOUT_SYSFS();
    VIGIL_IN_PRIVATE_MOUNTS([] {
        test::ScratchFolder scratch("sensors-vanish");
        fs::copy(test::fixturePath("sensors-desktop"), scratch.path,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        const auto nvme = scratch.path / "sys/devices/pci0000:00/0000:00:01.1/0000:01:00.0/hwmon";
        const auto kept = scratch.path / "kept-hwmon";
        EXPECT_EQ(readMachine(scratch.path, "/dev/null").size(), 3u);

        // The drive goes: its hwmon folder goes, its class link dangles.
        fs::rename(nvme, kept);
        const auto second = SensorLibrary::read();
        EXPECT_EQ(chipIds(second),
                  (std::vector<std::string>{"coretemp-isa-0000", "nct6798-isa-0290"}));
        EXPECT_EQ(findSensor(second, "coretemp-isa-0000/Core 1")->value, 44.0);
        EXPECT_EQ(SensorLibrary::read().size(), 2u);

        fs::rename(kept, nvme);
        fs::remove(scratch.path / "sys/class/hwmon/hwmon1");
        EXPECT_EQ(SensorLibrary::read().size(), 2u);  // the class entry went with it
        fs::create_directory_symlink(
            "../../devices/pci0000:00/0000:00:01.1/0000:01:00.0/hwmon/hwmon1",
            scratch.path / "sys/class/hwmon/hwmon1");
        EXPECT_NE(findSensor(SensorLibrary::read(), "nvme-pci-0100/Composite"), nullptr);
    });
}

TEST(SensorsTest, ReadsATreeFromAForkedChildWithTheTreesConfiguration) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a private mount namespace (CI runs as root)";
    SKIP_WITHOUT_SYSFS();
    const auto read = readSensorsUnder(test::fixturePath("sensors-desktop"));
    ASSERT_EQ(read.error, "");
    EXPECT_NE(findSensor(read.chips, "nct6798-isa-0290/Rear fan"), nullptr);
    EXPECT_EQ(findSensor(read.chips, "nct6798-isa-0290/AUXTIN0"), nullptr);
    EXPECT_EQ(findSensor(read.chips, "nvme-pci-0100/Sensor 1")->value, 38.85);

    // A machine without hwmon has no sensors, and that is no error.
    const auto none = readSensorsUnder(test::fixturePath("no-gpu"));
    EXPECT_EQ(none.error, "");
    EXPECT_TRUE(none.chips.empty());
}

}  // namespace
}  // namespace vigil::platform
