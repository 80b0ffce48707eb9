#pragma once

#include <optional>
#include <string>

namespace vigil {

class Alerts;
struct ActiveAlert;

// A view's look at the firing alerts at its refresh tick: reads only the alerts' generation, and
// says whether the list changed since the last look (the first look always has), so that a view
// redraws for an alert only when one fired or cleared. Main thread only.
class AlertWatch {
  public:
    // The program's alerts when none are given.
    explicit AlertWatch(Alerts* alerts = nullptr);

    Alerts& alerts() const;
    void setAlerts(Alerts* alerts);

    bool changed();

  private:
    Alerts* alerts_;
    std::optional<unsigned> seen_;
};

// Whether the volume with this device ("sda1", "nvme0n1p2") lies on the drive ("sda", "nvme0n1").
bool volumeIsOnDrive(const std::string& volumeDevice, const std::string& drive);
// Whether the alert is about the volume: its space at that mount point, or the health of the
// drive that holds its device.
bool alertIsAboutVolume(const ActiveAlert& alert, const std::string& mountPoint,
                        const std::string& device);

}  // namespace vigil
