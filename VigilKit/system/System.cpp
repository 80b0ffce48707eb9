#include "system/System.h"

#include "C/system/System.h"
#include "system/Queue.h"

namespace vigil {

void System::ObserverSlot::notify(const SystemResource& resource) {
    SampleObserver copy;
    {
        std::lock_guard lock(mutex);
        copy = observer;
    }
    if (copy)
        copy(resource);
}

System::Task::Task(double interval, std::shared_ptr<SystemResource> resource, Group group,
                   bool delayed, std::shared_ptr<ObserverSlot> observers)
    : Timer(Deferred{}),
      delayed_(delayed),
      resource_(std::move(resource)),
      group_(group),
      observers_(std::move(observers)) {
    resource_->update();
    createSource(interval, /*background=*/true,
                 [resource = resource_, observers = observers_, sampling = sampling_] {
                     std::lock_guard lock(*sampling);
                     resource->update();
                     if (observers)
                         observers->notify(*resource);
                 });
}

bool System::Task::sampleNow() {
    std::unique_lock lock(*sampling_, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    resource_->update();
    if (observers_)
        observers_->notify(*resource_);
    return true;
}

void System::setSampleObserver(SampleObserver observer) {
    std::lock_guard lock(observers_->mutex);
    observers_->observer = std::move(observer);
}

System::System(Resources resources, const std::vector<TaskSpec>& tasks)
    : resources_(std::move(resources)) {
    tasks_.reserve(tasks.size());
    for (const auto& spec : tasks) {
        tasks_.push_back(std::make_unique<Task>(spec.interval, spec.resource, spec.group,
                                                spec.delayed, observers_));
    }
}

namespace {
template <typename R>
R& present(const std::shared_ptr<R>& resource, const char* name) {
    if (!resource)
        VIGIL_RAISE("AssertException", "System has no %s resource", name);
    return *resource;
}
}  // namespace

CPU& System::cpu() const {
    return present(resources_.cpu, "cpu");
}
GPU& System::gpu() const {
    return present(resources_.gpu, "gpu");
}
Disk& System::disk() const {
    return present(resources_.disk, "disk");
}
Memory& System::mem() const {
    return present(resources_.mem, "mem");
}
Network& System::net() const {
    return present(resources_.net, "net");
}
Battery& System::battery() const {
    return present(resources_.battery, "battery");
}
Applications& System::apps() const {
    return present(resources_.apps, "apps");
}
Sensors& System::sensors() const {
    return present(resources_.sensors, "sensors");
}

void System::start(Group group) {
    for (auto& task : tasks_) {
        if ((group == Group::all || task->group() == group) && !task->delayed())
            task->start();
    }
}

void System::stop() {
    for (auto& task : tasks_)
        task->suspend();
}

void System::start(SystemResourceType type) {
    for (auto& task : tasks_) {
        if (task->resource().type() == type)
            task->start();
    }
}

void System::stop(SystemResourceType type) {
    for (auto& task : tasks_) {
        if (task->resource().type() == type)
            task->suspend();
    }
}

std::vector<System::TaskSpec> productionTaskSpecs(const SampledResources& r) {
    using G = System::Group;
    const System::TaskSpec table[] = {
        {r.cpu, 1.1, G::system, false},  {r.mem, 2.0, G::system, false},
        {r.net, 1.1, G::network, false}, {r.disk, 1.1, G::system, true},
        {r.apps, 1.3, G::system, true},  {r.gpuIsWatched ? r.gpu : nullptr, 1.1, G::system, true},
    };
    std::vector<System::TaskSpec> specs;
    for (const auto& spec : table) {
        if (spec.resource)
            specs.push_back(spec);
    }
    return specs;
}

const char* toString(System::Group group) {
    switch (group) {
        case System::Group::all:
            return "all";
        case System::Group::system:
            return "system";
        case System::Group::network:
            return "network";
    }
    return "unknown";
}

const char* toString(SystemResourceType type) {
    switch (type) {
        case SystemResourceType::cpu:
            return "cpu";
        case SystemResourceType::gpu:
            return "gpu";
        case SystemResourceType::mem:
            return "mem";
        case SystemResourceType::disk:
            return "disk";
        case SystemResourceType::net:
            return "net";
        case SystemResourceType::sensors:
            return "sensors";
        case SystemResourceType::battery:
            return "battery";
        case SystemResourceType::app:
            return "app";
    }
    return "unknown";
}

}  // namespace vigil
