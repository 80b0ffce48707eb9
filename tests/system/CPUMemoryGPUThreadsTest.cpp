#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/TestSupport.h"
#include "system/CPU.h"
#include "system/GPU.h"
#include "system/Memory.h"
#include "system/System.h"

using namespace vigil;

// System samples the three resources on the background queue while another thread reads every
// property; ThreadSanitizer watches.
TEST(ResourceThreads, SamplingWhileAReaderPolls) {
    System::Resources resources;
    resources.cpu = std::make_shared<CPU>();
    resources.mem = std::make_shared<Memory>();
    resources.gpu = std::make_shared<GPU>(vigil::test::fixturePath("two-gpu"));
    using G = System::Group;
    System system(resources, {{resources.cpu, 0.02, G::system, false},
                              {resources.mem, 0.03, G::system, false},
                              {resources.gpu, 0.02, G::system, false}});
    system.start();
    std::atomic<int> cpuChanges{0}, memChanges{0};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        auto lastCpu = resources.cpu->sample();
        auto lastMem = resources.mem->sample();
        double sink = 0;
        while (!stop) {
            auto cpu = resources.cpu->sample();
            auto mem = resources.mem->sample();
            if (cpu != lastCpu)
                ++cpuChanges;
            if (mem != lastMem)
                ++memChanges;
            lastCpu = cpu;
            lastMem = mem;
            sink += resources.cpu->usage() + resources.cpu->idle() + resources.mem->usage() +
                    static_cast<double>(resources.mem->total()) + resources.gpu->name().size() +
                    resources.gpu->isUsingDiscreteGPU() + resources.cpu->brand().size() +
                    static_cast<double>(resources.cpu->uptime());
            std::this_thread::yield();
        }
        EXPECT_GE(sink, 0);
    });
    bool sampled = vigil::test::waitUntil([&] { return cpuChanges >= 5 && memChanges >= 5; });
    stop = true;
    reader.join();
    system.stop();
    EXPECT_TRUE(sampled);
}
