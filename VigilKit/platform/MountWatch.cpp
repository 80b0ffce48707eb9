#include "platform/MountWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Read.h"

namespace vigil {

MountWatch::MountWatch(std::string root) : MountWatch(Options{std::move(root)}) {}

MountWatch::MountWatch(Options options)
    : options_(std::move(options)), table_(options_.root), devices_(options_.root) {}

MountWatch::~MountWatch() {
    stop();
}

bool MountWatch::start() {
    if (running_.load())
        return true;
    std::string path = table_.mountInfoPath();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        platform::reportError("open " + path, std::strerror(errno));
        return false;
    }
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        platform::reportError("pipe2", std::strerror(errno));
        ::close(fd);
        return false;
    }
    // The first state: what is listed now, and the labels, without notifying anyone.
    refreshVolumes(table_.read());
    labels_.clear();
    for (const auto& entry : listedMounts(table_.read().value_or(std::vector<MountEntry>{}))) {
        labels_[entry.deviceBaseName()] = Known{labelOf(entry), entry.mountPoint, std::nullopt};
    }
    running_.store(true);
    thread_ = std::thread([this, fd, stopFd = stopPipe_[0]] { run(fd, stopFd); });
    return true;
}

void MountWatch::stop() {
    if (!thread_.joinable())
        return;
    char byte = 1;
    (void)!::write(stopPipe_[1], &byte, 1);
    thread_.join();
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
    stopPipe_[0] = stopPipe_[1] = -1;
    running_.store(false);
}

int MountWatch::addListener(Listener listener) {
    std::lock_guard lock(listenersMutex_);
    int id = nextId_++;
    listeners_[id] = std::move(listener);
    return id;
}

void MountWatch::removeListener(int id) {
    std::lock_guard lock(listenersMutex_);
    listeners_.erase(id);
}

std::string MountWatch::labelOf(const MountEntry& entry) const {
    std::string device = entry.deviceBaseName();
    if (entry.isBlockSource()) {
        if (auto label = devices_.label(device))
            return *label;
    }
    return cutUtf8(device, 64);
}

bool MountWatch::refreshVolumes(const Table& table) {
    std::vector<std::pair<std::string, std::string>> now;
    if (table) {
        for (const auto& entry : listedMounts(*table)) {
            now.emplace_back(entry.deviceBaseName(), entry.mountPoint);
        }
    }
    if (now == listed_)
        return false;
    listed_ = std::move(now);
    return true;
}

void MountWatch::checkLabels(const Table& table) {
    if (!table)
        return;
    std::map<std::string, Known> now;
    for (const auto& entry : listedMounts(*table)) {
        std::string device = entry.deviceBaseName();
        Known current{labelOf(entry), entry.mountPoint, std::nullopt};
        auto before = labels_.find(device);
        if (before != labels_.end() && before->second.name != current.name) {
            if (before->second.candidate == current.name) {
                notifyRename(VolumeRename{device, before->second.name, current.name, current.path});
            } else {
                current.candidate = current.name;
                current.name = before->second.name;
            }
        }
        now[device] = std::move(current);
    }
    labels_ = std::move(now);
}

void MountWatch::notifyMounts() {
    changes_.fetch_add(1);
    std::vector<std::function<void()>> calls;
    {
        std::lock_guard lock(listenersMutex_);
        for (const auto& [id, listener] : listeners_) {
            if (listener.mountsChanged)
                calls.push_back(listener.mountsChanged);
        }
    }
    for (const auto& call : calls)
        call();
}

void MountWatch::notifyRename(const VolumeRename& rename) {
    std::vector<std::function<void(const VolumeRename&)>> calls;
    {
        std::lock_guard lock(listenersMutex_);
        for (const auto& [id, listener] : listeners_) {
            if (listener.renamed)
                calls.push_back(listener.renamed);
        }
    }
    for (const auto& call : calls)
        call(rename);
}

void MountWatch::run(int mountInfoFd, int stopFd) {
    using Clock = std::chrono::steady_clock;
    auto nextLabelCheck = Clock::now() + options_.labelInterval;
    std::optional<Table> lastTable;
    // The live table signals every change; a fixture's file cannot.
    const bool signals = options_.root.empty() || options_.root == "/";
    for (;;) {
        auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextLabelCheck - Clock::now());
        int timeout = static_cast<int>(std::max<int64_t>(0, wait.count()));
        pollfd fds[2] = {{mountInfoFd, POLLPRI, 0}, {stopFd, POLLIN, 0}};
        int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) {
            platform::reportError("poll mountinfo", std::strerror(errno));
            break;
        }
        if (fds[1].revents & POLLIN)
            break;
        bool tableEvent = ready > 0 && (fds[0].revents & (POLLPRI | POLLERR));
        bool labelsDue = Clock::now() >= nextLabelCheck;
        if (!tableEvent && !labelsDue)
            continue;
        // One read of the table serves the whole wake-up; a label check alone reuses the last
        // read of a table that signals its changes.
        if (tableEvent || !signals || !lastTable)
            lastTable = table_.read();
        const Table& table = *lastTable;
        if (refreshVolumes(table))
            notifyMounts();
        if (labelsDue) {
            checkLabels(table);
            nextLabelCheck = Clock::now() + options_.labelInterval;
        }
        if (tableEvent) {
            // New volumes start from their current labels; no rename for a volume just mounted.
            if (table) {
                for (const auto& entry : listedMounts(*table)) {
                    std::string device = entry.deviceBaseName();
                    auto known = labels_.find(device);
                    if (known == labels_.end() || known->second.path != entry.mountPoint) {
                        labels_[device] = Known{labelOf(entry), entry.mountPoint, std::nullopt};
                    }
                }
            }
        }
    }
    ::close(mountInfoFd);
}

}  // namespace vigil
