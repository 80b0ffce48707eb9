#include "system/Disk.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/MountWatch.h"
#include "system/Queue.h"

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

struct Disk::State {
    DiskCollector* collector;
    Atomic<Volumes> prevVolumes;
    std::mutex loadMutex;  // one rebuild at a time, published in order

    explicit State(DiskCollector* c) : collector(c) {}

    void load() {
        std::lock_guard serial(loadMutex);
        Volumes next;
        std::string rootDisk;
        collector->forEachVolume(
            [&](int64_t timestamp, DiskData* record, const DiskCollector::VolumeFacts& facts) {
                std::string device = record->device;
                auto known =
                    prevVolumes.withValue([&](const Volumes& volumes) -> std::optional<Volume> {
                        auto it = volumes.find(device);
                        if (it == volumes.end())
                            return std::nullopt;
                        return it->second;
                    });
                Volume volume;
                if (known) {
                    volume = std::move(*known);
                } else {
                    volume.device = device;
                    volume.model = record->model;
                    volume.fstype = record->fstype;
                    volume.total = record->total;
                    volume.icon = facts.icon;
                    volume.wholeDisk = facts.wholeDisk;
                    volume.collector = collector;
                    SMARTData smart{};
                    if (collector->getSMARTData(device.c_str(), &smart))
                        volume.smart = smart;
                }
                applyCounters(volume, *record, facts.countersRead, facts.monotonicMs);
                volume.free = record->free;
                volume.used = record->used;
                volume.name = record->name;
                volume.path = record->path;
                // Follows the mount point: a device now mounted elsewhere is no longer the root.
                volume.isRootFS = record->isRootFS != 0;
                volume.timestamp = timestamp;
                if (volume.isRootFS)
                    rootDisk = volume.wholeDisk;
                next[device] = std::move(volume);
            });
        for (auto& [device, volume] : next) {
            volume.onRootDisk =
                !volume.isRootFS && !rootDisk.empty() && volume.wholeDisk == rootDisk;
        }
        prevVolumes.setValue(std::move(next));
    }

    void update() {
        // The file-system calls run outside the lock (a network share may take its time-out);
        // the results are merged into the volumes still listed.
        Volumes snapshot = prevVolumes.value();
        struct Sample {
            DiskData record;
            bool countersRead;
            int64_t epoch;
            int64_t monotonic;
        };
        std::map<std::string, Sample> samples;
        for (const auto& [device, volume] : snapshot) {
            DiskData record{};
            bool countersRead = false;
            if (!collector->getDiskActivity(device.c_str(), volume.path.c_str(), &record,
                                            &countersRead))
                continue;
            samples[device] = Sample{record, countersRead, DiskCollector::epochMs(),
                                     DiskCollector::monotonicMs()};
        }
        prevVolumes.withValue([&](Volumes& volumes) {
            for (auto& [device, sample] : samples) {
                auto it = volumes.find(device);
                if (it == volumes.end())
                    continue;
                Volume& volume = it->second;
                applyCounters(volume, sample.record, sample.countersRead, sample.monotonic);
                volume.free = sample.record.free;
                volume.used = sample.record.used;
                volume.timestamp = sample.epoch;
            }
        });
    }

    void rename(const VolumeRename& rename) {
        prevVolumes.withValue([&](Volumes& volumes) {
            auto it = volumes.find(rename.device);
            if (it == volumes.end())
                return;
            it->second.name = rename.newName;
            it->second.path = rename.path;
        });
    }
};

uint8_t Disk::Volume::usagePercent() const {
    if (total <= 0 || used <= 0)
        return 0;
    double percent = static_cast<double>(used) / static_cast<double>(total) * 100.0;
    if (!std::isfinite(percent))
        return 0;
    return static_cast<uint8_t>(std::clamp(percent, 0.0, 100.0));
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

bool Disk::Volume::eject() const {
    if (isRootFS) {
        std::fprintf(stderr, "AssertException: Cannot unmount/eject the root filesystem\n");
        std::abort();
    }
    DiskCollector& source = collector ? *collector : DiskCollector::shared();
    return source.ejectDisk(device.c_str());
}

Disk::Disk(std::shared_ptr<MountWatch> watch, DiskCollector* collector)
    : state_(std::make_shared<State>(collector ? collector : &DiskCollector::shared())),
      watch_(std::move(watch)) {
    load();
    if (watch_) {
        std::weak_ptr<State> weak = state_;
        MountWatch::Listener listener;
        listener.mountsChanged = [weak] {
            Queue::background().async([weak] {
                if (auto state = weak.lock())
                    state->load();
            });
        };
        listener.renamed = [weak](const VolumeRename& rename) {
            if (auto state = weak.lock())
                state->rename(rename);
        };
        listenerId_ = watch_->addListener(std::move(listener));
    }
}

Disk::~Disk() {
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
        for (const auto& [device, volume] : volumes) {
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
    if (!state_->collector->getDiskDataFor(hd->path.c_str(), &record))
        return 0;
    state_->prevVolumes.withValue([&](Volumes& volumes) {
        auto it = volumes.find(hd->device);
        if (it != volumes.end())
            it->second.used = record.used;
    });
    hd->used = record.used;
    return hd->usagePercent();
}

void Disk::handleMountNotifications() {
    std::weak_ptr<State> weak = state_;
    Queue::background().async([weak] {
        if (auto state = weak.lock())
            state->load();
    });
}

void Disk::handleRenameNotification(const VolumeRename& rename) {
    state_->rename(rename);
}

}  // namespace vigil
