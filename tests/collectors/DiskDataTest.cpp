#include "collectors/DiskData.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "support/TestSupport.h"

namespace vigil {
namespace {

struct Listed {
    int64_t timestamp;
    std::string name, model, device, path, fstype;
    int64_t wbytes, rbytes, used, free, total;
    bool isRootFS;
    std::string icon;
    bool countersRead;
};

std::vector<Listed> listAll(DiskCollector& collector) {
    std::vector<Listed> listed;
    collector.forEachVolume(
        [&](int64_t timestamp, DiskData* r, const DiskCollector::VolumeFacts& facts) {
            listed.push_back({timestamp, r->name, r->model, r->device, r->path, r->fstype,
                              r->wbytes, r->rbytes, r->used, r->free, r->total, r->isRootFS != 0,
                              facts.icon, facts.countersRead});
        });
    return listed;
}

DiskCollector::Options fixtureOptions() {
    DiskCollector::Options options;
    options.root = test::fixturePath("disk-desktop");
    options.useUDisks = false;
    return options;
}

TEST(DiskData, ListsTheFixtureVolumesInTableOrder) {
    DiskCollector collector(fixtureOptions());
    auto listed = listAll(collector);
    ASSERT_EQ(listed.size(), 7u);
    std::vector<std::string> devices;
    for (const auto& v : listed)
        devices.push_back(v.device);
    EXPECT_EQ(devices, (std::vector<std::string>{"sda2", "sda1", "nvme0n1p2", "sdb1", "media",
                                                 "share", "vg-data"}));
    // One timestamp per pass.
    for (const auto& v : listed)
        EXPECT_EQ(v.timestamp, listed[0].timestamp);

    const Listed& root = listed[0];
    EXPECT_TRUE(root.isRootFS);
    EXPECT_EQ(root.path, "/");
    EXPECT_EQ(root.name, "sda2");  // no label: the device base name
    EXPECT_EQ(root.model, "Samsung SSD 860");
    EXPECT_EQ(root.fstype, "ext4");
    // Counters of the whole disk, in bytes.
    EXPECT_EQ(root.rbytes, 2104890LL * 512);
    EXPECT_EQ(root.wbytes, 3921000LL * 512);
    EXPECT_GT(root.total, 0);
    EXPECT_LE(root.used + root.free, root.total);
    EXPECT_EQ(root.icon, "drive-harddisk");
    for (size_t i = 1; i < listed.size(); ++i)
        EXPECT_FALSE(listed[i].isRootFS);

    EXPECT_EQ(listed[1].rbytes, root.rbytes);  // same whole disk
    EXPECT_EQ(listed[2].model, "WDC WDS500G2B0C-00PXH0");
    EXPECT_EQ(listed[3].path, "/media/user/My Disk");
    EXPECT_EQ(listed[3].icon, "drive-removable-media");
    EXPECT_EQ(listed[3].model, "Flash Disk");
    // A share: no device, no counters, no model.
    EXPECT_EQ(listed[4].name, "media");
    EXPECT_EQ(listed[4].model, "unknown");
    EXPECT_EQ(listed[4].fstype, "nfs4");
    EXPECT_EQ(listed[4].icon, "folder-remote");
    EXPECT_FALSE(listed[4].countersRead);
    EXPECT_EQ(listed[4].rbytes, 0);
    // Device mapper: counters of dm-0, no model.
    EXPECT_EQ(listed[6].model, "unknown");
    EXPECT_EQ(listed[6].rbytes, 1000 * 512);
    EXPECT_TRUE(listed[6].countersRead);
}

TEST(DiskData, CapacityAndActivityOfOnePath) {
    DiskCollector collector(fixtureOptions());
    DiskData record{};
    EXPECT_TRUE(collector.getDiskDataFor("/home", &record));
    EXPECT_GT(record.total, 0);
    record = DiskData{};
    bool countersRead = false;
    EXPECT_TRUE(collector.getDiskActivity("nvme0n1p2", "/home", &record, &countersRead));
    EXPECT_TRUE(countersRead);
    EXPECT_EQ(record.wbytes, 6000000LL * 512);
    // Unknown device: capacity only, counters untouched.
    record = DiskData{};
    record.rbytes = 77;
    EXPECT_TRUE(collector.getDiskActivity("sdq1", "/home", &record, &countersRead));
    EXPECT_FALSE(countersRead);
    EXPECT_EQ(record.rbytes, 77);
    // A path that is not there fails.
    EXPECT_FALSE(collector.getDiskDataFor("/not/mounted/here", &record));
    EXPECT_FALSE(collector.getDiskActivity("sda2", "/not/mounted/here", &record));
}

TEST(DiskData, AMappingActivatedAgainUnderAnotherNumberIsFollowed) {
    char pattern[] = "/tmp/vigil-dm-XXXXXX";
    const std::filesystem::path root = ::mkdtemp(pattern);
    std::filesystem::copy(test::fixturePath("disk-desktop"), root,
                          std::filesystem::copy_options::recursive);
    DiskCollector::Options options = fixtureOptions();
    options.root = root.string();
    DiskCollector collector(options);
    const auto listed = listAll(collector);
    ASSERT_EQ(listed.back().device, "vg-data");
    const std::string path = listed.back().path;
    auto readBytes = [&](bool* countersRead) {
        DiskData record{};
        EXPECT_TRUE(collector.getDiskActivity("vg-data", path.c_str(), &record, countersRead));
        return record.rbytes;
    };
    bool countersRead = false;
    EXPECT_EQ(readBytes(&countersRead), 1000 * 512);
    // The volume group is deactivated and activated again as dm-1.
    std::filesystem::rename(root / "sys/block/dm-0", root / "sys/block/dm-1");
    std::ofstream(root / "sys/block/dm-1/stat") << "  50 0 3000 10 20 0 400 5 0 20 15 0 0\n";
    readBytes(&countersRead);
    EXPECT_FALSE(countersRead) << "dm-0 is gone";
    EXPECT_EQ(readBytes(&countersRead), 3000 * 512);
    EXPECT_TRUE(countersRead);
    std::filesystem::remove_all(root);
}

// The share's server stops answering: the pass goes on without it, later passes skip it at once,
// and it is listed again once its call returns.
TEST(DiskData, HungShareStaysListedAsNotAnsweringUntilItAnswers) {
    struct Gate {
        std::mutex mutex;
        std::condition_variable opened;
        bool open = false;
        std::atomic<int> calls{0};
    };
    auto gate = std::make_shared<Gate>();
    auto options = fixtureOptions();
    options.answerTimeout = std::chrono::milliseconds(100);
    options.statFunction = [gate](const char* path, struct statvfs* st) {
        if (std::string(path).find("/mnt/nas") != std::string::npos) {
            ++gate->calls;
            std::unique_lock lock(gate->mutex);
            gate->opened.wait(lock, [&] { return gate->open; });
        }
        return ::statvfs(path, st);
    };
    DiskCollector collector(options);
    auto answeredOf = [&] {
        std::map<std::string, bool> answered;
        collector.forEachVolume([&](int64_t, DiskData* r, const DiskCollector::VolumeFacts& f) {
            answered[r->path] = f.sizesRead;
        });
        return answered;
    };
    // Every pass lists all seven; the hung share is asked once and then left alone.
    for (int pass = 0; pass < 3; ++pass) {
        auto answered = answeredOf();
        ASSERT_EQ(answered.size(), 7u);
        EXPECT_FALSE(answered.at("/mnt/nas"));
        EXPECT_TRUE(answered.at("/"));
    }
    EXPECT_EQ(gate->calls.load(), 1);
    int plain = 0;
    collector.getDiskData([&](int64_t, DiskData*) { ++plain; });
    EXPECT_EQ(plain, 6);  // the plain listing leaves out what did not answer
    {
        std::lock_guard lock(gate->mutex);
        gate->open = true;
        gate->opened.notify_all();
    }
    EXPECT_TRUE(test::waitUntil([&] { return answeredOf().at("/mnt/nas"); }));
}

TEST(DiskData, FreeFunctionsUseTheRealMachine) {
    int listed = 0;
    bool sawRoot = false;
    getDiskData([&](int64_t timestamp, DiskData* record) {
        ++listed;
        EXPECT_GT(timestamp, 0);
        EXPECT_NE(record->name, nullptr);
        EXPECT_LE(std::string(record->name).size(), 64u);
        if (record->isRootFS)
            sawRoot = true;
    });
    DiskData record{};
    EXPECT_TRUE(getDiskDataFor("/", &record));
    EXPECT_GT(record.total, 0);
    if (listed > 0 && !sawRoot) {
        std::printf("note: the root file system here is not of a listed type\n");
    }
    SMARTData smart{};
    EXPECT_FALSE(getSMARTData("no-such-device", &smart));
    EXPECT_EQ(smart.isSmartPassed, 1);
}

}  // namespace
}  // namespace vigil
