#include "system/CPU.h"
#include "system/GPU.h"
#include "system/Memory.h"
#include "system/System.h"

namespace vigil {

// The process-wide System: every resource of this machine and the production task table. The
// resources are added here as their units land.
System& System::shared() {
    static System* instance = [] {
        System::Resources resources;
        resources.cpu = std::make_shared<CPU>();
        resources.mem = std::make_shared<Memory>();
        resources.gpu = std::make_shared<GPU>();
        SampledResources sampled;
        sampled.cpu = resources.cpu;
        sampled.mem = resources.mem;
        sampled.gpu = resources.gpu;
        sampled.gpuHasBothKinds = resources.gpu->hasBoth();
        return new System(resources, productionTaskSpecs(sampled));
    }();
    return *instance;
}

}  // namespace vigil
