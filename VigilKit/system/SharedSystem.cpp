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

// The process-wide System: every resource of this machine and the production task table. The
// first use must be on the main thread: the battery and the applications list work there.
System& System::shared() {
    static System* instance = [] {
        System::Resources resources;
        resources.cpu = std::make_shared<CPU>();
        resources.gpu = std::make_shared<GPU>();
        resources.disk = std::make_shared<Disk>(SystemManager::shared().diskSession());
        resources.mem = std::make_shared<Memory>();
        resources.net = std::make_shared<Network>();
        resources.battery = std::make_shared<Battery>();
        resources.apps = std::make_shared<Applications>();
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
    sampled.gpuIsWatched = resources.gpu && !resources.gpu->usage().empty();
    auto specs = productionTaskSpecs(sampled);
    // The sensors: read every 2 s while a view shows a temperature (the processor details, the
    // volumes' drive temperatures), else not at all.
    if (resources.sensors)
        specs.push_back({resources.sensors, 2.0, System::Group::system, true});
    return specs;
}

}  // namespace vigil
