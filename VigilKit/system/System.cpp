#include "system/System.h"

#include "C/system/System.h"
#include "runtime/Queue.h"

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

std::vector<System::TaskSpec> productionTaskSpecs(
    const std::vector<std::shared_ptr<SystemResource>>& sampled) {
    using G = System::Group;
    using T = SystemResourceType;
    struct Timing {
        T type;
        double interval;
        G group;
        bool delayed;
    };
    // Delayed: sampled only while a view shows them (volumes, applications, graphics figures,
    // and the sensors while the processor details or the volumes show a temperature).
    static constexpr Timing table[] = {
        {T::cpu, 1.1, G::system, false},    {T::mem, 2.0, G::system, false},
        {T::net, 1.1, G::network, false},   {T::disk, 1.1, G::system, true},
        {T::app, 1.3, G::system, true},     {T::gpu, 1.1, G::system, true},
        {T::sensors, 2.0, G::system, true},
    };
    std::vector<System::TaskSpec> specs;
    for (const auto& timing : table) {
        for (const auto& resource : sampled) {
            if (resource && resource->type() == timing.type)
                specs.push_back({resource, timing.interval, timing.group, timing.delayed});
        }
    }
    return specs;
}

std::vector<System::TaskSpec> productionTaskSpecs(const System::Resources& resources) {
    return productionTaskSpecs(resources.sampled());
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
