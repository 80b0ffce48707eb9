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
    SampledResources sampled;
    sampled.cpu = std::make_shared<CPU>(fixturePath("no-gpu"));
    sampled.mem = std::make_shared<Memory>(fixturePath("no-gpu"));
    auto gpu = std::make_shared<GPU>(fixturePath("two-gpu"));
    sampled.gpu = gpu;
    sampled.gpuHasBothKinds = gpu->hasBoth();
    auto specs = productionTaskSpecs(sampled);
    ASSERT_EQ(specs.size(), 3u);
    EXPECT_EQ(specs[0].resource->type(), SystemResourceType::cpu);
    EXPECT_EQ(specs[0].interval, 1.1);
    EXPECT_EQ(specs[1].resource->type(), SystemResourceType::mem);
    EXPECT_EQ(specs[1].interval, 2.0);
    EXPECT_EQ(specs[2].resource->type(), SystemResourceType::gpu);
    EXPECT_TRUE(specs[2].delayed);

    // The process-wide System holds all three; graphics is sampled only with both kinds.
    System& system = System::shared();
    ASSERT_TRUE(system.resources().cpu);
    ASSERT_TRUE(system.resources().mem);
    ASSERT_TRUE(system.resources().gpu);
    bool gpuTask = false;
    for (const auto& task : system.tasks())
        gpuTask = gpuTask || task->resource().type() == SystemResourceType::gpu;
    EXPECT_EQ(gpuTask, system.gpu().hasBoth());
}
