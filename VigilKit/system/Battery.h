#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "collectors/BatteryData.h"
#include "platform/PowerSupply.h"
#include "runtime/Signal.h"
#include "runtime/Trackable.h"
#include "system/SystemResource.h"

namespace vigil {

class Timer;
class UeventMonitor;

// The machine's battery, read from /sys/class/power_supply. Several batteries show as one (their
// charge and energy summed). The figures change on the main queue: at construction, on every
// power-supply uevent of the kernel and on a re-read every 30 s, each followed by onBatteryChanged.
// A machine without a battery keeps the initial values with isACPowered true and never fires.
// The getters may be called from any thread; each returns a value of one consistent snapshot.
class Battery : public SystemResource, public Trackable {
  public:
    struct Options {
        std::string root = "/";  // the directory that holds sys/class/power_supply
        // Listen to the kernel's uevent socket. A test hands over a socket of its own instead.
        bool watchKernel = true;
        int ueventFd = -1;  // taken over when >= 0
        double rereadInterval = 30.0;
    };

    // Every published figure at one moment. A figure the battery does not report stays empty
    // (never 0); so do the age and date texts.
    struct State {
        bool hasBattery = false;
        bool installed = false;
        bool isACPowered = false;
        bool isFullyCharged = false;
        bool isCharging = false;
        int64_t acWatts = 0;
        std::optional<double> currentCapacity;  // mAh
        std::optional<double> maxCapacity;
        std::optional<double> designCapacity;
        std::optional<int64_t> cycleCount;
        std::optional<int64_t> designCycleCount;
        std::optional<double> temperature;  // °C
        std::string timeRemaining = "Calculating..";
        std::optional<int64_t> voltage;  // mV
        std::optional<int64_t> current;  // mA, negative while discharging
        int64_t percent = 0;
        std::string condition;
        bool hasACondition = false;
        std::string age;
        std::string manufactured;
    };

    Battery();
    explicit Battery(Options options);
    ~Battery() override;
    Battery(const Battery&) = delete;
    Battery& operator=(const Battery&) = delete;

    SystemResourceType type() const override { return SystemResourceType::battery; }
    // Re-reads the battery entry's figures (capacities, cycles, voltage, temperature, external
    // power). Fires nothing. Call it on the main queue.
    void update() override;

    Signal<> onBatteryChanged;

    std::shared_ptr<const State> state() const;
    bool hasBattery() const { return state()->hasBattery; }
    bool installed() const { return state()->installed; }
    bool isACPowered() const { return state()->isACPowered; }
    bool isFullyCharged() const { return state()->isFullyCharged; }
    bool isCharging() const { return state()->isCharging; }
    int64_t acWatts() const { return state()->acWatts; }
    std::optional<double> currentCapacity() const { return state()->currentCapacity; }
    std::optional<double> maxCapacity() const { return state()->maxCapacity; }
    std::optional<double> designCapacity() const { return state()->designCapacity; }
    std::optional<int64_t> cycleCount() const { return state()->cycleCount; }
    std::optional<int64_t> designCycleCount() const { return state()->designCycleCount; }
    std::optional<double> temperature() const { return state()->temperature; }
    std::string timeRemaining() const { return state()->timeRemaining; }
    std::optional<int64_t> voltage() const { return state()->voltage; }
    std::optional<int64_t> current() const { return state()->current; }
    int64_t percent() const { return state()->percent; }
    std::string condition() const { return state()->condition; }
    bool hasACondition() const { return state()->hasACondition; }
    std::string age() const { return state()->age; }
    std::string manufactured() const { return state()->manufactured; }
    // max / design capacity in percent, rounded, at most 100; empty without both capacities.
    std::optional<uint8_t> health() const;

    // The remaining-time text for a record: "Calculating..." while estimating, empty for 0,
    // "H:MM  until charged" or "H:MM  remaining".
    static std::string timeRemainingText(const BatteryData& data);

  private:
    // Reads the supplies once, applies the entry's figures, then the power source's record, and
    // fires onBatteryChanged. Runs on the main queue.
    void powerSourceChanged();
    void applyRegistry(const BatteryRegistry& registry);
    void batteryAdapter(const BatteryData& data);
    void scheduleChange();
    template <typename F>
    void modify(F&& change);

    Options options_;
    PowerSupply supplies_;
    mutable std::mutex stateMutex_;
    std::shared_ptr<const State> state_;
    std::atomic<bool> changePending_{false};
    std::unique_ptr<UeventMonitor> monitor_;
    std::unique_ptr<Timer> reread_;
};

}  // namespace vigil
