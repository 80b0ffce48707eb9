#include <cstdlib>
#include <string_view>

#include "SystemManager.h"
#include "system/Applications.h"
#include "system/Battery.h"
#include "system/CPU.h"
#include "system/Disk.h"
#include "system/GPU.h"
#include "system/Memory.h"
#include "system/Network.h"
#include "system/Sensors.h"
#include "system/System.h"

namespace vigil {

namespace {
// VIGIL_SENSORS_GPU=off leaves out the sensors and the graphics processors' figures (which one is
// in use is still watched): bench/overhead measures what they cost against it.
bool sensorsAndGPUFiguresOff() {
    const char* value = std::getenv("VIGIL_SENSORS_GPU");
    return value != nullptr && std::string_view(value) == "off";
}
}  // namespace

// The process-wide System: every resource of this machine and the production task table. The
// first use must be on the main thread: the battery and the applications list work there.
System& System::shared() {
    static System* instance = [] {
        System::Resources resources;
        resources.cpu = std::make_shared<CPU>();
        const bool off = sensorsAndGPUFiguresOff();
        resources.gpu = std::make_shared<GPU>();
        resources.gpu->setSamplesUsage(!off);
        resources.disk = std::make_shared<Disk>(SystemManager::shared().diskSession());
        resources.mem = std::make_shared<Memory>();
        resources.net = std::make_shared<Network>();
        resources.battery = std::make_shared<Battery>();
        resources.apps = std::make_shared<Applications>();
        if (!off)
            resources.sensors = std::make_shared<Sensors>();
        return new System(resources, productionTaskSpecs(resources));
    }();
    return *instance;
}

std::vector<System::TaskSpec> productionTaskSpecs(const System::Resources& resources) {
    SampledResources sampled;
    sampled.cpu = resources.cpu;
    sampled.mem = resources.mem;
    sampled.net = resources.net;
    sampled.disk = resources.disk;
    sampled.apps = resources.apps;
    sampled.gpu = resources.gpu;
    sampled.gpuIsWatched =
        resources.gpu && (resources.gpu->hasBoth() ||
                          (resources.gpu->samplesUsage() && !resources.gpu->usage().empty()));
    auto specs = productionTaskSpecs(sampled);
    // The sensors: read every 2 s while a view shows a temperature (the processor details, the
    // volumes' drive temperatures), else not at all.
    if (resources.sensors)
        specs.push_back({resources.sensors, 2.0, System::Group::system, true});
    return specs;
}

}  // namespace vigil
