#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/BlockDevices.h"
#include "platform/MountTable.h"

namespace vigil {

// A listed volume whose file-system label changed while it stayed mounted.
struct VolumeRename {
    std::string device;   // device base name
    std::string oldName;  // label before (the device name when it had none)
    std::string newName;  // label now
    std::string path;     // mount point, the volume's key
};

// The disk session: watches <root>/proc/self/mountinfo (poll with POLLPRI) for mounts and unmounts,
// and re-reads the labels of the listed volumes every `labelInterval` for renames (a new label is
// reported once two checks in a row read it). Listeners are
// called on the watch's own thread; they must not block for long, and must not add or remove
// listeners from inside the call.
class MountWatch {
  public:
    struct Listener {
        std::function<void()> mountsChanged;
        std::function<void(const VolumeRename&)> renamed;
    };

    struct Options {
        std::string root = "/";
        std::chrono::milliseconds labelInterval = std::chrono::seconds(2);
    };

    explicit MountWatch(std::string root = "/");
    explicit MountWatch(Options options);
    ~MountWatch();
    MountWatch(const MountWatch&) = delete;
    MountWatch& operator=(const MountWatch&) = delete;

    // Starts the watch thread; false (with one error line) when the mount table cannot be opened.
    // Starting a running watch does nothing.
    bool start();
    // Stops and joins the thread. Safe to call more than once.
    void stop();
    bool running() const { return running_.load(); }

    // Returns an id for removeListener.
    int addListener(Listener listener);
    void removeListener(int id);

    // How many changes of the listed volumes the watch has seen since it started.
    uint64_t changes() const { return changes_.load(); }

  private:
    struct Known {
        std::string name;
        std::string path;
        // A different label seen once; reported when the next check reads it again, so a read
        // that caught the superblock mid-write never shows as a rename.
        std::optional<std::string> candidate;
    };

    void run(int mountInfoFd, int stopFd);
    // Re-reads the listed volumes; true when the set of (device, mount point) changed.
    using Table = std::optional<std::vector<MountEntry>>;
    bool refreshVolumes(const Table& table);
    void checkLabels(const Table& table);
    std::string labelOf(const MountEntry& entry) const;
    void notifyMounts();
    void notifyRename(const VolumeRename& rename);

    Options options_;
    MountTable table_;
    BlockDevices devices_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<uint64_t> changes_{0};
    int stopPipe_[2] = {-1, -1};

    std::mutex listenersMutex_;
    std::map<int, Listener> listeners_;
    int nextId_ = 1;

    // Touched by the watch thread only.
    std::vector<std::pair<std::string, std::string>> listed_;
    std::map<std::string, Known> labels_;
};

}  // namespace vigil
