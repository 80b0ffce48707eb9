#include "system/GPU.h"

#include <gtest/gtest.h>

#include "support/TestTree.h"
#include "system/CPU.h"
#include "system/Memory.h"
#include "system/System.h"

using namespace vigil;
using vigil::platform::Blob;
using vigil::test::fixturePath;
using vigil::test::TempTree;

TEST(GPUResource, TwoGraphicsProcessorsFollowTheConnectedOutput) {
    TempTree tree("two-gpu");
    GPU gpu(tree.root);
    EXPECT_EQ(gpu.type(), SystemResourceType::gpu);
    ASSERT_TRUE(gpu.hasBoth());
    EXPECT_EQ(gpu.integrated()->name, "Intel Corporation CometLake-H GT2 [UHD Graphics]");
    EXPECT_EQ(gpu.discrete()->name, "NVIDIA Corporation TU117M [GeForce GTX 1650 Mobile / Max-Q]");
    EXPECT_TRUE(gpu.isUsingIntegratedGPU());
    EXPECT_EQ(gpu.name(), gpu.integrated()->name);

    tree.write("sys/class/drm/card0-eDP-1/status", "disconnected\n");
    tree.write("sys/class/drm/card1-HDMI-A-1/status", "connected\n");
    gpu.update();
    EXPECT_TRUE(gpu.isUsingDiscreteGPU());
    EXPECT_EQ(gpu.name(), gpu.discrete()->name);

    // No identifier for the main display: back to the integrated one.
    tree.remove("sys/class/drm");
    tree.write("sys/bus/pci/devices/0000:00:02.0/boot_vga", "0\n");
    gpu.update();
    EXPECT_TRUE(gpu.isUsingIntegratedGPU());
}

TEST(GPUResource, HybridMachinesOfOtherMakers) {
    {
        // A Ryzen laptop: the APU drives the panel, the GeForce wakes for an external screen.
        TempTree tree("hybrid-amd-nvidia");
        GPU gpu(tree.root);
        ASSERT_TRUE(gpu.hasBoth());
        EXPECT_EQ(
            gpu.integrated()->name,
            "Advanced Micro Devices, Inc. [AMD/ATI] Cezanne [Radeon Vega Series / Radeon Vega "
            "Mobile Series]");
        EXPECT_EQ(gpu.discrete()->name,
                  "NVIDIA Corporation GA106M [GeForce RTX 3060 Mobile / Max-Q]");
        EXPECT_TRUE(gpu.isUsingIntegratedGPU());
        tree.write("sys/class/drm/card1-eDP-1/status", "disconnected\n");
        tree.write("sys/class/drm/card0-HDMI-A-1/status", "connected\n");
        gpu.update();
        EXPECT_TRUE(gpu.isUsingDiscreteGPU());
        EXPECT_EQ(gpu.name(), gpu.discrete()->name);
    }
    {
        // A desktop with an Arc card beside the processor's graphics, the monitor on the card.
        GPU gpu(fixturePath("intel-arc"));
        ASSERT_TRUE(gpu.hasBoth());
        EXPECT_EQ(gpu.integrated()->name, "Intel Corporation Alder Lake-S GT1 [UHD Graphics 770]");
        EXPECT_EQ(gpu.discrete()->name, "Intel Corporation DG2 [Arc A770]");
        EXPECT_TRUE(gpu.isUsingDiscreteGPU());
        EXPECT_EQ(gpu.name(), "Intel Corporation DG2 [Arc A770]");
    }
}

TEST(GPUResource, OnlyOneKindOrNone) {
    {
        // A lone discrete device: current only when it drives the display.
        GPU gpu(fixturePath("multi-socket"));
        EXPECT_FALSE(gpu.hasBoth());
        EXPECT_FALSE(gpu.integrated());
        EXPECT_TRUE(gpu.isUsingDiscreteGPU());
        EXPECT_EQ(gpu.name(), "ASPEED Technology, Inc. ASPEED Graphics Family");
        GPU elsewhere(fixturePath("multi-socket"), [] {
            return std::optional<Blob>(Blob{1, 2, 0, 0});
        });
        EXPECT_TRUE(elsewhere.isUsingIntegratedGPU());
        EXPECT_EQ(elsewhere.name(), "");
    }
    {
        GPU gpu(fixturePath("no-gpu"));
        EXPECT_FALSE(gpu.hasBoth());
        EXPECT_EQ(gpu.name(), "");
        EXPECT_TRUE(gpu.isUsingIntegratedGPU());
    }
    {
        // Only an Intel device, whose vendor the database writes in lower case.
        TempTree tree("two-gpu");
        tree.remove("sys/bus/pci/devices/0000:01:00.0");
        tree.write("usr/share/hwdata/pci.ids", "8086  intel corp\n\t9bc4  uhd\n");
        GPU gpu(tree.root);
        EXPECT_FALSE(gpu.hasBoth());
        EXPECT_EQ(gpu.name(), "intel corp uhd");
        EXPECT_TRUE(gpu.isUsingIntegratedGPU());
    }
    {
        // A display device the database does not know is "Unknown", and counts as discrete.
        TempTree tree("two-gpu");
        tree.remove("sys/bus/pci/devices/0000:00:02.0");
        tree.write("usr/share/hwdata/pci.ids", "# empty\n");
        GPU gpu(tree.root);
        ASSERT_TRUE(gpu.discrete());
        EXPECT_EQ(gpu.discrete()->name, "Unknown");
    }
}

TEST(SharedSystem, ProductionTasksOfTheseResources) {
    System::Resources resources;
    resources.cpu = std::make_shared<CPU>(fixturePath("no-gpu"));
    resources.mem = std::make_shared<Memory>(fixturePath("no-gpu"));
    resources.gpu = std::make_shared<GPU>(fixturePath("two-gpu"));
    auto specs = productionTaskSpecs(resources);
    ASSERT_EQ(specs.size(), 3u);
    EXPECT_EQ(specs[0].resource->type(), SystemResourceType::cpu);
    EXPECT_EQ(specs[0].interval, 1.1);
    EXPECT_EQ(specs[1].resource->type(), SystemResourceType::mem);
    EXPECT_EQ(specs[1].interval, 2.0);
    EXPECT_EQ(specs[2].resource->type(), SystemResourceType::gpu);
    EXPECT_TRUE(specs[2].delayed);

    // The process-wide System holds all three; graphics is sampled where there is a device.
    System& system = System::shared();
    ASSERT_TRUE(system.resources().cpu);
    ASSERT_TRUE(system.resources().mem);
    ASSERT_TRUE(system.resources().gpu);
    bool gpuTask = false;
    for (const auto& task : system.tasks())
        gpuTask = gpuTask || task->resource().type() == SystemResourceType::gpu;
    EXPECT_EQ(gpuTask, !system.gpu().usage().empty());
}

TEST(GPUResource, FiguresOfAnAmdLaptopWithAGeForce) {
    // The APU's figures come from amdgpu's files; the GeForce's from NVIDIA's management library,
    // here the tests' stand-in for the driver's library (it knows the card at 0000:01:00.0).
    TempTree tree("hybrid-amd-nvidia");
    const std::string apu = "sys/devices/pci0000:00/0000:00:08.1/0000:05:00.0/";
    GPU gpu(tree.root, nullptr, VIGIL_NVML_STANDIN);
    ASSERT_EQ(gpu.usage().size(), 2u);
    EXPECT_FALSE(gpu.usage()[0].busyPercent);  // nothing sampled yet
    gpu.update();
    auto usage = gpu.usage();
    const GPU::Usage& amd = usage[0];
    EXPECT_TRUE(amd.integrated);
    EXPECT_EQ(amd.driver, "amdgpu");
    EXPECT_EQ(amd.pciAddress, "0000:05:00.0");
    EXPECT_EQ(amd.busyPercent, 37.0);
    EXPECT_EQ(amd.memoryUsed, 201326592u);
    EXPECT_EQ(amd.memoryTotal, 536870912u);
    EXPECT_EQ(amd.temperatureC, 46.0);
    EXPECT_EQ(amd.powerW, 8.25);
    const GPU::Usage& nvidia = usage[1];
    EXPECT_FALSE(nvidia.integrated);
    EXPECT_EQ(nvidia.busyPercent, 71.0);
    EXPECT_EQ(nvidia.memoryUsed, 3ull << 29);
    EXPECT_EQ(nvidia.memoryTotal, 6ull << 30);
    EXPECT_EQ(nvidia.temperatureC, 63.0);
    EXPECT_EQ(nvidia.powerW, 42.5);

    // gpu_busy_percent is an instant reading: the figure is the mean of the last three.
    for (const char* busy : {"80\n", "90\n", "100\n"}) {
        tree.write(apu + "gpu_busy_percent", busy);
        gpu.update();
    }
    EXPECT_EQ(gpu.usage()[0].busyPercent, 90.0);
    // A chip that refuses it, and a card without a hwmon power figure but an instant one.
    tree.remove(apu + "gpu_busy_percent");
    tree.remove(apu + "hwmon/hwmon4/power1_average");
    tree.write(apu + "hwmon/hwmon4/power1_input", "11500000\n");
    gpu.update();
    EXPECT_FALSE(gpu.usage()[0].busyPercent);
    EXPECT_EQ(gpu.usage()[0].powerW, 11.5);

    // Without the driver's library the GeForce's figures are unknown, not zero.
    GPU withoutDriver(tree.root, nullptr, tree.path("no-such-libnvidia-ml.so.1"));
    withoutDriver.update();
    EXPECT_FALSE(withoutDriver.usage()[1].busyPercent);
    EXPECT_FALSE(withoutDriver.usage()[1].memoryTotal);
}

TEST(GPUResource, IntelFiguresFromTheUsersDrmClients) {
    // The Arc desktop with the recorded DRM clients' /proc, read twice: the i915 client on the
    // processor's graphics and the one on the card counted in GPU cycles (25 % of its render
    // engine, whatever the time between the reads).
    TempTree tree("intel-arc");
    std::filesystem::copy(
        fixturePath("drm-clients/first/proc"), tree.path("proc"),
        std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
    GPU gpu(tree.root);
    gpu.update();
    EXPECT_FALSE(gpu.usage()[1].busyPercent);  // one reading: no share yet
    EXPECT_EQ(gpu.usage()[0].memoryUsed, 48u << 20);
    tree.remove("proc");
    std::filesystem::copy(
        fixturePath("drm-clients/second/proc"), tree.path("proc"),
        std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
    gpu.update();
    auto usage = gpu.usage();
    ASSERT_EQ(usage.size(), 2u);
    EXPECT_EQ(usage[1].pciAddress, "0000:03:00.0");
    EXPECT_DOUBLE_EQ(*usage[1].busyPercent, 25.0);
    EXPECT_EQ(usage[1].memoryUsed, 24004u * 1024);
    EXPECT_FALSE(usage[1].memoryTotal);
    EXPECT_FALSE(usage[1].temperatureC);
    EXPECT_GT(*usage[0].busyPercent, 0.0);
    auto shares = gpu.processShares();
    EXPECT_DOUBLE_EQ(shares.at(2207), 25.0);
    EXPECT_EQ(shares.count(2402), 0u);  // a display node without client figures
}
