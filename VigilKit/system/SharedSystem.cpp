#include <cstdlib>
#include <string_view>

#include "system/Applications.h"
#include "system/Battery.h"
#include "system/CPU.h"
#include "system/Disk.h"
#include "system/GPU.h"
#include "system/Memory.h"
#include "system/Network.h"
#include "system/Sensors.h"
#include "system/System.h"
#include "system/SystemManager.h"

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

std::vector<std::shared_ptr<SystemResource>> System::Resources::sampled() const {
    std::vector<std::shared_ptr<SystemResource>> list{cpu, mem, net, disk, apps, sensors};
    if (gpu && (gpu->hasBoth() || (gpu->samplesUsage() && !gpu->usage().empty())))
        list.push_back(gpu);
    return list;
}

}  // namespace vigil
