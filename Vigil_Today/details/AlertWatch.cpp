#include "details/AlertWatch.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "system/Alerts.h"

namespace vigil {

AlertWatch::AlertWatch(Alerts* alerts) : alerts_(alerts) {}

Alerts& AlertWatch::alerts() const {
    return alerts_ ? *alerts_ : Alerts::shared();
}

void AlertWatch::setAlerts(Alerts* alerts) {
    alerts_ = alerts;
    seen_.reset();
}

bool AlertWatch::changed() {
    const unsigned now = alerts().generation();
    if (seen_ == now)
        return false;
    seen_ = now;
    return true;
}

bool volumeIsOnDrive(const std::string& volumeDevice, const std::string& drive) {
    if (drive.empty() || volumeDevice.compare(0, drive.size(), drive) != 0)
        return false;
    std::string_view partition(volumeDevice);
    partition.remove_prefix(drive.size());
    // "nvme0n1" + "p2", "mmcblk0" + "p1", "sda" + "1".
    if (!partition.empty() && partition.front() == 'p' &&
        std::isdigit(static_cast<unsigned char>(drive.back())))
        partition.remove_prefix(1);
    return std::all_of(partition.begin(), partition.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

bool alertIsAboutVolume(const ActiveAlert& alert, const std::string& mountPoint,
                        const std::string& device) {
    switch (alert.kind) {
        case AlertKind::volumeLow:
        case AlertKind::volumeFillingFast:
            return alert.subject == mountPoint;
        case AlertKind::driveHealth:
            return volumeIsOnDrive(device, alert.subject);
        default:
            return false;
    }
}

}  // namespace vigil
