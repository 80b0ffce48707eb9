#include "system/System.h"

namespace vigil {

// The process-wide System: every resource of this machine and the production task table. The
// resources are added here as their units land.
System& System::shared() {
    static System* instance = [] {
        System::Resources resources;
        SampledResources sampled;
        return new System(resources, productionTaskSpecs(sampled));
    }();
    return *instance;
}

}  // namespace vigil
