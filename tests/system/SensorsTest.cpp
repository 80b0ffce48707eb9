#include "system/Sensors.h"

#include <sys/statfs.h>
#include <unistd.h>

#include "support/TestSupport.h"

namespace vigil {
namespace {

// Each read of a fixture machine runs in a forked child that mounts the tree over /sys in a
// private mount namespace, as libsensors reads only the real /sys.
std::string whyNoSensorTrees() {
    struct statfs sys {};
    if (::geteuid() != 0)
        return "needs root for a private mount namespace (CI runs as root)";
    if (::statfs("/sys", &sys) != 0 || sys.f_type != 0x62656572)
        return "/sys is not a sysfs here; libsensors will not start";
    return "";
}

TEST(SensorsResourceTest, TheProcessorsSensorByRuleOrByChoiceAndTheDrivesOwnSensor) {
    if (const auto why = whyNoSensorTrees(); !why.empty())
        GTEST_SKIP() << why;
    Sensors desktop(test::fixturePath("sensors-desktop"));
    desktop.update();
    EXPECT_EQ(desktop.snapshot()->chips.size(), 3u);
    EXPECT_EQ(desktop.cpuTemperature(),
              (Sensors::CPUTemperature{"coretemp-isa-0000/Package id 0", 45.0, 80.0, 100.0}));
    EXPECT_EQ(desktop.driveTemperature("nvme0n1"), 38.85);
    EXPECT_EQ(desktop.driveTemperature("nvme0n1p2"), 38.85);
    EXPECT_EQ(desktop.driveTemperature("sda"), std::nullopt);

    desktop.setPreferredCPUSensor("nct6798-isa-0290/CPUTIN");
    desktop.update();
    EXPECT_EQ(desktop.cpuTemperature(),
              (Sensors::CPUTemperature{"nct6798-isa-0290/CPUTIN", 39.5, 80.0, std::nullopt}));
    desktop.setPreferredCPUSensor("nct6798-isa-0290/gone");
    desktop.update();
    EXPECT_EQ(desktop.cpuTemperature()->source, "coretemp-isa-0000/Package id 0");

    Sensors laptop(test::fixturePath("sensors-amd-laptop"));
    laptop.update();
    EXPECT_EQ(laptop.cpuTemperature(), (Sensors::CPUTemperature{"k10temp-pci-00c3/Tctl", 62.875,
                                                                std::nullopt, std::nullopt}));

    // No processor chip: the hottest thermal zone of the cpu, not the hotter graphics zone.
    Sensors board(test::fixturePath("sensors-unlabelled"));
    board.update();
    EXPECT_EQ(board.cpuTemperature(),
              (Sensors::CPUTemperature{"cpu1-thermal", 49.5, std::nullopt, std::nullopt}));
}

TEST(SensorsResourceTest, NoSensorsAtAllGiveNoProcessorTemperature) {
    Sensors none("/nonexistent", [] { return std::vector<platform::SensorChip>{}; });
    none.update();
    EXPECT_TRUE(none.snapshot()->chips.empty());
    EXPECT_EQ(none.cpuTemperature(), std::nullopt);
    EXPECT_EQ(none.driveTemperature("nvme0n1"), std::nullopt);
}

}  // namespace
}  // namespace vigil
