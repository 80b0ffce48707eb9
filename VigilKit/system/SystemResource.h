#pragma once

namespace vigil {

// The kinds of resource.
enum class SystemResourceType { cpu, gpu, mem, disk, net, sensors, battery, app };

const char* toString(SystemResourceType type);

// What every resource adopts: a fixed kind and an update that takes one new sample. The first
// update() runs on the thread that builds the resource's task (System::Task), every later one on
// the background pool; it must not throw, and on failure leaves the previous sample in place.
class SystemResource {
  public:
    virtual ~SystemResource() = default;
    virtual SystemResourceType type() const = 0;
    virtual void update() = 0;
};

}  // namespace vigil
