#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "collectors/CPUData.h"
#include "platform/Procfs.h"
#include "system/AlertFigures.h"
#include "system/Alerts.h"
#include "system/System.h"

namespace vigil {

class BlockingCalls;

// Takes the figures the enabled alert rules need from the resources, on the evaluating thread
// (a worker of the background queue, a few times a minute). A resource whose task rests because
// no view shows it is sampled here instead, as rarely as its rule allows:
//   processor            /proc/stat at each evaluation: the busy share since the previous one
//   memory               at each evaluation
//   volumes              once a minute, as the history recorder does
//   sensors              at each evaluation while the temperature rule is on, and once every
//                        ten minutes on a machine where no sensor gives a limit
//   applications         only while the processor or memory is past its warning level, to name
//                        the one that uses the most
//   drives' SMART        every five minutes, on a helper of BlockingCalls (it may block)
class AlertFiguresReader {
  public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::minutes kVolumeInterval{1};
    static constexpr std::chrono::minutes kSensorlessInterval{10};
    static constexpr std::chrono::minutes kDriveInterval{5};

    // `root`: where /proc/stat is read for the processor's busy share between two evaluations
    // (a fixture tree in tests). `blocking`: where SMART is read; BlockingCalls::shared() when
    // null.
    explicit AlertFiguresReader(System& system, std::string root = "/",
                                BlockingCalls* blocking = nullptr);

    AlertFigures read(const std::vector<AlertRuleConfig>& enabled);

  private:
    bool wants(const std::vector<AlertRuleConfig>& enabled, AlertKind kind) const;
    System::Task* restingTask(SystemResourceType type) const;
    void sampleIfResting(SystemResourceType type, std::optional<Clock::time_point>* last,
                         std::chrono::seconds interval);
    void readProcessorAndMemory(const std::vector<AlertRuleConfig>& enabled, AlertFigures& figures);
    void readApplications(AlertFigures& figures);
    void readVolumes(AlertFigures& figures);
    void readTemperatures(AlertFigures& figures);
    void readBattery(AlertFigures& figures);
    void readDrives(AlertFigures& figures);

    System& system_;
    platform::Procfs procfs_;
    std::optional<CPUTicks> lastTicks_;
    BlockingCalls* blocking_;
    std::optional<Clock::time_point> volumesSampled_, sensorsSampled_, appsSampled_, drivesChecked_;
    bool sensorsGiveLimits_ = true;
    // Written by the SMART check on its helper thread.
    struct DriveHealth {
        std::mutex mutex;
        std::vector<AlertFigures::Drive> drives;
    };
    std::shared_ptr<DriveHealth> driveHealth_ = std::make_shared<DriveHealth>();
};

}  // namespace vigil
