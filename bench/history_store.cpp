// The history store: what one minute's write costs on a large machine, and how big the file gets
// after 90 days of tiers.
//
// A large machine here: 10 volumes and 10 links, 69 series (processor 6, memory 7, volumes 30,
// links 20, totals 2, battery 2, processor temperature 1, graphics 1).
//
// The figures (release build on the 2-core development VM) are in bench/README.md, "History on
// and off": one minute's write (69 series x 55 samples, merged into minutes and quarters), and
// the file after 90 days of tiers with the last hour of samples and two days of top lists.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "history/HistoryDatabase.h"

namespace {

using vigil::HistoryDatabase;
using vigil::HistorySample;
using vigil::HistoryTopList;

constexpr std::int64_t kMinute = 60'000, kHour = 60 * kMinute, kDay = 24 * kHour;
constexpr std::int64_t kEnd = 1'700'006'400'000;  // 2023-11-15T00:00:00Z

// The series of the large machine and the scale of their values.
struct SeriesKind {
    std::string name;
    double scale;
    double busyShare = 1;  // of the samples that are not 0 in a typical day
};

std::vector<SeriesKind> largeMachine() {
    std::vector<SeriesKind> all;
    for (const char* figure : {"busy", "user", "system"})
        all.push_back({std::string("cpu.") + figure, 100});
    for (const char* figure : {"load1", "load5", "load15"})
        all.push_back({std::string("cpu.") + figure, 8});
    all.push_back({"mem.usage", 100});
    for (const char* figure : {"wired", "active", "compressed", "app", "cached", "swap"})
        all.push_back({std::string("mem.") + figure, 16e9});
    // Two volumes and two links carry the traffic; the others move in one sample of twenty.
    for (int v = 0; v < 10; ++v) {
        const std::string volume = "volume:/mnt/volume" + std::to_string(v);
        const double share = v < 2 ? 1 : 0.05;
        all.push_back({volume + ".used", 100});
        all.push_back({volume + ".read", 200e6, share});
        all.push_back({volume + ".write", 200e6, share});
    }
    for (int l = 0; l < 10; ++l) {
        const std::string link =
            "net:enp" + std::to_string(l) + "s0/52:54:00:12:34:5" + std::to_string(l);
        const double share = l < 2 ? 1 : 0.05;
        all.push_back({link + ".up", 100e6, share});
        all.push_back({link + ".down", 100e6, share});
    }
    all.push_back({"net.total.up", 1e9});
    all.push_back({"net.total.down", 1e9});
    all.push_back({"battery.charge", 100});
    all.push_back({"battery.power", 60});
    all.push_back({"sensors.cpu", 100});
    all.push_back({"gpu:0000:05:00.0.busy", 100});
    return all;
}

// Values that change every sample (the worst case for the integers' widths).
double valueAt(std::uint64_t& state, double scale) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return double(state >> 11) / double(1ULL << 53) * scale;
}

// Every figure at full scale every sample (`typical` false), or idle figures mostly 0.
bool typical = false;

std::vector<HistorySample> samples(const std::vector<SeriesKind>& kinds, std::int64_t from,
                                   std::int64_t to, std::int64_t step, std::uint64_t& state) {
    std::vector<HistorySample> all;
    for (std::int64_t at = from; at < to; at += step) {
        for (const auto& kind : kinds) {
            const bool idle = typical && valueAt(state, 1) >= kind.busyShare;
            all.push_back({kind.name, at, idle ? 0 : valueAt(state, kind.scale)});
        }
    }
    return all;
}

std::string scratchFile(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string(name) + "-" + std::to_string(::getpid()) + ".sqlite"))
        .string();
}

void removeStore(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(path + suffix);
}

void BM_HistoryMinuteWrite(benchmark::State& state) {
    const auto kinds = largeMachine();
    const std::string path = scratchFile("vigil-history-minute");
    auto database = HistoryDatabase::open(path, HistoryDatabase::Mode::readWrite).database;
    std::uint64_t seed = 1;
    std::int64_t minute = kEnd;
    std::string error;
    for (auto _ : state) {
        state.PauseTiming();
        const auto batch = samples(kinds, minute, minute + kMinute, 1100, seed);
        minute += kMinute;
        state.ResumeTiming();
        if (!database->write(batch, {}, minute, error))
            state.SkipWithError(error.c_str());
    }
    database.reset();
    removeStore(path);
}
BENCHMARK(BM_HistoryMinuteWrite)->Unit(benchmark::kMillisecond)->Iterations(30);

// Ninety days of one sample a minute per series (thinned day by day, as the tiers keep them),
// then the last hour at the processor's 1.1 s and two days of top lists: the file's size.
void BM_HistoryFileAfterNinetyDays(benchmark::State& state) {
    typical = state.range(0) == 1;
    const auto kinds = largeMachine();
    for (auto _ : state) {
        const std::string path =
            scratchFile(typical ? "vigil-history-typical" : "vigil-history-busy");
        auto database = HistoryDatabase::open(path, HistoryDatabase::Mode::readWrite).database;
        std::uint64_t seed = 7;
        std::string error;
        for (std::int64_t day = kEnd - 90 * kDay; day < kEnd - kDay; day += kDay) {
            if (!database->write(samples(kinds, day, day + kDay, kMinute, seed), {}, day + kDay,
                                 error))
                state.SkipWithError(error.c_str());
        }
        std::vector<HistoryTopList> tops;
        for (std::int64_t at = kEnd - 2 * kDay; at < kEnd; at += kMinute) {
            for (const char* kind : {"cpu", "mem"}) {
                HistoryTopList list{at, kind, {}};
                for (int rank = 0; rank < 5; ++rank)
                    list.apps.push_back(
                        {"Application " + std::to_string(rank), valueAt(seed, 1e9)});
                tops.push_back(std::move(list));
            }
        }
        database->write(samples(kinds, kEnd - kDay, kEnd - kHour, kMinute, seed), tops,
                        kEnd - kHour, error);
        // The last hour minute by minute, as the program writes: each write on a full store.
        double writeSeconds = 0;
        for (std::int64_t at = kEnd - kHour; at < kEnd; at += kMinute) {
            const auto batch = samples(kinds, at, at + kMinute, 1100, seed);
            const auto start = std::chrono::steady_clock::now();
            database->write(batch, {}, at + kMinute, error);
            writeSeconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        state.counters["full_store_write_ms"] = writeSeconds / 60 * 1000;
        database.reset();  // the last connection folds the log into the file
        state.counters["file_MB"] = double(std::filesystem::file_size(path)) / 1e6;
        if (std::getenv("VIGIL_KEEP_HISTORY_FILE"))
            std::printf("kept %s\n", path.c_str());
        else
            removeStore(path);
    }
}
// 0: every figure busy at full scale all the time (the worst case); 1: typical idle volumes and
// links.
BENCHMARK(BM_HistoryFileAfterNinetyDays)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
