#include "platform/DeviceRegistry.h"

#include <gtest/gtest.h>

#include "support/TestTree.h"

using namespace vigil::platform;
using vigil::test::fixturePath;
using vigil::test::TempTree;

TEST(PciIds, LookupNamesVendorAndDevice) {
    const char* ids =
        "# comment\n8086  Intel Corporation\n\t9bc4  UHD Graphics\n\t\t17aa 1234  Sub\n"
        "10de  NVIDIA Corporation\n\t1f91  TU117M\n";
    EXPECT_EQ(lookupPciName(ids, 0x8086, 0x9bc4), "Intel Corporation UHD Graphics");
    EXPECT_EQ(lookupPciName(ids, 0x10de, 0x1f91), "NVIDIA Corporation TU117M");
    EXPECT_EQ(lookupPciName(ids, 0x8086, 0x1111), "Intel Corporation device 0x1111");
    EXPECT_FALSE(lookupPciName(ids, 0x1234, 0x1f91));
    EXPECT_FALSE(lookupPciName("", 0x8086, 0x9bc4));
}

TEST(DeviceRegistry, PciDevicesAndTheirKeys) {
    DeviceRegistry registry(fixturePath("two-gpu"));
    auto devices = registry.matching("IOPCIDevice");
    ASSERT_EQ(devices.size(), 3u);
    int displays = 0;
    for (const auto& d : devices) {
        auto name = asText(registry.property(d, "IOName"));
        ASSERT_TRUE(name) << d.path;
        if (*name == "display")
            ++displays;
    }
    EXPECT_EQ(displays, 2);
    auto nvidia = std::find_if(devices.begin(), devices.end(),
                               [](const RegistryEntry& e) { return e.name == "0000:01:00.0"; });
    ASSERT_NE(nvidia, devices.end());
    auto model = asBlob(registry.property(*nvidia, "model"));
    ASSERT_TRUE(model);
    EXPECT_EQ(std::string(model->begin(), model->end()),
              "NVIDIA Corporation TU117M [GeForce GTX 1650 Mobile / Max-Q]");
    EXPECT_EQ(asBlob(registry.property(*nvidia, "device-id")), (Blob{0x91, 0x1f, 0, 0}));
    // Keys of another type, or unknown keys, answer nothing.
    EXPECT_FALSE(asText(registry.property(*nvidia, "model")));
    EXPECT_FALSE(registry.property(*nvidia, "No Such Key"));
    EXPECT_TRUE(registry.matching("NoSuchClass").empty());
}

TEST(DeviceRegistry, MainDisplayIsTheCardWithAConnectedOutput) {
    TempTree tree("two-gpu");
    DeviceRegistry registry(tree.root);
    auto display = registry.mainDisplay();
    ASSERT_TRUE(display);
    EXPECT_EQ(display->name, "0000:00:02.0");
    // The external output lights up on the discrete card, the panel goes dark.
    tree.write("sys/class/drm/card0-eDP-1/status", "disconnected\n");
    tree.write("sys/class/drm/card1-HDMI-A-1/status", "connected\n");
    display = registry.mainDisplay();
    ASSERT_TRUE(display);
    EXPECT_EQ(display->name, "0000:01:00.0");
    // Without any DRM outputs the firmware's boot display device stands in.
    tree.remove("sys/class/drm");
    display = registry.mainDisplay();
    ASSERT_TRUE(display);
    EXPECT_EQ(display->name, "0000:00:02.0");
    EXPECT_FALSE(DeviceRegistry(fixturePath("no-gpu")).mainDisplay());
}

TEST(DeviceRegistry, LiveSysfsParentsEndAtTheTop) {
    DeviceRegistry registry;
    auto devices = registry.matching("pci");
    if (devices.empty())
        GTEST_SKIP() << "no PCI bus on this machine";
    int depth = 0;
    for (auto e = std::optional<RegistryEntry>(devices.front()); e && depth < 100;
         e = registry.parent(*e)) {
        ++depth;
    }
    EXPECT_LT(depth, 100);
    EXPECT_TRUE(registry.property(devices.front(), "IOName"));
}

TEST(DeviceRegistry, GraphicsKindComesFromTheDeviceNotItsName) {
    struct Case {
        const char* fixture;
        const char* device;
        bool rootBus;
        GraphicsKind kind;
    };
    const Case cases[] = {
        // An APU's graphics sit behind the processor's internal bridge; amdgpu's metrics table
        // says APU. The GeForce behind a root port is a card.
        {"hybrid-amd-nvidia", "0000:05:00.0", false, GraphicsKind::integrated},
        {"hybrid-amd-nvidia", "0000:01:00.0", false, GraphicsKind::discrete},
        // Intel's own card, behind its switch, is discrete; the processor's graphics on the root
        // bus integrated.
        {"intel-arc", "0000:03:00.0", false, GraphicsKind::discrete},
        {"intel-arc", "0000:00:02.0", true, GraphicsKind::integrated},
        // A tree of plain folders: bus 00 is the root bus.
        {"two-gpu", "0000:00:02.0", true, GraphicsKind::integrated},
        {"two-gpu", "0000:01:00.0", false, GraphicsKind::discrete},
    };
    for (const Case& c : cases) {
        DeviceRegistry registry(fixturePath(c.fixture));
        auto entry = registry.matchingName(c.device);
        ASSERT_TRUE(entry) << c.fixture << " " << c.device;
        EXPECT_EQ(registry.onRootBus(*entry), c.rootBus) << c.fixture << " " << c.device;
        EXPECT_EQ(registry.graphicsKind(*entry), c.kind) << c.fixture << " " << c.device;
    }

    // What amdgpu tells about the memory overrides the position.
    TempTree tree("hybrid-amd-nvidia");
    DeviceRegistry registry(tree.root);
    const std::string apu = "sys/devices/pci0000:00/0000:00:08.1/0000:05:00.0/";
    auto radeon = registry.matchingName("0000:05:00.0");
    ASSERT_TRUE(radeon);
    // A card's metrics table (format 1).
    tree.write(apu + "gpu_metrics", std::string("\x60\x00\x01\x03", 4) + std::string(92, '\0'));
    EXPECT_EQ(registry.graphicsKind(*radeon), GraphicsKind::discrete);
    // No table (an older kernel): the position decides, behind a bridge.
    tree.remove(apu + "gpu_metrics");
    EXPECT_EQ(registry.graphicsKind(*radeon), GraphicsKind::discrete);
    // The APU's table again, but memory chips of its own named by their maker: a card.
    tree.write(apu + "gpu_metrics", std::string("\x78\x00\x02\x00", 4) + std::string(116, '\0'));
    EXPECT_EQ(registry.graphicsKind(*radeon), GraphicsKind::integrated);
    tree.write(apu + "mem_info_vram_vendor", "samsung\n");
    EXPECT_EQ(registry.graphicsKind(*radeon), GraphicsKind::discrete);
    // A sleeping card is not woken to read its table.
    tree.remove(apu + "mem_info_vram_vendor");
    tree.write(apu + "power/runtime_status", "suspended\n");
    EXPECT_EQ(registry.graphicsKind(*radeon), GraphicsKind::discrete);
}
