#include "system/System.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/Queue.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

using Type = SystemResourceType;
using Group = System::Group;
using Status = Timer::Status;

// Records every sample: where it ran and in which order across resources.
class SampleLog {
  public:
    void record(Type type) {
        std::lock_guard lock(mutex_);
        order_.push_back(type);
    }
    std::vector<Type> order() const {
        std::lock_guard lock(mutex_);
        return order_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Type> order_;
};

class ProbeResource : public SystemResource {
  public:
    ProbeResource(Type type, SampleLog& log, std::chrono::milliseconds cost = {})
        : type_(type), log_(log), cost_(cost) {}

    Type type() const override { return type_; }
    void update() override {
        const int now = ++running_;
        int seen = maxRunning_;
        while (now > seen && !maxRunning_.compare_exchange_weak(seen, now)) {
        }
        if (updates_ == 0)
            firstThread_ = std::this_thread::get_id();
        log_.record(type_);
        if (cost_.count() > 0)
            std::this_thread::sleep_for(cost_);  // a slow collector
        --running_;
        ++updates_;
    }

    int updates() const { return updates_; }
    int maxRunning() const { return maxRunning_; }
    std::thread::id firstThread() const { return firstThread_; }

  private:
    Type type_;
    SampleLog& log_;
    std::chrono::milliseconds cost_;
    std::atomic<int> updates_{0}, running_{0}, maxRunning_{0};
    std::thread::id firstThread_;
};

struct ProductionLike {
    SampleLog log;
    std::map<Type, std::shared_ptr<ProbeResource>> probes;
    std::unique_ptr<System> system;

    explicit ProductionLike(bool gpuHasBothKinds = false, double scale = 1.0) {
        for (Type type : {Type::cpu, Type::mem, Type::net, Type::disk, Type::app, Type::gpu}) {
            probes[type] = std::make_shared<ProbeResource>(type, log);
        }
        std::vector<std::shared_ptr<SystemResource>> sampled{probes[Type::cpu], probes[Type::mem],
                                                             probes[Type::net], probes[Type::disk],
                                                             probes[Type::app]};
        if (gpuHasBothKinds)
            sampled.push_back(probes[Type::gpu]);
        auto specs = productionTaskSpecs(sampled);
        for (auto& spec : specs)
            spec.interval *= scale;
        system = std::make_unique<System>(System::Resources{}, specs);
    }

    Status statusOf(Type type) const {
        for (const auto& task : system->tasks()) {
            if (task->resource().type() == type)
                return task->status();
        }
        ADD_FAILURE() << "no task for " << toString(type);
        return Status::canceled;
    }
    std::vector<Type> started() const {
        std::vector<Type> types;
        for (const auto& task : system->tasks()) {
            if (task->status() == Status::started)
                types.push_back(task->resource().type());
        }
        return types;
    }
};

TEST(SystemTasks, ProductionTableHasTheOrderIntervalsGroupsAndDelays) {
    ProductionLike machine(true);
    const auto& tasks = machine.system->tasks();
    ASSERT_EQ(tasks.size(), 6u);
    const struct {
        Type type;
        double interval;
        Group group;
        bool delayed;
    } expected[] = {{Type::cpu, 1.1, Group::system, false},  {Type::mem, 2.0, Group::system, false},
                    {Type::net, 1.1, Group::network, false}, {Type::disk, 1.1, Group::system, true},
                    {Type::app, 1.3, Group::system, true},   {Type::gpu, 1.1, Group::system, true}};
    for (size_t i = 0; i < tasks.size(); ++i) {
        EXPECT_EQ(tasks[i]->resource().type(), expected[i].type) << i;
        EXPECT_DOUBLE_EQ(tasks[i]->interval(), expected[i].interval) << i;
        EXPECT_EQ(tasks[i]->group(), expected[i].group) << i;
        EXPECT_EQ(tasks[i]->delayed(), expected[i].delayed) << i;
        EXPECT_EQ(tasks[i]->status(), Status::initial) << i;
    }
}

TEST(SystemTasks, SingleGraphicsProcessorGetsNoTask) {
    ProductionLike machine(false);
    EXPECT_EQ(machine.system->tasks().size(), 5u);
    machine.system->start(*machine.probes[Type::gpu]);
    EXPECT_TRUE(machine.started().empty());
}

TEST(SystemTasks, FirstSamplesHappenAtOnceOnTheConstructingThreadInOrder) {
    ProductionLike machine(true);
    EXPECT_EQ(machine.log.order(), (std::vector<Type>{Type::cpu, Type::mem, Type::net, Type::disk,
                                                      Type::app, Type::gpu}));
    for (const auto& [type, probe] : machine.probes) {
        EXPECT_EQ(probe->updates(), 1) << toString(type);
        EXPECT_EQ(probe->firstThread(), std::this_thread::get_id()) << toString(type);
    }
}

TEST(SystemTasks, GroupsStartExactlyTheirUndelayedTasks) {
    {
        ProductionLike machine(true);
        machine.system->start(Group::network);
        EXPECT_EQ(machine.started(), (std::vector<Type>{Type::net}));
    }
    {
        ProductionLike machine(true);
        machine.system->start(Group::system);
        EXPECT_EQ(machine.started(), (std::vector<Type>{Type::cpu, Type::mem}));
    }
    {
        ProductionLike machine(true);
        machine.system->start();
        EXPECT_EQ(machine.started(), (std::vector<Type>{Type::cpu, Type::mem, Type::net}));
        machine.system->start(Group::all);  // starting twice changes nothing
        EXPECT_EQ(machine.started(), (std::vector<Type>{Type::cpu, Type::mem, Type::net}));
    }
}

TEST(SystemTasks, DelayedResourcesStartOnlyByResourceAndStopWithEverything) {
    ProductionLike machine(true);
    auto& system = *machine.system;
    system.start();
    system.start(*machine.probes[Type::disk]);
    EXPECT_EQ(machine.statusOf(Type::disk), Status::started);
    EXPECT_EQ(machine.statusOf(Type::app), Status::initial);
    system.start(Type::app);
    system.start(Type::gpu);
    EXPECT_EQ(machine.started().size(), 6u);

    system.stop(*machine.probes[Type::gpu]);
    EXPECT_EQ(machine.statusOf(Type::gpu), Status::suspended);
    system.stop(Type::gpu);  // not running: no change
    EXPECT_EQ(machine.statusOf(Type::gpu), Status::suspended);

    system.stop();
    EXPECT_TRUE(machine.started().empty());
    for (const auto& task : system.tasks()) {
        if (task->resource().type() == Type::gpu)
            continue;
        EXPECT_EQ(task->status(), Status::suspended);
    }
    // Starting the group again leaves the delayed tasks suspended.
    system.start();
    EXPECT_EQ(machine.statusOf(Type::disk), Status::suspended);
    EXPECT_EQ(machine.statusOf(Type::cpu), Status::started);
}

TEST(SystemTasks, BatteryHasNoTaskToStart) {
    SampleLog log;
    auto battery = std::make_shared<ProbeResource>(Type::battery, log);
    ProductionLike machine(true);
    machine.system->start(*battery);
    EXPECT_TRUE(machine.started().empty());
    EXPECT_EQ(battery->updates(), 0);
}

TEST(SystemTasks, StartedTasksUpdateOnTheBackgroundQueue) {
    ProductionLike machine(false, 0.02);  // intervals of 22 to 40 ms
    machine.system->start(Type::cpu);
    machine.system->start(Group::network);
    ASSERT_TRUE(test::waitUntil([&] {
        return machine.probes[Type::cpu]->updates() >= 4 &&
               machine.probes[Type::net]->updates() >= 4;
    }));
    EXPECT_EQ(machine.probes[Type::mem]->updates(), 1);  // never started
    machine.system->stop();
}

TEST(SystemTasks, SlowUpdatesOfOneTaskNeverOverlap) {
    SampleLog log;
    auto slow = std::make_shared<ProbeResource>(Type::cpu, log, std::chrono::milliseconds(40));
    System system({}, {{slow, 0.005, Group::system, false}});
    system.start();
    ASSERT_TRUE(test::waitUntil([&] { return slow->updates() >= 5; }));
    system.stop();
    EXPECT_EQ(slow->maxRunning(), 1);
}

}  // namespace
}  // namespace vigil
