// Other machines: the exposition parser on a real exporter's answer, this machine read through the
// real node exporter and a real Prometheus server against its local figures, hostile endpoints, and
// a Prometheus server that holds 50 machines.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "collectors/MachineFigures.h"
#include "collectors/MachineSourceSettings.h"
#include "collectors/NodeExporterSource.h"
#include "collectors/PrometheusSource.h"
#include "collectors/PrometheusText.h"
#include "platform/Procfs.h"
#include "runtime/Queue.h"
#include "support/LoopbackServer.h"
#include "support/PrometheusPrograms.h"
#include "support/TempFolder.h"
#include "support/TestSupport.h"
#include "system/Machines.h"

namespace vigil {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(PrometheusText, NodeExporterAnswerGivesTheFiguresAndHostileBodiesAreRefused) {
    auto text = parsePrometheusText(readFile(test::fixturePath("node-exporter.metrics")));
    ASSERT_EQ(text.error, "");
    ASSERT_EQ(text.samples.size(), 38u);
    NodeCounters counters = nodeCounters(text.samples);
    EXPECT_EQ(counters.nodeName, "vm");
    // Two CPUs: user + nice + system + irq + softirq, and those with idle and iowait.
    EXPECT_NEAR(*counters.cpuBusySeconds, 20454.07, 1e-6);
    EXPECT_NEAR(*counters.cpuCountedSeconds, 22907.2, 1e-6);
    // eth0 only: lo, the veth and the ifb links are left out.
    EXPECT_EQ(*counters.receivedBytes, 102245715);
    ASSERT_EQ(counters.temperatures.size(), 2u);
    EXPECT_EQ(counters.temperatures[0].name, "Package id 0");
    EXPECT_EQ(counters.temperatures[1].name, "pci0000:00_0000:00:18_3 temp1");

    NodeCounters later = counters;
    *later.cpuBusySeconds += 3;
    *later.cpuCountedSeconds += 4;
    *later.receivedBytes += 2000;
    MachineFigures figures = deriveMachineFigures(&counters, later, 2s);
    EXPECT_DOUBLE_EQ(*figures.processorBusy, 75);
    EXPECT_DOUBLE_EQ(*figures.downloadRate, 1000);
    EXPECT_EQ(*figures.memoryUsed, 25276084224.0 - 23453237248.0);
    EXPECT_EQ(figures.diskUsedPercent(), 23);  // (size - free) / (that + avail), rounded up
    EXPECT_NEAR(*figures.uptime, 1796965450.0436404 - 1796953976, 1e-3);
    NodeCounters restarted = counters;
    *restarted.cpuBusySeconds = 1;
    EXPECT_FALSE(deriveMachineFigures(&counters, restarted, 2s).processorBusy);

    const char* escapes = "m{a=\"x\\\"y\\\\z\\n\",b=\"\"} 1.5e3 1700000000000\n";
    auto escaped = parsePrometheusText(escapes);
    ASSERT_EQ(escaped.samples.size(), 1u);
    EXPECT_EQ(escaped.samples[0].label("a"), "x\"y\\z\n");
    EXPECT_EQ(escaped.samples[0].value, 1500);
    PrometheusTextLimits small;
    small.maxLine = 40;
    small.maxSamples = 2;
    for (auto [body, error] : std::vector<std::pair<std::string, std::string>>{
             {"a 1\nb{x=\"1\" 2\n", "line 2: not a sample"},
             {"a 1\n<html>\n", "line 2: not a sample"},
             {"a 0x10\n", "line 1: not a sample"},
             {"a 1\nb 2\nc 3\n", "line 3: more than 2 samples"},
             {"a{x=\"" + std::string(50, 'y') + "\"} 1\n", "line 1: line longer than 40"}}) {
        auto refused = parsePrometheusText(body, small);
        EXPECT_EQ(refused.error, error) << body;
        EXPECT_TRUE(refused.samples.empty());
    }
}

// Sources keep their credentials in the settings file, which only its owner can read.
TEST(MachineSourceSettings, SourcesWithCredentialsRoundTripInAFileOnlyItsOwnerReads) {
    test::TempFolder folder;
    Defaults defaults("machines", folder.path());
    MachineSourceConfig exporter, server;
    exporter.url = "http://homeserver:9100/metrics";
    exporter.credentials.token = "t0ken";
    server.kind = MachineSourceConfig::Kind::prometheus;
    server.url = "https://prometheus.example.net";
    server.credentials = {"vigil", "secret", ""};
    setMachineSources({exporter, server}, defaults);
    defaults["machinesInterval"] = 0.2;  // below a second: the default stands

    Defaults reopened("machines", folder.path());
    auto sources = machineSources(reopened);
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0].kind, MachineSourceConfig::Kind::nodeExporter);
    EXPECT_EQ(sources[0].credentials.token, "t0ken");
    EXPECT_EQ(sources[1].kind, MachineSourceConfig::Kind::prometheus);
    EXPECT_EQ(sources[1].credentials.password, "secret");
    EXPECT_EQ(machinesInterval(reopened), 5s);
    struct stat file {};
    ASSERT_EQ(stat(reopened.path().c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    // The kind of a stored entry without one follows its URL.
    EXPECT_EQ(MachineSourceConfig::kindOfUrl("http://h:9100/metrics/"),
              MachineSourceConfig::Kind::nodeExporter);
    EXPECT_EQ(MachineSourceConfig::kindOfUrl("http://h:9090/"),
              MachineSourceConfig::Kind::prometheus);
}

// The node exporter and Prometheus scraping it, both on loopback, in a private folder.
class RealPrograms : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* program : {test::kNodeExporter, test::kPrometheus})
            if (access(program, X_OK) != 0)
                GTEST_SKIP() << program << " is not installed (scripts/install-deps installs it)";
        exporter = test::startNodeExporter(folder.path());
        ASSERT_TRUE(exporter->listening()) << readFile(folder.path() / "node-exporter.log");
    }

    void startPrometheus(const std::string& scrapeConfigs, const std::string& interval,
                         int port = test::freeLoopbackPort()) {
        prometheus = test::startPrometheus(folder.path(), scrapeConfigs, interval, port);
        ASSERT_TRUE(prometheus->listening(60s)) << readFile(folder.path() / "prometheus.log");
    }

    MachineSourceConfig prometheusSource(const std::string& window) const {
        MachineSourceConfig config;
        config.kind = MachineSourceConfig::Kind::prometheus;
        config.url = "http://" + prometheus->address();
        config.rateWindow = window;
        return config;
    }

    test::TempFolder folder;
    std::unique_ptr<test::LoopbackProgram> exporter;
    std::unique_ptr<test::LoopbackProgram> prometheus;
};

struct LocalFigures {
    platform::CpuTicks ticks;
    double memoryUsed = 0;
    int diskUsedPercent = 0;
};

LocalFigures readLocal() {
    platform::Procfs procfs("/");
    LocalFigures local;
    local.ticks = procfs.cpuTicks().value;
    auto memory = procfs.memInfo().value;
    local.memoryUsed = static_cast<double>(*memory.memTotal - *memory.memAvailable);
    struct statvfs root {};
    statvfs("/", &root);
    double used = static_cast<double>(root.f_blocks - root.f_bfree);
    local.diskUsedPercent = static_cast<int>(std::ceil(used / (used + root.f_bavail) * 100));
    return local;
}

double busyBetween(const platform::CpuTicks& a, const platform::CpuTicks& b) {
    auto busy = [](const platform::CpuTicks& t) {
        return static_cast<double>(t.user + t.nice + t.system + t.irq + t.softirq);
    };
    double counted = busy(b) - busy(a) + static_cast<double>(b.idle + b.iowait - a.idle - a.iowait);
    return (busy(b) - busy(a)) / counted * 100;
}

// Memory used as this machine read it around the remote reading: on a busy machine it moves by more
// than 1 % within a second, so the remote figure is held against the lowest and highest local
// reading of the moments its scrape may have happened in.
struct MemoryRange {
    double low = 1e300, high = 0;
    void add(double used) {
        low = std::min(low, used);
        high = std::max(high, used);
    }
};

void expectAgrees(const MachineFigures& remote, const LocalFigures& before,
                  const LocalFigures& after, const MemoryRange& memory, const char* through) {
    SCOPED_TRACE(through);
    ASSERT_TRUE(remote.processorBusy && remote.memoryUsed && remote.diskUsed);
    EXPECT_NEAR(*remote.processorBusy, busyBetween(before.ticks, after.ticks), 5.0);
    EXPECT_GE(*remote.memoryUsed, memory.low * 0.99);
    EXPECT_LE(*remote.memoryUsed, memory.high * 1.01);
    EXPECT_NEAR(*remote.diskUsedPercent(), after.diskUsedPercent, 1);
}

TEST_F(RealPrograms, ThisMachineThroughTheExporterAndPrometheusAgreesWithItsLocalFigures) {
    startPrometheus("  - job_name: node\n    static_configs:\n      - targets: ['" +
                        exporter->address() + "']\n",
                    "1s");
    MachineSourceConfig direct;
    direct.url = "http://" + exporter->address() + "/metrics";
    NodeExporterSource exporterSource(direct, ErrorReport::shared());
    PrometheusSource prometheusSource(this->prometheusSource("10s"), ErrorReport::shared());
    // Prometheus needs a few scrapes before rate() has two points in its window.
    ASSERT_TRUE(test::waitUntil(
        [&] {
            auto machines = prometheusSource.poll();
            return machines.size() == 1 && machines[0].figures.processorBusy;
        },
        60s));

    LocalFigures before = readLocal();
    exporterSource.poll();
    // Memory read every 100 ms through the window: Prometheus's last scrape (every second) lies
    // in its last two seconds.
    std::deque<std::pair<std::chrono::steady_clock::time_point, double>> memoryReadings;
    auto windowEnd = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < windowEnd) {
        memoryReadings.emplace_back(std::chrono::steady_clock::now(), readLocal().memoryUsed);
        std::this_thread::sleep_for(100ms);  // the reading's cadence, not a wait on a condition
    }
    MemoryRange aroundScrape;
    for (const auto& [at, used] : memoryReadings)
        if (at > windowEnd - 2500ms)
            aroundScrape.add(used);
    MemoryRange aroundExporter;
    aroundExporter.add(readLocal().memoryUsed);
    auto throughExporter = exporterSource.poll();
    aroundExporter.add(readLocal().memoryUsed);
    auto throughPrometheus = prometheusSource.poll();
    LocalFigures after = readLocal();
    aroundScrape.add(after.memoryUsed);

    ASSERT_EQ(throughExporter.size(), 1u);
    EXPECT_EQ(throughExporter[0].reach, MachineReach::up);
    expectAgrees(throughExporter[0].figures, before, after, aroundExporter, "node exporter");
    ASSERT_EQ(throughPrometheus.size(), 1u);
    EXPECT_EQ(throughPrometheus[0].figures.instance, exporter->address());
    expectAgrees(throughPrometheus[0].figures, before, after, aroundScrape, "Prometheus");
    char host[256] = {};
    gethostname(host, sizeof host);
    EXPECT_EQ(throughPrometheus[0].figures.name, host);
    EXPECT_EQ(throughExporter[0].figures.name, host);

    // Memory moves by a few percent within seconds on a busy machine: the history is checked for
    // its place in time and its bounds, not against one reading.
    auto history = prometheusSource.history(exporter->address(), MachineFigure::memoryUsed, 300s);
    ASSERT_TRUE(history);
    ASSERT_GE(history->size(), 2u);
    double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_GT(history->front().time, now - 301);
    EXPECT_LE(history->back().time, now + 1);
    for (const auto& point : *history)
        EXPECT_TRUE(point.value > 0 && point.value < *throughExporter[0].figures.memoryTotal);
}

TEST_F(RealPrograms, PrometheusHoldingFiftyMachinesListsEachWithItsFiguresAndADownOne) {
    // One exporter scraped as 50 machines (each its own instance label), and one target that is
    // down.
    std::string targets;
    for (int i = 1; i <= 50; ++i)
        targets += "      - targets: ['" + exporter->address() +
                   "']\n        labels: {instance: m" + std::to_string(100 + i) + "}\n";
    int closedPort = test::freeLoopbackPort();
    int ownPort = test::freeLoopbackPort();
    startPrometheus("  - job_name: fleet\n    static_configs:\n" + targets +
                        "  - job_name: gone\n    static_configs:\n      - targets: ['127.0.0.1:" +
                        std::to_string(closedPort) +
                        "']\n  - job_name: self\n    static_configs:\n      - targets: "
                        "['127.0.0.1:" +
                        std::to_string(ownPort) + "']\n",
                    "2s", ownPort);
    Machines machines({prometheusSource("10s")}, 1s);
    auto isFleet = [](const MachineState& m) { return m.figures.instance.starts_with("m1"); };
    ASSERT_TRUE(test::waitUntil(
        [&] {
            auto listed = machines.machines();
            return listed.size() == 51 &&
                   std::all_of(listed.begin(), listed.end(), [&](const MachineState& m) {
                       return !isFleet(m) || (m.figures.processorBusy && m.figures.memoryUsed);
                   });
        },
        90s));
    char host[256] = {};
    gethostname(host, sizeof host);
    auto listed = machines.machines();
    EXPECT_EQ(listed[0].figures.instance, "127.0.0.1:" + std::to_string(closedPort));
    EXPECT_EQ(listed[0].reach, MachineReach::down);
    EXPECT_EQ(listed[1].figures.instance, "m101");
    EXPECT_EQ(listed[50].figures.instance, "m150");
    for (auto it = listed.begin() + 1; it != listed.end(); ++it) {
        EXPECT_EQ(it->reach, MachineReach::up);
        EXPECT_EQ(it->figures.name, host);
        EXPECT_TRUE(it->figures.diskUsedPercent());
        EXPECT_EQ(it->source, "http://" + prometheus->address());
    }

    std::optional<std::vector<MachineHistoryPoint>> history;
    bool answered = false;
    machines.history(listed[7], MachineFigure::processorBusy, 300s, [&](auto points) {
        history = std::move(points);
        answered = true;
    });
    ASSERT_TRUE(test::waitUntil([&] { return answered; }, 30s));
    ASSERT_TRUE(history);
    EXPECT_FALSE(history->empty());
}

// Endpoints that hang, trickle, answer garbage, too much or 500: each source gives one error line
// and an unreachable machine, and neither the main queue nor the sampling pool waits on them.
TEST(Machines, HostileEndpointsGiveOneErrorLineEachAndNeverStallSampling) {
    auto answer = [](std::string head, std::string body) {
        return [head, body](int fd, const std::function<bool()>&) {
            test::readRequest(fd);
            test::sendAll(
                fd, head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        };
    };
    std::atomic<bool> hanging{false};
    test::LoopbackServer hang("127.0.0.1", [&](int fd, const std::function<bool()>& stopping) {
        test::readRequest(fd);
        hanging = true;
        test::idle(stopping);
    });
    test::LoopbackServer trickle("127.0.0.1", [](int fd, const std::function<bool()>& stopping) {
        test::readRequest(fd);
        test::sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        while (!stopping() && test::sendAll(fd, "a"))
            test::waitUntil(stopping, 200ms);
    });
    test::LoopbackServer garbage("127.0.0.1", answer("HTTP/1.1 200 OK\r\n", "<html>hi</html>\n"));
    test::LoopbackServer oversize(
        "127.0.0.1", answer("HTTP/1.1 200 OK\r\n", std::string(17 * 1024 * 1024, '\n')));
    test::LoopbackServer failing("127.0.0.1",
                                 answer("HTTP/1.1 500 Internal Server Error\r\n", "down\n"));
    std::vector<MachineSourceConfig> sources;
    for (const auto* server : {&hang, &trickle, &garbage, &oversize, &failing}) {
        MachineSourceConfig source;
        source.url = "http://127.0.0.1:" + std::to_string(server->port()) + "/metrics";
        sources.push_back(source);
    }
    MachineSourceConfig garbageServer;
    garbageServer.kind = MachineSourceConfig::Kind::prometheus;
    garbageServer.url = "http://127.0.0.1:" + std::to_string(garbage.port());
    sources.push_back(garbageServer);

    std::mutex linesMutex;
    std::vector<std::string> lines;
    ErrorReport report(nullptr, [&](const std::string& line) {
        std::lock_guard lock(linesMutex);
        lines.push_back(line);
    });
    Machines machines(sources, 1s, report);

    ASSERT_TRUE(test::waitUntil([&] { return hanging.load(); }, 10s));
    std::atomic<bool> sampled{false}, mainRan{false};
    Queue::background().async([&] { sampled = true; });
    Queue::main().async([&] { mainRan = true; });
    EXPECT_TRUE(test::waitUntil([&] { return sampled && mainRan; }, 4s))
        << "the pool or the main queue waited on a hung source";
    EXPECT_LT(machines.machines().size(), sources.size());  // the hung source has not answered

    ASSERT_TRUE(test::waitUntil([&] { return machines.polledAtLeast(2); }, 60s));
    auto listed = machines.machines();
    ASSERT_EQ(listed.size(), sources.size());
    for (const auto& machine : listed) {
        EXPECT_EQ(machine.reach, MachineReach::unreachable) << machine.source;
        EXPECT_FALSE(machine.figures.processorBusy);
        EXPECT_FALSE(machine.error.empty());
    }
    machines.stop();
    std::lock_guard lock(linesMutex);
    ASSERT_EQ(lines.size(), sources.size()) << ::testing::PrintToString(lines);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        std::string ofSource;
        for (const auto& line : lines)
            if (line.find(sources[i].url + ": ") != std::string::npos)
                ofSource = line;
        EXPECT_NE(ofSource, "") << sources[i].url;
    }
    auto hasLine = [&](const std::string& text) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(hasLine("answer larger than 16777216 bytes"));
    EXPECT_TRUE(hasLine("HTTP status 500"));
    EXPECT_TRUE(hasLine("not the text exposition format (line 1: not a sample)"));
    EXPECT_TRUE(hasLine("not JSON"));
    EXPECT_TRUE(hasLine("no complete answer within 5000 ms"));
}

}  // namespace
}  // namespace vigil
