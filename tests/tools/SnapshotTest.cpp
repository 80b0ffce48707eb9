#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/Namespaces.h"
#include "support/PrometheusPrograms.h"
#include "support/TestSupport.h"
#include "support/TestTree.h"

using nlohmann::json;
using vigil::test::TempTree;

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs vigil-snapshot with the arguments; stdout and stderr are kept apart.
Outcome snapshot(const std::string& args) {
    Outcome run;
    TempTree scratch;
    std::string command = std::string(VIGIL_TOOLS_DIR) + "/vigil-snapshot " + args + " >" +
                          scratch.path("out") + " 2>" + scratch.path("err");
    int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = vigil::test::readText(scratch.path("out"));
    run.err = vigil::test::readText(scratch.path("err"));
    return run;
}

bool toolBuilt() {
    return ::access((std::string(VIGIL_TOOLS_DIR) + "/vigil-snapshot").c_str(), X_OK) == 0;
}

}  // namespace

TEST(VigilSnapshot, LiveMachineFiguresMatchTheKernelAndFree) {
    if (!toolBuilt())
        GTEST_SKIP() << "vigil-snapshot is not built (build the whole tree)";
    std::string loadBefore = vigil::test::readText("/proc/loadavg");
    Outcome run = snapshot("--interval 0.3");
    std::string loadAfter = vigil::test::readText("/proc/loadavg");
    ASSERT_EQ(run.status, 0) << run.err;
    json j = json::parse(run.out);
    ASSERT_TRUE(j.contains("cpu") && j.contains("memory") && j.contains("gpu"));

    const json& cpu = j["cpu"];
    EXPECT_EQ(cpu["activeLogicalCores"].get<long>(), ::sysconf(_SC_NPROCESSORS_ONLN));
    std::string stat = vigil::test::readText("/proc/stat");
    EXPECT_EQ(cpu["bootTime"].get<long long>(), std::stoll(stat.substr(stat.find("\nbtime ") + 7)));
    auto loadMatches = [&](const std::string& text) {
        double a = 0, b = 0, c = 0;
        std::sscanf(text.c_str(), "%lf %lf %lf", &a, &b, &c);
        return cpu["loadavg"][0] == a && cpu["loadavg"][1] == b && cpu["loadavg"][2] == c;
    };
    EXPECT_TRUE(loadMatches(loadBefore) || loadMatches(loadAfter)) << cpu["loadavg"];
    double sum = cpu["user"].get<double>() + cpu["sys"].get<double>() + cpu["idle"].get<double>();
    if (sum != 0) {
        EXPECT_NEAR(sum, 100.0, 0.01);
    }
    EXPECT_DOUBLE_EQ(cpu["usage"].get<double>(),
                     cpu["user"].get<double>() + cpu["sys"].get<double>());
    EXPECT_TRUE(cpu["brand"].is_string());

    const json& mem = j["memory"];
    std::string meminfo = vigil::test::readText("/proc/meminfo");
    auto at = meminfo.find("MemTotal:");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(mem["total"].get<std::uint64_t>(), std::stoull(meminfo.substr(at + 9)) * 1024);
    EXPECT_EQ(mem["total"], mem["physical"]);
    FILE* pipe = ::popen("free -b", "r");
    ASSERT_NE(pipe, nullptr);
    char line[512];
    unsigned long long total = 0, used = 0;
    while (std::fgets(line, sizeof line, pipe))
        std::sscanf(line, "Mem: %llu %llu", &total, &used);
    ::pclose(pipe);
    ASSERT_GT(total, 0u);
    double ours = mem["used"].get<double>() + mem["compressed"].get<double>();
    EXPECT_NEAR(ours, static_cast<double>(used), 0.01 * static_cast<double>(total));
    EXPECT_TRUE(mem["percents"].contains("wired"));
    EXPECT_TRUE(mem["swap"].contains("total"));
}

TEST(VigilSnapshot, PositionalArgumentsAndRootPickWhatIsRead) {
    if (!toolBuilt())
        GTEST_SKIP() << "vigil-snapshot is not built (build the whole tree)";
    Outcome run =
        snapshot("--interval 0 --root " + vigil::test::fixturePath("two-gpu") + " gpu cpu");
    ASSERT_EQ(run.status, 0) << run.err;
    json j = json::parse(run.out);
    EXPECT_FALSE(j.contains("memory"));
    EXPECT_EQ(j["cpu"]["logicalCores"], 8);
    EXPECT_EQ(j["cpu"]["bootTime"], 1700000000);
    EXPECT_EQ(j["gpu"]["hasBoth"], true);
    EXPECT_EQ(j["gpu"]["isUsingIntegratedGPU"], true);
    EXPECT_EQ(j["gpu"]["name"], "Intel Corporation CometLake-H GT2 [UHD Graphics]");
    EXPECT_EQ(run.err, "");

    // The AMD laptop's figures from the fixture's files; none for the GeForce without its driver.
    Outcome laptop =
        snapshot("--interval 0 --root " + vigil::test::fixturePath("hybrid-amd-nvidia") + " gpu");
    ASSERT_EQ(laptop.status, 0) << laptop.err;
    json apu = json::parse(laptop.out)["gpu"]["devices"][0];
    EXPECT_EQ(apu["pciAddress"], "0000:05:00.0");
    EXPECT_EQ(apu["busyPercent"], 37.0);
    EXPECT_EQ(apu["memoryUsed"], 201326592);
    EXPECT_EQ(apu["memoryTotal"], 536870912);
    EXPECT_EQ(apu["temperatureC"], 46.0);

    Outcome unknown =
        snapshot("--interval 0 --root " + vigil::test::fixturePath("no-gpu") + " cpu disks");
    EXPECT_EQ(unknown.status, 0);
    EXPECT_EQ(unknown.err, "Error: disks -- no such resource\n");
    EXPECT_TRUE(json::parse(unknown.out).contains("cpu"));

    EXPECT_EQ(snapshot("--interval soon").status, 2);
    EXPECT_EQ(snapshot("--bogus").status, 2);
}

TEST(VigilSnapshot, ABrokenFileIsOneErrorLineAndTheRestIsPrinted) {
    if (!toolBuilt())
        GTEST_SKIP() << "vigil-snapshot is not built (build the whole tree)";
    TempTree tree("multi-socket");
    tree.write("proc/meminfo", "MemTotal: 1000 kB\nMemFree");  // truncated mid-line: no MemFree
    // The fixture holds only what these three read.
    Outcome run = snapshot("--interval 0 --root " + tree.root + " cpu memory gpu");
    ASSERT_EQ(run.status, 0);
    json j = json::parse(run.out);
    EXPECT_EQ(j["memory"]["total"], 0);  // no good sample yet
    EXPECT_EQ(j["cpu"]["logicalCores"], 16);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find("proc/meminfo"), std::string::npos) << run.err;
}

TEST(VigilSnapshot, FiguresTheMachineDoesNotReportAreNull) {
    if (!toolBuilt())
        GTEST_SKIP() << "vigil-snapshot is not built (build the whole tree)";
    // This battery has no temperature, cycle count or date of manufacture.
    Outcome lacking = snapshot("--interval 0 --root " +
                               vigil::test::fixturePath("power-mains-offline") + " battery");
    ASSERT_EQ(lacking.status, 0) << lacking.err;
    const json battery = json::parse(lacking.out)["battery"];
    EXPECT_TRUE(battery["temperature"].is_null()) << battery;
    EXPECT_TRUE(battery["cycleCount"].is_null()) << battery;
    EXPECT_TRUE(battery["manufactured"].is_null()) << battery;
    EXPECT_EQ(battery["health"], 100);
    EXPECT_EQ(battery["maxCapacity"], 4000.0);

    Outcome full =
        snapshot("--interval 0 --root " + vigil::test::fixturePath("power-charging") + " battery");
    ASSERT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(json::parse(full.out)["battery"]["temperature"], 30.5);
    EXPECT_EQ(json::parse(full.out)["battery"]["cycleCount"], 120);

    // Real links: a veth pair has a speed; an ifb link has none (reading it fails).
    VIGIL_IN_NETWORK_NAMESPACE([] {
        if (vigil::test::shell("ip link add ifb0 type ifb 2>/dev/null") != 0)
            GTEST_SKIP() << "this kernel makes no ifb links";
        ASSERT_EQ(vigil::test::shell(
                      "ip addr add 10.203.2.1/24 dev ifb0 && ip link set ifb0 up && ip link add "
                      "vea type veth peer name veb && ip addr add 10.203.1.1/24 dev vea && ip "
                      "link set vea up && ip link set veb up"),
                  0);
        // A link is listed once it runs: the pair's carrier comes up when both ends are up.
        ASSERT_TRUE(vigil::test::waitUntil([] {
            return vigil::test::readText("/sys/class/net/vea/operstate").rfind("up", 0) == 0;
        }));
        Outcome run = snapshot("--interval 0 --all-interfaces network");
        ASSERT_EQ(run.status, 0) << run.err;
        const json interfaces = json::parse(run.out)["network"]["interfaces"];
        ASSERT_TRUE(interfaces.contains("ifb0")) << interfaces;
        ASSERT_TRUE(interfaces.contains("vea")) << interfaces;
        EXPECT_TRUE(interfaces["ifb0"]["linkSpeed"].is_null()) << interfaces["ifb0"];
        EXPECT_EQ(interfaces["vea"]["linkSpeed"], 10'000'000'000LL) << interfaces["vea"];
    });
}

TEST(VigilSnapshot, SensorsOfATreeReadThroughLibsensorsInAPrivateMountNamespace) {
    if (!toolBuilt())
        GTEST_SKIP() << "vigil-snapshot is not built (build the whole tree)";
    if (::geteuid() != 0)
        GTEST_SKIP()
            << "reading a tree's sensors needs root for a mount namespace (CI runs as root)";
    Outcome run =
        snapshot("--interval 0 --root " + vigil::test::fixturePath("sensors-desktop") + " sensors");
    ASSERT_EQ(run.status, 0) << run.err;
    const json sensors = json::parse(run.out)["sensors"];
    EXPECT_EQ(sensors["cpu"]["source"], "coretemp-isa-0000/Package id 0");
    EXPECT_EQ(sensors["cpu"]["celsius"], 45.0);
    ASSERT_EQ(sensors["chips"].size(), 3u);
    for (const auto& chip : sensors["chips"]) {
        if (chip["id"] != "nct6798-isa-0290")
            continue;
        // The tree's sensors3.conf names the fans and drops the loose input.
        ASSERT_EQ(chip["sensors"].size(), 5u);
        EXPECT_EQ(chip["sensors"][1]["id"], "nct6798-isa-0290/CPU fan");
        EXPECT_EQ(chip["sensors"][2]["value"], 850.0);
        EXPECT_EQ(chip["sensors"][2]["alarm"], true);
        EXPECT_EQ(chip["adapter"], "ISA adapter");
    }
}

// --source: the figures of a real node exporter on loopback, and of a source nobody answers at.
TEST(VigilSnapshot, SourcePrintsTheMachinesOfANodeExporter) {
    if (!toolBuilt())
        GTEST_SKIP() << "vigil-snapshot is not built (build the whole tree)";
    if (::access(vigil::test::kNodeExporter, X_OK) != 0)
        GTEST_SKIP() << "prometheus-node-exporter is not installed (scripts/install-deps)";
    TempTree folder;
    auto exporter = vigil::test::startNodeExporter(std::filesystem::path(folder.root));
    ASSERT_TRUE(exporter->listening());
    Outcome run = snapshot("--interval 0.5 --source http://" + exporter->address() + "/metrics");
    ASSERT_EQ(run.status, 0) << run.err;
    json machine = json::parse(run.out)["machines"][0];
    EXPECT_EQ(machine["state"], "up");
    std::string meminfo = vigil::test::readText("/proc/meminfo");
    EXPECT_EQ(machine["memoryTotal"].get<double>(),
              std::stod(meminfo.substr(meminfo.find("MemTotal:") + 9)) * 1024);
    EXPECT_TRUE(machine["processorBusy"].is_number());

    Outcome nobody =
        snapshot("--source http://127.0.0.1:" + std::to_string(vigil::test::freeLoopbackPort()) +
                 "/metrics");
    EXPECT_EQ(nobody.status, 1);
    json unreachable = json::parse(nobody.out)["machines"][0];
    EXPECT_EQ(unreachable["state"], "unreachable");
    EXPECT_TRUE(unreachable["memoryTotal"].is_null());
    EXPECT_NE(nobody.err.find("Couldn't connect to server"), std::string::npos) << nobody.err;
}
