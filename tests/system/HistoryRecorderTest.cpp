// The history recorder fed by a real Disk resource over a real ext4 volume on a loop device, in a
// private mount namespace.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <atomic>
#include <string>
#include <vector>

#include "history/History.h"
#include "support/PrivateMounts.h"
#include "system/Disk.h"
#include "system/HistoryRecorder.h"
#include "system/System.h"

namespace vigil {
namespace {

std::vector<std::int64_t> timesOf(const std::vector<HistoryPoint>& points) {
    std::vector<std::int64_t> times;
    for (const auto& point : points)
        times.push_back(point.ms);
    return times;
}

TEST(HistoryRecorderPrivate, VolumeUnpluggedAndPluggedBackContinuesItsSeries) {
    const std::string why = test::whyNoLoopDevices();
    if (!why.empty())
        GTEST_SKIP() << why;
    VIGIL_IN_PRIVATE_MOUNTS([] {
        test::ScratchFolder folder("vigil-history-volume");
        test::LoopImage image(folder.path, 32, "mkfs.ext4 -q");
        ASSERT_TRUE(image.ready()) << image.reason;
        const std::string mountPoint = (folder.path / "mnt").string();
        std::filesystem::create_directories(mountPoint);
        const auto plug = [&] {
            ASSERT_EQ(::mount(image.node.c_str(), mountPoint.c_str(), "ext4", 0, nullptr), 0);
        };
        plug();

        DiskCollector::Options local;
        local.useUDisks = false;
        DiskCollector collector(local);
        auto disk = std::make_shared<Disk>(nullptr, &collector);
        System::Resources resources;
        resources.disk = disk;
        // The disk waits for its view, which never opens here: the recorder samples it.
        System system(resources, {{disk, 3600, System::Group::system, true}});
        std::atomic<std::int64_t> clock{1'000'000};
        History::Options options;
        options.clock = [&clock] { return clock.load(); };
        History history(options);
        HistoryRecorder recorder(system, history);

        recorder.sampleResting();
        ASSERT_EQ(::umount2(mountPoint.c_str(), 0), 0);
        disk->load();
        clock = 2'000'000;
        recorder.sampleResting();
        plug();
        disk->load();
        clock = 3'000'000;
        recorder.sampleResting();

        const std::string used = HistoryRecorder::volumeSeries(mountPoint, "used");
        const auto points = history.points(used, 0, 4'000'000);

        EXPECT_EQ(timesOf(points), std::vector<std::int64_t>({1'000'000, 3'000'000}));
        ASSERT_EQ(points.size(), 2u);
        EXPECT_GT(points[0].value, 0);  // ext4 keeps its journal and tables on a new volume
        EXPECT_EQ(points[1].value, points[0].value);

        // Keep history off: sampling goes on, recording stops, what is kept stays.
        history.setRecording(false);
        clock = 4'000'000;
        recorder.sampleResting();
        EXPECT_EQ(history.points(used, 0, 5'000'000).size(), 2u);

        ::umount2(mountPoint.c_str(), MNT_DETACH);
    });
}

}  // namespace
}  // namespace vigil
