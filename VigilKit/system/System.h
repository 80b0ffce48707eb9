#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "runtime/Timer.h"
#include "system/SystemResource.h"

namespace vigil {

class CPU;
class GPU;
class Disk;
class Memory;
class Network;
class Battery;
class Applications;
class Sensors;

// Owns every resource and one repeating background task per sampled resource. The program reads
// resources through System::shared(), starts the group its rows need, starts delayed resources
// while a detail view shows them, and stops everything while it is being edited.
class System {
  public:
    enum class Group { all, system, network };

    // Told of every sample a task takes, on the thread that took it (the history recorder).
    using SampleObserver = std::function<void(const SystemResource&)>;
    struct ObserverSlot {
        std::mutex mutex;
        SampleObserver observer;
        void notify(const SystemResource& resource);
    };

    // A repeating update of one resource on the background queue. Constructing it takes the
    // resource's first sample at once, on the constructing thread.
    class Task : public Timer {
      public:
        Task(double interval, std::shared_ptr<SystemResource> resource, Group group, bool delayed,
             std::shared_ptr<ObserverSlot> observers = nullptr);

        // Takes one sample now on the calling thread, unless the task is taking one; returns
        // whether it did. For a suspended delayed task that something samples more rarely.
        bool sampleNow();

        bool delayed() const { return delayed_; }
        Group group() const { return group_; }
        SystemResource& resource() const { return *resource_; }

      private:
        bool delayed_;
        std::shared_ptr<SystemResource> resource_;
        Group group_;
        std::shared_ptr<ObserverSlot> observers_;
        std::shared_ptr<std::mutex> sampling_ = std::make_shared<std::mutex>();
    };

    struct TaskSpec {
        std::shared_ptr<SystemResource> resource;
        double interval;
        Group group;
        bool delayed;
    };

    // The resource instances; any may be absent in a System built for a test.
    struct Resources {
        std::shared_ptr<CPU> cpu;
        std::shared_ptr<GPU> gpu;
        std::shared_ptr<Disk> disk;
        std::shared_ptr<Memory> mem;
        std::shared_ptr<Network> net;
        std::shared_ptr<Battery> battery;
        std::shared_ptr<Applications> apps;
        std::shared_ptr<Sensors> sensors;

        // The resources that are sampled on a timer (the battery changes on the kernel's
        // notices instead); graphics only on a machine with a graphics processor to watch.
        std::vector<std::shared_ptr<SystemResource>> sampled() const;
    };

    // The process-wide instance, created on first use (thread-safe) and never destroyed.
    static System& shared();

    // Builds the tasks in the given order; each takes its first sample now.
    System(Resources resources, const std::vector<TaskSpec>& tasks);
    System(const System&) = delete;
    System& operator=(const System&) = delete;

    CPU& cpu() const;
    GPU& gpu() const;
    Disk& disk() const;
    Memory& mem() const;
    Network& net() const;
    Battery& battery() const;
    Applications& apps() const;
    Sensors& sensors() const;
    const Resources& resources() const { return resources_; }

    // Starts the tasks of the group (all of them for `all`) that are not delayed.
    void start(Group group = Group::all);
    // Suspends every running task.
    void stop();
    // Starts (or suspends) every task whose resource is of the same kind, delayed or not.
    void start(const SystemResource& resource) { start(resource.type()); }
    void stop(const SystemResource& resource) { stop(resource.type()); }
    void start(SystemResourceType type);
    void stop(SystemResourceType type);

    const std::vector<std::unique_ptr<Task>>& tasks() const { return tasks_; }

    // Replaces the one sample observer (none when null).
    void setSampleObserver(SampleObserver observer);

  private:
    Resources resources_;
    std::shared_ptr<ObserverSlot> observers_ = std::make_shared<ObserverSlot>();
    std::vector<std::unique_ptr<Task>> tasks_;
};

const char* toString(System::Group group);

// The production task table: how often each kind of resource is sampled, in which group, and
// which wait for a view to start them. The tasks come in the table's order; a resource of a kind
// the table does not list gets no task.
std::vector<System::TaskSpec> productionTaskSpecs(
    const std::vector<std::shared_ptr<SystemResource>>& sampled);
std::vector<System::TaskSpec> productionTaskSpecs(const System::Resources& resources);

}  // namespace vigil
