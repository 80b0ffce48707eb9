#include "system/Battery.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "C/system/ErrorReport.h"
#include "platform/PowerSupply.h"
#include "runtime/Queue.h"
#include "runtime/Timer.h"

namespace vigil {

Battery::Battery() : Battery(Options{}) {}

Battery::Battery(Options options)
    : options_(std::move(options)),
      supplies_(options_.root),
      state_(std::make_shared<const State>()) {
    const auto registry = getBatteryRegistry(supplies_);
    if (!registry) {
        // No battery: on external power, and nothing to watch.
        modify([](State& s) { s.isACPowered = true; });
        if (options_.ueventFd >= 0)
            ::close(options_.ueventFd);
        return;
    }
    modify([&](State& s) {
        s.hasBattery = true;
        if (registry->designCapacity)
            s.designCapacity = static_cast<double>(*registry->designCapacity);
        if (registry->designCycleCount9C && *registry->designCycleCount9C > 0)
            s.designCycleCount = *registry->designCycleCount9C;
        if (registry->batteryInstalled)
            s.installed = *registry->batteryInstalled;
        if (registry->manufactureDate) {
            const auto texts = unpackBatteryDate(*registry->manufactureDate);
            s.age = texts.age;
            s.manufactured = texts.manufactured;
        }
    });

    // The first report at once, then one per change.
    powerSourceChanged();

    int fd = options_.ueventFd;
    if (fd < 0 && options_.watchKernel) {
        fd = UeventMonitor::openKernelSocket();
        if (fd < 0) {
            reportError("socket(NETLINK_KOBJECT_UEVENT)", std::strerror(errno));
        }
    }
    if (fd >= 0) {
        monitor_ = std::make_unique<UeventMonitor>(fd, "power_supply",
                                                   [this](const Uevent&) { scheduleChange(); });
    }
    if (options_.rereadInterval > 0) {
        std::weak_ptr<void> alive = lifetimeToken();
        reread_ =
            std::make_unique<Timer>(options_.rereadInterval, /*background=*/false, [this, alive] {
                if (alive.lock())
                    powerSourceChanged();
            });
        reread_->start();
    }
}

Battery::~Battery() {
    // The monitor's thread may be posting; it is joined before anything it uses goes away.
    monitor_.reset();
    reread_.reset();
}

std::shared_ptr<const Battery::State> Battery::state() const {
    std::lock_guard lock(stateMutex_);
    return state_;
}

template <typename F>
void Battery::modify(F&& change) {
    std::lock_guard lock(stateMutex_);
    auto next = std::make_shared<State>(*state_);
    change(*next);
    state_ = std::move(next);
}

std::optional<uint8_t> Battery::health() const {
    const auto s = state();
    if (!s->designCapacity || !(*s->designCapacity > 0) || !s->maxCapacity ||
        !std::isfinite(*s->maxCapacity)) {
        return std::nullopt;
    }
    const double ratio = std::round(*s->maxCapacity / *s->designCapacity * 100.0);
    return static_cast<uint8_t>(std::clamp(ratio, 0.0, 100.0));
}

void Battery::scheduleChange() {
    // A burst of uevents (a plug event touches several supplies) becomes one re-read.
    if (changePending_.exchange(true))
        return;
    std::weak_ptr<void> alive = lifetimeToken();
    Queue::main().async([this, alive] {
        if (!alive.lock())
            return;
        changePending_.store(false);
        powerSourceChanged();
    });
}

void Battery::update() {
    if (!state()->hasBattery)
        return;
    const auto registry = getBatteryRegistry(supplies_);
    if (registry)
        applyRegistry(*registry);
}

void Battery::applyRegistry(const BatteryRegistry& r) {
    modify([&](State& s) {
        if (r.batteryInstalled)
            s.installed = *r.batteryInstalled;
        if (!s.installed)
            return;
        if (r.externalConnected)
            s.isACPowered = *r.externalConnected;
        if (r.isCharging)
            s.isCharging = *r.isCharging;
        if (r.currentCapacity)
            s.currentCapacity = static_cast<double>(*r.currentCapacity);
        if (r.maxCapacity)
            s.maxCapacity = static_cast<double>(*r.maxCapacity);
        if (r.cycleCount)
            s.cycleCount = *r.cycleCount;
        if (r.voltage)
            s.voltage = *r.voltage;
        if (r.temperature)
            s.temperature = static_cast<double>(*r.temperature) / 100.0;
    });
}

std::string Battery::timeRemainingText(const BatteryData& data) {
    const int32_t minutes = data.isCharging ? data.timeToFull : data.timeToEmpty;
    if (minutes < 0)
        return "Calculating...";
    if (minutes == 0)
        return "";
    char text[64];
    std::snprintf(text, sizeof text, "%d:%02d %s", minutes / 60, minutes % 60,
                  data.isCharging ? " until charged" : " remaining");
    return text;
}

void Battery::batteryAdapter(const BatteryData& data) {
    modify([&](State& s) {
        s.condition = data.condition ? data.condition : "";
        s.hasACondition = data.hasACondition != 0;
        s.isFullyCharged = data.isCharged != 0;
        s.isCharging = data.isCharging != 0;
        s.current = data.hasCurrent ? std::optional<int64_t>(data.current) : std::nullopt;
        s.percent = data.percent;
        s.acWatts = data.watts;
        s.timeRemaining = timeRemainingText(data);
    });
}

void Battery::powerSourceChanged() {
    const PowerSources sources = combinePowerSupplies(supplies_.list());
    BatteryData data{};
    std::string condition;
    // No record (the battery went away): no report and no signal; the figures stay.
    if (!batteryDataFrom(sources, data, condition))
        return;
    applyRegistry(batteryRegistry(sources));
    batteryAdapter(data);
    onBatteryChanged.fire();
}

}  // namespace vigil
