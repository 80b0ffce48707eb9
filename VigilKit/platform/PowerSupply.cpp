#include "platform/PowerSupply.h"

#include <dirent.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "C/system/ErrorReport.h"
#include "platform/ProcessTable.h"

namespace vigil {

bool PowerSupplyInfo::isExternalSource() const {
    return type == "Mains" || type.starts_with("USB");
}

std::optional<int64_t> parsePowerSupplyInteger(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

namespace {

constexpr size_t kAttributeLimit = 4096;

std::string trimmedLine(std::string text) {
    const size_t end = text.find('\n');
    if (end != std::string::npos)
        text.resize(end);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// Text attributes: a missing or unreadable one is empty.
std::string textAttribute(const std::string& dir, const char* attribute) {
    auto text = readSmallFile(dir + "/" + attribute, kAttributeLimit);
    return text ? trimmedLine(std::move(*text)) : std::string();
}

}  // namespace

PowerSupply::PowerSupply(std::string root) : root_(std::move(root)) {
    if (root_.empty())
        root_ = "/";
    if (root_.back() != '/')
        root_ += '/';
}

std::string PowerSupply::classDirectory() const {
    return root_ + "sys/class/power_supply";
}

std::optional<int64_t> PowerSupply::integer(const std::string& dir, const std::string& supply,
                                            const char* attribute) const {
    int error = 0;
    const auto text = readSmallFile(dir + "/" + attribute, kAttributeLimit, &error);
    // Absent, vanished or refused by the driver (ENODATA, EIO, ENODEV while a battery is pulled):
    // the attribute is simply not known now.
    if (!text)
        return std::nullopt;
    auto value = parsePowerSupplyInteger(*text);
    if (!value) {
        // One line a minute per attribute, whatever text it holds at each sample.
        const std::string key = supply + "/" + attribute;
        ErrorReport::shared().report("power_supply " + key,
                                     "not an integer: \"" + trimmedLine(*text).substr(0, 40) + "\"",
                                     "power_supply " + key);
    }
    return value;
}

std::vector<PowerSupplyInfo> PowerSupply::list() const {
    std::vector<PowerSupplyInfo> supplies;
    const std::string base = classDirectory();
    DIR* dir = ::opendir(base.c_str());
    if (!dir)
        return supplies;  // no supplies on this machine
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());

    for (const auto& name : names) {
        const std::string path = base + "/" + name;
        PowerSupplyInfo info;
        info.name = name;
        info.type = textAttribute(path, "type");
        if (info.type.empty())
            continue;  // vanished, or not a supply
        info.scope = textAttribute(path, "scope");
        info.status = textAttribute(path, "status");
        info.health = textAttribute(path, "health");
        auto flag = [&](const char* attribute) -> std::optional<bool> {
            const auto value = integer(path, name, attribute);
            if (!value)
                return std::nullopt;
            return *value != 0;
        };
        auto number = [&](const char* attribute) { return integer(path, name, attribute); };
        info.present = flag("present");
        info.online = flag("online");
        if (info.isBattery()) {
            info.capacity = number("capacity");
            info.chargeNow = number("charge_now");
            info.chargeFull = number("charge_full");
            info.chargeFullDesign = number("charge_full_design");
            info.energyNow = number("energy_now");
            info.energyFull = number("energy_full");
            info.energyFullDesign = number("energy_full_design");
            info.voltageNow = number("voltage_now");
            info.voltageMinDesign = number("voltage_min_design");
            info.voltageMaxDesign = number("voltage_max_design");
            info.currentNow = number("current_now");
            info.powerNow = number("power_now");
            info.cycleCount = number("cycle_count");
            info.temp = number("temp");
            info.timeToEmptyNow = number("time_to_empty_now");
            info.timeToFullNow = number("time_to_full_now");
            info.manufactureYear = number("manufacture_year");
            info.manufactureMonth = number("manufacture_month");
            info.manufactureDay = number("manufacture_day");
        } else {
            info.voltageMax = number("voltage_max");
            info.currentMax = number("current_max");
            info.inputVoltageLimit = number("input_voltage_limit");
            info.inputCurrentLimit = number("input_current_limit");
            info.inputPowerLimit = number("input_power_limit");
        }
        supplies.push_back(std::move(info));
    }
    return supplies;
}

std::string Uevent::subsystem() const {
    const auto it = properties.find("SUBSYSTEM");
    return it == properties.end() ? std::string() : it->second;
}

std::optional<Uevent> parseUevent(std::string_view message) {
    if (message.starts_with("libudev"))
        return std::nullopt;
    // Header "ACTION@DEVPATH", then NUL-separated KEY=value strings.
    const size_t headerEnd = message.find('\0');
    const std::string_view header = message.substr(0, headerEnd);
    const size_t at = header.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 >= header.size())
        return std::nullopt;
    Uevent event;
    event.action = std::string(header.substr(0, at));
    event.devpath = std::string(header.substr(at + 1));
    if (headerEnd != std::string_view::npos) {
        std::string_view rest = message.substr(headerEnd + 1);
        while (!rest.empty()) {
            const size_t end = rest.find('\0');
            const std::string_view entry = rest.substr(0, end);
            const size_t equals = entry.find('=');
            if (equals != std::string_view::npos && equals > 0) {
                event.properties[std::string(entry.substr(0, equals))] =
                    std::string(entry.substr(equals + 1));
            }
            if (end == std::string_view::npos)
                break;
            rest.remove_prefix(end + 1);
        }
    }
    // The body repeats the header; where it does not agree the message is not well formed.
    const auto action = event.properties.find("ACTION");
    if (action != event.properties.end() && action->second != event.action)
        return std::nullopt;
    return event;
}

UeventMonitor::UeventMonitor(int fd, std::string subsystem, Callback callback)
    : fd_(fd),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      subsystem_(std::move(subsystem)),
      callback_(std::move(callback)) {
    if (fd_ < 0)
        return;
    if (wakeFd_ < 0) {
        reportError("eventfd", std::strerror(errno));
        return;
    }
    thread_ = std::thread([this] { run(); });
}

UeventMonitor::~UeventMonitor() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        if (::write(wakeFd_, &one, sizeof one) < 0) {
            reportError("write", std::strerror(errno));
        }
        thread_.join();
    }
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    if (fd_ >= 0)
        ::close(fd_);
}

int UeventMonitor::openKernelSocket() {
    const int fd =
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (fd < 0)
        return -1;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;  // the kernel's own broadcast (udev's re-broadcast is group 2)
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

std::optional<Uevent> UeventMonitor::receive(int fd, ReceiveStatus* status) {
    ReceiveStatus ignored;
    ReceiveStatus& result = status ? *status : ignored;
    char buffer[8192];
    sockaddr_storage from{};
    iovec vector{buffer, sizeof buffer};
    msghdr header{};
    header.msg_name = &from;
    header.msg_namelen = sizeof from;
    header.msg_iov = &vector;
    header.msg_iovlen = 1;
    const ssize_t got = ::recvmsg(fd, &header, MSG_DONTWAIT);
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            result = ReceiveStatus::empty;
        } else if (errno == ENOBUFS) {
            result = ReceiveStatus::overflow;
        } else {
            result = ReceiveStatus::closed;
        }
        return std::nullopt;
    }
    if (got == 0) {
        // The kernel never sends empty messages; on a socket pair it is the other end closing.
        result = ReceiveStatus::closed;
        return std::nullopt;
    }
    result = ReceiveStatus::dropped;
    if (header.msg_flags & MSG_TRUNC)
        return std::nullopt;
    if (header.msg_namelen >= sizeof(sockaddr_nl) && from.ss_family == AF_NETLINK) {
        // Only the kernel (port 0) may speak on this socket; anything else is forged.
        if (reinterpret_cast<const sockaddr_nl*>(&from)->nl_pid != 0)
            return std::nullopt;
    }
    auto event = parseUevent(std::string_view(buffer, static_cast<size_t>(got)));
    if (event)
        result = ReceiveStatus::event;
    return event;
}

void UeventMonitor::run() {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            reportError("poll", std::strerror(errno));
            return;
        }
        if (fds[1].revents)
            return;
        const short events = fds[0].revents;
        if (events & POLLNVAL)
            return;
        // POLLERR on a netlink socket is the kernel saying it dropped messages: read to clear it.
        if (!(events & (POLLIN | POLLERR))) {
            if (events & POLLHUP)
                return;  // the other end of a socket pair went away
            continue;
        }
        bool readAny = false;
        for (int i = 0; i < 64; ++i) {
            ReceiveStatus status;
            const auto event = receive(fd_, &status);
            if (status == ReceiveStatus::empty)
                break;
            if (status == ReceiveStatus::closed)
                return;
            readAny = true;
            if (status == ReceiveStatus::overflow) {
                // Some events were lost: treat it as a change of this subsystem.
                Uevent lost;
                lost.action = "change";
                lost.properties["SUBSYSTEM"] = subsystem_;
                callback_(lost);
            } else if (event && event->subsystem() == subsystem_) {
                callback_(*event);
            }
        }
        if (!readAny && (events & POLLHUP))
            return;
    }
}

}  // namespace vigil
