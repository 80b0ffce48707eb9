#include "platform/DrmFdinfo.h"

#include <fcntl.h>
#include <glob.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "support/TestTree.h"

using namespace vigil::platform;
using vigil::test::fixturePath;
using vigil::test::readText;
using vigil::test::TempTree;

namespace {
// The fixture holds the same clients read twice, one second apart: an i915 laptop's game (pid
// 2101), a compositor on an xe card (2207), a video player on amdgpu that holds its client through
// two fds (2315), and a process with a display node open but no client figures (2402).
DrmSample recorded(const std::string& when, std::int64_t timeNs) {
    DrmSample s;
    s.timeNs = timeNs;
    for (auto [pid, fd] : {std::pair{2101, 9}, {2207, 11}, {2315, 14}}) {
        auto text = readText(fixturePath("drm-clients/" + when + "/proc/" + std::to_string(pid) +
                                         "/fdinfo/" + std::to_string(fd)));
        auto client = parseDrmFdinfo(text);
        EXPECT_TRUE(client) << pid;
        if (client)
            s.clients.push_back({pid, *client});
    }
    return s;
}
}  // namespace

TEST(DrmFdinfo, RecordedClientsOfI915XeAndAmdgpu) {
    DrmSample first = recorded("first", 5'000'000'000), second = recorded("second", 6'000'000'000);
    ASSERT_EQ(second.clients.size(), 3u);
    const DrmClient& i915 = second.clients[0].client;
    EXPECT_EQ(i915.driver, "i915");
    EXPECT_EQ(i915.pdev, "0000:00:02.0");
    EXPECT_EQ(i915.clientId, 31u);
    EXPECT_EQ(i915.engineNs.at("render"), 9700864723u);
    EXPECT_EQ(i915.engineNs.size(), 4u);  // the capacity line is no engine
    EXPECT_EQ(i915.capacity.at("video"), 2u);
    EXPECT_EQ(i915.memoryBytes, 48u << 20);
    const DrmClient& xe = second.clients[1].client;
    EXPECT_EQ(xe.cycles.at("rcs"), 52257900u);
    EXPECT_EQ(xe.totalCycles.at("ccs"), 7751183225u);
    EXPECT_EQ(xe.memoryBytes, 24004u * 1024);  // resident system and vram0
    EXPECT_TRUE(xe.engineNs.empty());
    const DrmClient& amd = second.clients[2].client;
    EXPECT_EQ(amd.memoryBytes, 133120u * 1024);  // the older drm-memory-* lines, blanks and all
    EXPECT_EQ(amd.engineNs.at("dec"), 1520000000u);

    auto report = compareDrmSamples(first, second);
    // i915: render 412 ms of 1 s; video 300 ms over two engines is 15 %.
    EXPECT_NEAR(*report.byDevice.at("0000:00:02.0").busyPercent, 41.2, 1e-9);
    // xe: 24 M of 96 M cycles on the render engine.
    EXPECT_NEAR(*report.byDevice.at("0000:03:00.0").busyPercent, 25.0, 1e-9);
    EXPECT_NEAR(*report.byDevice.at("0000:05:00.0").busyPercent, 62.5, 1e-9);
    EXPECT_EQ(report.byDevice.at("0000:05:00.0").memoryBytes, 133120u * 1024);
    EXPECT_NEAR(*report.byProcess.at(2315).busyPercent, 62.5, 1e-9);

    // A client first seen in the later sample has no share yet; counters that went back (a
    // reused client id) give none rather than an enormous one.
    std::swap(first.clients[0], first.clients[2]);
    first.clients.pop_back();
    auto reversed = compareDrmSamples(second, first);
    EXPECT_EQ(reversed.byDevice.at("0000:05:00.0").busyPercent, 0.0);
    EXPECT_EQ(reversed.byDevice.count("0000:00:02.0"), 0u);
    EXPECT_FALSE(compareDrmSamples({}, second).byDevice.at("0000:03:00.0").busyPercent);

    EXPECT_FALSE(parseDrmFdinfo("pos:\t0\nflags:\t02100002\nmnt_id:\t24\n"));
    auto junk = parseDrmFdinfo(
        "drm-driver: i915\ndrm-engine-render: lots ns\n"
        "drm-memory-vram: 12 parsecs\ndrm-client-id: -3\n");
    ASSERT_TRUE(junk);
    EXPECT_TRUE(junk->engineNs.empty());
    EXPECT_EQ(junk->memoryBytes, 0u);
    EXPECT_FALSE(junk->clientId);
}

TEST(DrmClientScan, ReadsOnlyTheUsersDrmClientsOnce) {
    TempTree tree("drm-clients/first");
    DrmClientScan scan(tree.root, ::getuid());
    auto sample = scan.sample();
    std::vector<pid_t> pids;
    for (const auto& e : sample.clients)
        pids.push_back(e.pid);
    std::sort(pids.begin(), pids.end());
    // The amdgpu client behind two fds counts once; the pipe and the figure-less node not at all.
    EXPECT_EQ(pids, (std::vector<pid_t>{2101, 2207, 2315}));

    // Another user's processes are not looked at.
    DrmClientScan strangers(tree.root, ::getuid() + 4242);
    EXPECT_TRUE(strangers.sample().clients.empty());

    // A process gone between two samples drops out; its fds are not read again.
    tree.remove("proc/2207");
    sample = scan.sample();
    EXPECT_EQ(sample.clients.size(), 2u);
}

// A process that opens a DRM file after its first check is found at a later re-check: at once where
// its number of open files grew (tmpfs gives a folder's entries as its size), else when every
// process's links are read again (ext4 gives every folder the same size), the 16th re-check.
TEST(DrmClientScan, FindsAFileOpenedLaterAtARecheck) {
    TempTree tree("drm-clients/first");
    DrmClientScan scan(tree.root, ::getuid(), /*recheckEvery=*/1);
    EXPECT_EQ(scan.sample().clients.size(), 3u);
    std::string info = readText(tree.path("proc/2207/fdinfo/11"));
    info.replace(info.find("drm-client-id:\t4"), 17, "drm-client-id:\t9");  // a client of its own
    tree.write("proc/2402/fdinfo/8", info);
    std::filesystem::create_symlink("/dev/dri/renderD129", tree.path("proc/2402/fd/8"));
    int samples = 0;
    bool found = false;
    while (!found && ++samples <= 16) {
        for (const auto& e : scan.sample().clients)
            found = found || e.pid == 2402;
    }
    EXPECT_TRUE(found) << "not found in 16 re-checks";
}

TEST(DrmClientScan, ReadsARealProcessesFdinfo) {
    glob_t nodes{};
    ::glob("/dev/dri/renderD*", 0, nullptr, &nodes);
    int fd = -1;
    for (size_t i = 0; i < nodes.gl_pathc && fd < 0; ++i)
        fd = ::open(nodes.gl_pathv[i], O_RDWR | O_CLOEXEC);
    ::globfree(&nodes);
    if (fd < 0)
        GTEST_SKIP() << "no DRM render node can be opened on this machine";
    if (readText("/proc/self/fdinfo/" + std::to_string(fd)).find("drm-driver:") ==
        std::string::npos) {
        ::close(fd);
        GTEST_SKIP() << "this machine's DRM driver gives no client usage figures";
    }
    DrmClientScan scan("/", ::getuid());
    auto sample = scan.sample();
    ::close(fd);
    auto mine = std::find_if(sample.clients.begin(), sample.clients.end(),
                             [](const DrmSample::Entry& e) { return e.pid == ::getpid(); });
    ASSERT_NE(mine, sample.clients.end()) << "this process's own DRM client was not found";
    EXPECT_FALSE(mine->client.driver.empty());
}
