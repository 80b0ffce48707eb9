#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vigil {

// One entry of /sys/class/power_supply as the kernel documents it (sysfs-class-power). Values keep
// the kernel's units: µAh, µWh, µV, µA, µW, tenths of a degree Celsius, seconds. An attribute the
// kernel does not give (or that vanished while it was read, or held garbage) is empty.
struct PowerSupplyInfo {
    std::string name;    // the folder name (BAT0, AC, ucsi-source-psy-USBC000:001)
    std::string type;    // Battery, UPS, Mains, USB, USB_C, Wireless, ...
    std::string scope;   // System, Device or Unknown; empty when absent
    std::string status;  // Charging, Discharging, Not charging, Full, Unknown; empty when absent
    std::string health;  // Good, Overheat, Dead, ...; empty when absent
    std::optional<bool> present;
    std::optional<bool> online;
    std::optional<int64_t> capacity;  // percent
    std::optional<int64_t> chargeNow, chargeFull, chargeFullDesign;
    std::optional<int64_t> energyNow, energyFull, energyFullDesign;
    std::optional<int64_t> voltageNow, voltageMinDesign, voltageMaxDesign;
    std::optional<int64_t> currentNow, powerNow;
    std::optional<int64_t> cycleCount;
    std::optional<int64_t> temp;
    std::optional<int64_t> timeToEmptyNow, timeToFullNow;
    std::optional<int64_t> manufactureYear, manufactureMonth, manufactureDay;
    // Limits of an adapter (µV, µA, µW).
    std::optional<int64_t> voltageMax, currentMax;
    std::optional<int64_t> inputVoltageLimit, inputCurrentLimit, inputPowerLimit;

    bool isBattery() const { return type == "Battery"; }
    // Mains and the USB kinds (USB, USB_C, USB_PD, USB_DCP, ...) feed the machine from outside.
    bool isExternalSource() const;
};

// Parses one integer attribute: optional blanks, an optional sign, decimal digits, an optional
// newline. Anything else (empty, letters, overflow) is empty.
std::optional<int64_t> parsePowerSupplyInteger(std::string_view text);

// Reads /sys/class/power_supply below a root directory ("/" on a real machine).
class PowerSupply {
  public:
    explicit PowerSupply(std::string root = "/");

    // Every supply, sorted by name. No folder (a machine without supplies) is an empty list, not an
    // error. An attribute holding garbage gives one error line per supply and attribute.
    std::vector<PowerSupplyInfo> list() const;

    const std::string& root() const { return root_; }
    std::string classDirectory() const;

  private:
    std::optional<int64_t> integer(const std::string& dir, const std::string& supply,
                                   const char* attribute) const;

    std::string root_;
};

// One kernel uevent: the header's action and path, and the KEY=value lines that follow it.
struct Uevent {
    std::string action;  // add, remove, change, online, offline, bind, unbind
    std::string devpath;
    std::map<std::string, std::string> properties;

    std::string subsystem() const;
};

// Parses one datagram of the kernel's uevent socket ("ACTION@DEVPATH\0KEY=value\0..."). Messages
// that udev re-broadcasts (they begin with "libudev") and malformed ones give nothing.
std::optional<Uevent> parseUevent(std::string_view message);

// Listens to kernel uevents on its own thread and calls `callback` (on that thread) for each event
// of one subsystem. The socket is the kernel's NETLINK_KOBJECT_UEVENT socket, or any datagram
// socket a caller hands over (tests feed recorded messages through a socketpair).
class UeventMonitor {
  public:
    using Callback = std::function<void(const Uevent&)>;

    // Takes ownership of `fd`. With AF_NETLINK sockets only messages from the kernel (port 0)
    // count.
    UeventMonitor(int fd, std::string subsystem, Callback callback);
    ~UeventMonitor();
    UeventMonitor(const UeventMonitor&) = delete;
    UeventMonitor& operator=(const UeventMonitor&) = delete;

    // Opens and binds the kernel's uevent socket (multicast group 1); -1 with errno set on failure.
    static int openKernelSocket();

    enum class ReceiveStatus { event, dropped, empty, overflow, closed };
    // Reads one datagram from `fd` without waiting; empty for messages to drop (not from the
    // kernel, malformed), when nothing waits, and on errors. `status` tells which.
    static std::optional<Uevent> receive(int fd, ReceiveStatus* status = nullptr);

  private:
    void run();

    int fd_;
    int wakeFd_;
    std::string subsystem_;
    Callback callback_;
    std::thread thread_;
};

}  // namespace vigil
