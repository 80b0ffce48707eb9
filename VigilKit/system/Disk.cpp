#include "system/Disk.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "C/system/System.h"
#include "platform/BlockingCalls.h"

#include "platform/MountWatch.h"
#include "runtime/Queue.h"

namespace vigil {

namespace {

// Bytes per second between two readings of a cumulative counter. A counter that went down was
// reset (the device came back, the counters restarted): that interval reads 0.
double rate(int64_t now, int64_t before, int64_t dtMs) {
    if (dtMs <= 0 || now < before)
        return 0;
    return static_cast<double>(now - before) * 1000.0 / static_cast<double>(dtMs);
}

// Applies one counter reading taken at `monotonicMs`. Rates need two valid readings at least a
// millisecond apart; a sample taken in the same millisecond keeps the previous rates.
void applyCounters(Disk::Volume& volume, const DiskData& record, bool countersRead,
                   int64_t monotonicMs) {
    int64_t dt = monotonicMs - volume.sampleMonotonicMs;
    if (!countersRead) {
        // A failed read (no device behind the volume, or it vanished): keep the counters.
        volume.wbytesps = volume.rbytesps = 0;
        volume.countersValid = false;
    } else {
        if (volume.countersValid && dt >= 1) {
            volume.wbytesps = rate(record.wbytes, volume.wbytes, dt);
            volume.rbytesps = rate(record.rbytes, volume.rbytes, dt);
        } else if (!volume.countersValid) {
            volume.wbytesps = volume.rbytesps = 0;
        }
        volume.wbytes = record.wbytes;
        volume.rbytes = record.rbytes;
        volume.countersValid = true;
    }
    if (dt >= 1 || volume.sampleMonotonicMs == 0)
        volume.sampleMonotonicMs = monotonicMs;
}

}  // namespace

struct Disk::State : std::enable_shared_from_this<Disk::State> {
    DiskCollector* collector;
    BlockingCalls& blockingCalls;
    Atomic<Volumes> prevVolumes;
    std::mutex loadMutex;  // one rebuild at a time, published in order
    std::atomic<bool> reloadQueued{false};
    std::mutex probeMutex;  // held while a SMART probe reads through the collector
    bool probing = true;

    State(DiskCollector* c, BlockingCalls& calls) : collector(c), blockingCalls(calls) {}

    // A rebuild on the background queue, unless one is already waiting, queued or behind the
    // rebuild that runs: it reads the table once its turn comes, which covers every change until
    // then.
    void queueReload() {
        if (reloadQueued.exchange(true))
            return;
        std::weak_ptr<State> weak = weak_from_this();
        Queue::background().async([weak] {
            if (auto state = weak.lock()) {
                std::lock_guard serial(state->loadMutex);
                state->reloadQueued = false;
                state->rebuild();
            }
        });
    }

    // Asks the drive for SMART on a helper thread (a read takes seconds); the answer is merged
    // into the volumes of that device that are still listed.
    void probeSmart(const std::string& device) {
        std::weak_ptr<State> weak = weak_from_this();
        blockingCalls.post("smart " + device, [weak, device] {
            auto state = weak.lock();
            if (!state)
                return;
            SMARTData smart{};
            {
                std::lock_guard lock(state->probeMutex);
                if (!state->probing || !state->collector->getSMARTData(device.c_str(), &smart))
                    return;
            }
            state->prevVolumes.withValue([&](Volumes& volumes) {
                for (auto& [path, volume] : volumes) {
                    if (volume.device == device)
                        volume.smart = smart;
                }
            });
        });
    }

    // The collector may go with the resource: a probe that runs then leaves it alone.
    void stopProbing() {
        std::lock_guard lock(probeMutex);
        probing = false;
    }

    std::optional<Volume> known(const std::string& path, uint64_t deviceNumber) {
        return prevVolumes.withValue([&](const Volumes& volumes) -> std::optional<Volume> {
            auto it = volumes.find(path);
            // Another file system mounted at the same place is another volume.
            if (it == volumes.end() || it->second.deviceNumber != deviceNumber)
                return std::nullopt;
            return it->second;
        });
    }

    void load() {
        std::lock_guard serial(loadMutex);
        rebuild();
    }

    // Called with loadMutex held.
    void rebuild() {
        Volumes next;
        std::string rootDisk;
        std::vector<std::string> newDisks;
        collector->forEachVolume(
            [&](int64_t timestamp, DiskData* record, const DiskCollector::VolumeFacts& facts) {
                const std::string path = record->path;
                auto previous = known(path, facts.deviceNumber);
                Volume volume;
                if (previous) {
                    volume = std::move(*previous);
                } else {
                    volume.device = record->device;
                    volume.path = path;
                    volume.deviceNumber = facts.deviceNumber;
                    volume.model = record->model;
                    volume.fstype = record->fstype;
                    volume.icon = facts.icon;
                    volume.wholeDisk = facts.wholeDisk;
                    volume.collector = collector;
                    if (!facts.wholeDisk.empty())
                        newDisks.push_back(volume.device);
                }
                volume.name = record->name;
                // Follows the mount point: a device now mounted elsewhere is no longer the root.
                volume.isRootFS = record->isRootFS != 0;
                if (volume.isRootFS)
                    rootDisk = volume.wholeDisk;
                volume.stale = !facts.sizesRead;
                if (facts.sizesRead) {
                    applyCounters(volume, *record, facts.countersRead, facts.monotonicMs);
                    volume.total = record->total;
                    volume.free = record->free;
                    volume.used = record->used;
                    volume.timestamp = timestamp;
                }
                next[path] = std::move(volume);
            });
        for (auto& [path, volume] : next) {
            volume.onRootDisk =
                !volume.isRootFS && !rootDisk.empty() && volume.wholeDisk == rootDisk;
        }
        prevVolumes.setValue(std::move(next));
        for (const auto& device : newDisks)
            probeSmart(device);
    }

    void update() {
        // The file-system calls run outside the lock (a file system may take its time-out); the
        // results are merged into the volumes still listed.
        Volumes snapshot = prevVolumes.value();
        struct Sample {
            DiskCollector::Sample outcome;
            DiskData record;
            bool countersRead;
            int64_t epoch;
            int64_t monotonic;
        };
        std::map<std::string, Sample> samples;
        for (const auto& [path, volume] : snapshot) {
            Sample sample{};
            sample.outcome = collector->sample(volume.wholeDisk.empty() ? "" : volume.device, path,
                                               &sample.record, &sample.countersRead);
            sample.epoch = DiskCollector::epochMs();
            sample.monotonic = DiskCollector::monotonicMs();
            samples[path] = sample;
        }
        prevVolumes.withValue([&](Volumes& volumes) {
            for (auto& [path, sample] : samples) {
                auto it = volumes.find(path);
                if (it == volumes.end())
                    continue;
                Volume& volume = it->second;
                switch (sample.outcome) {
                    case DiskCollector::Sample::ok:
                        applyCounters(volume, sample.record, sample.countersRead, sample.monotonic);
                        volume.free = sample.record.free;
                        volume.used = sample.record.used;
                        volume.total = sample.record.total;
                        volume.timestamp = sample.epoch;
                        volume.stale = false;
                        break;
                    case DiskCollector::Sample::failed:
                    case DiskCollector::Sample::notAnswering:
                        volume.stale = true;  // the last figures stay
                        break;
                    case DiskCollector::Sample::gone:
                        break;  // the next listing drops it
                }
            }
        });
    }

    void rename(const VolumeRename& rename) {
        prevVolumes.withValue([&](Volumes& volumes) {
            auto it = volumes.find(rename.path);
            if (it == volumes.end() || it->second.device != rename.device)
                return;
            it->second.name = rename.newName;
        });
    }
};

uint8_t Disk::Volume::usagePercent() const {
    if (used <= 0 || free < 0)
        return 0;
    // In whole numbers, as df counts: a share that is not whole rounds up.
    const __int128 hundredfold = static_cast<__int128>(used) * 100;
    const __int128 whole = static_cast<__int128>(used) + free;
    const __int128 percent = hundredfold / whole + (hundredfold % whole != 0 ? 1 : 0);
    return static_cast<uint8_t>(std::min<__int128>(percent, 100));
}

std::optional<Disk::Volume::SmartStatus> Disk::Volume::smartStatus() const {
    if (!smart)
        return std::nullopt;
    SMARTData copy = *smart;
    DiskCollector& source = collector ? *collector : DiskCollector::shared();
    if (!source.getSMARTData(device.c_str(), &copy))
        return std::nullopt;
    return SmartStatus{copy.isSmartPassed != 0, copy.temperature};
}

bool Disk::Volume::eject(DiskCollector::EjectDone done) const {
    if (isRootFS)
        VIGIL_RAISE("AssertException", "Cannot unmount/eject the root filesystem");
    DiskCollector& source = collector ? *collector : DiskCollector::shared();
    return source.ejectVolume(path, std::move(done));
}

Disk::Disk(std::shared_ptr<MountWatch> watch, DiskCollector* collector)
    : state_(std::make_shared<State>(collector ? collector : &DiskCollector::shared(),
                                     BlockingCalls::shared())),
      watch_(std::move(watch)) {
    load();
    if (watch_) {
        std::weak_ptr<State> weak = state_;
        MountWatch::Listener listener;
        listener.mountsChanged = [weak] {
            if (auto state = weak.lock())
                state->queueReload();
        };
        listener.renamed = [weak](const VolumeRename& rename) {
            if (auto state = weak.lock())
                state->rename(rename);
        };
        listenerId_ = watch_->addListener(std::move(listener));
    }
}

Disk::~Disk() {
    state_->stopProbing();
    if (watch_)
        watch_->removeListener(listenerId_);
}

void Disk::load() {
    state_->load();
}

void Disk::update() {
    state_->update();
}

Disk::Volumes Disk::volumes() const {
    return state_->prevVolumes.value();
}

std::optional<Disk::Volume> Disk::HD() const {
    return state_->prevVolumes.withValue([](const Volumes& volumes) -> std::optional<Volume> {
        for (const auto& [path, volume] : volumes) {
            if (volume.isRootFS)
                return volume;
        }
        return std::nullopt;
    });
}

uint8_t Disk::usage() {
    auto hd = HD();
    if (!hd)
        return 0;
    DiskData record{};
    // A root that does not answer keeps its last share.
    if (!state_->collector->getDiskDataFor(hd->path.c_str(), &record))
        return hd->usagePercent();
    state_->prevVolumes.withValue([&](Volumes& volumes) {
        auto it = volumes.find(hd->path);
        if (it != volumes.end()) {
            it->second.used = record.used;
            it->second.free = record.free;
        }
    });
    hd->used = record.used;
    hd->free = record.free;
    return hd->usagePercent();
}

void Disk::handleMountNotifications() {
    state_->queueReload();
}

void Disk::handleRenameNotification(const VolumeRename& rename) {
    state_->rename(rename);
}

}  // namespace vigil
