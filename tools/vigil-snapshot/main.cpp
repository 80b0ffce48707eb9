// vigil-snapshot: samples every resource, waits one interval, samples again and prints one JSON
// object with a key per resource.
//
//   vigil-snapshot [--interval SECONDS] [--root DIR] [--all-interfaces] [--connection]
//   [RESOURCE...] vigil-snapshot --public-address
//   vigil-snapshot [--interval SECONDS] --source URL   (a node exporter or Prometheus server)
//   vigil-snapshot --history SERIES [--since WHEN] [--until WHEN] [--history-file FILE]
//   vigil-snapshot --top MINUTE [--history-file FILE]
//
// With --root, the sensors of the tree are read by libsensors, which reads only the real /sys: a
// forked child mounts the tree's sys/class/hwmon and sys/devices over /sys in a private mount
// namespace (root only).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <thread>

#include "HistoryJson.h"
#include "MachinesJson.h"
#include "Snapshot.h"
#include "collectors/PublicAddressServer.h"
#include "history/History.h"
#include "platform/NetworkLinks.h"
#include "platform/Read.h"

namespace vigil::snapshot {

namespace {
std::map<std::string, Entry>& registry() {
    static auto* map = new std::map<std::string, Entry>;
    return *map;
}
}  // namespace

bool add(Entry entry) {
    std::string key = entry.key;
    registry()[key] = std::move(entry);
    return true;
}

std::vector<Entry> entries() {
    std::vector<Entry> all;
    for (const auto& [key, entry] : registry())
        all.push_back(entry);
    std::sort(all.begin(), all.end(),
              [](const Entry& a, const Entry& b) { return a.order < b.order; });
    return all;
}

}  // namespace vigil::snapshot

namespace {
int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--interval SECONDS] [--root DIR] [--all-interfaces] [--connection] "
                 "[RESOURCE...]\n       %s --public-address\n"
                 "       %s [--interval SECONDS] --source URL\n"
                 "       %s --history SERIES [--since WHEN] [--until WHEN] [--history-file FILE]\n"
                 "       %s --top MINUTE [--history-file FILE]\nresources:",
                 program, program, program, program, program);
    for (const auto& entry : vigil::snapshot::entries())
        std::fprintf(stderr, " %s", entry.key.c_str());
    std::fprintf(stderr,
                 "\n--root DIR reads /proc, /sys, /etc and /run under DIR. The sensors of DIR are "
                 "read through libsensors,\nwhich reads only the real /sys: as root, in a private "
                 "mount namespace with DIR's sys/class/hwmon\nand sys/devices mounted over /sys "
                 "(and DIR/etc/sensors3.conf as the configuration).\n"
                 "--history prints a recorded series (\"cpu.busy\") or every series under a name "
                 "(\"cpu\") from the\nhistory file; WHEN and MINUTE are a time ago (90s, 15m, 1h, "
                 "7d) or milliseconds since the epoch;\n--since defaults to 1h, --until to now.\n");
    return 2;
}
// --history and --top: read the history file, print, and end.
int answerFromHistory(const std::string& series, const std::string& since, const std::string& until,
                      const std::string& topMinute, const std::string& file, const char* program) {
    using namespace std::chrono;
    const std::int64_t now =
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const auto moment = [&](const std::string& text,
                            const char* option) -> std::optional<std::int64_t> {
        auto parsed = vigil::snapshot::parseMoment(text, now);
        if (!parsed)
            std::fprintf(stderr, "Error: %s -- not a time ago or in epoch ms: %s\n", option,
                         text.c_str());
        return parsed;
    };
    if (!topMinute.empty()) {
        const auto minute = moment(topMinute, "--top");
        return minute ? vigil::snapshot::printTop(file, *minute) : usage(program);
    }
    const auto from = moment(since, "--since");
    const auto to = until.empty() ? std::optional<std::int64_t>(now + 1) : moment(until, "--until");
    if (!from || !to)
        return usage(program);
    return vigil::snapshot::printHistory(file, series, *from, *to, now);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vigil::snapshot;
    Options options;
    std::vector<std::string> picked;
    std::string source;
    std::string historySeries, since = "1h", until, topMinute;
    std::string historyFile = vigil::History::defaultPath();
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "Error: %s -- needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--interval") {
            const char* v = value("--interval");
            if (!v)
                return usage(argv[0]);
            auto seconds = vigil::platform::parseDouble(v);
            if (!seconds || *seconds < 0 || *seconds > 3600) {
                std::fprintf(stderr, "Error: --interval -- not a number of seconds: %s\n", v);
                return usage(argv[0]);
            }
            options.interval = *seconds;
        } else if (arg == "--root") {
            const char* v = value("--root");
            if (!v || !*v)
                return usage(argv[0]);
            options.root = v;
        } else if (arg == "--history" || arg == "--since" || arg == "--until" || arg == "--top" ||
                   arg == "--history-file") {
            const char* v = value(arg.c_str());
            if (!v || !*v)
                return usage(argv[0]);
            std::string& target = arg == "--history" ? historySeries
                                  : arg == "--since" ? since
                                  : arg == "--until" ? until
                                  : arg == "--top"   ? topMinute
                                                     : historyFile;
            target = v;
        } else if (arg == "--all-interfaces") {
            vigil::platform::NetworkLinks::setListVirtualLinks(true);
        } else if (arg == "--connection") {
            options.checkConnection = true;
        } else if (arg == "--public-address") {
            const auto address = vigil::lookUpPublicAddress();
            nlohmann::ordered_json out = {{"publicAddress", nullptr}};
            if (address)
                out["publicAddress"] = *address;
            std::cout << out.dump() << std::endl;
            std::_Exit(0);
        } else if (arg == "--source") {
            const char* v = value("--source");
            if (!v || !*v)
                return usage(argv[0]);
            source = v;
        } else if (arg == "--help" || arg == "-h") {
            usage(argv[0]);
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "Error: %s -- unknown option\n", arg.c_str());
            return usage(argv[0]);
        } else {
            picked.push_back(arg);
        }
    }

    if (!source.empty()) {
        int status = vigil::snapshot::printMachineSource(source, options.interval);
        std::fflush(stderr);
        std::_Exit(status);
    }
    if (!historySeries.empty() || !topMinute.empty())
        return answerFromHistory(historySeries, since, until, topMinute, historyFile, argv[0]);

    std::vector<std::pair<std::string, std::unique_ptr<Sampler>>> samplers;
    auto all = entries();
    for (const auto& name : picked) {
        bool known = false;
        for (const auto& entry : all)
            known = known || entry.key == name;
        if (!known)
            std::fprintf(stderr, "Error: %s -- no such resource\n", name.c_str());
    }
    for (const auto& entry : all) {
        bool wanted = picked.empty();
        for (const auto& name : picked)
            wanted = wanted || name == entry.key;
        if (wanted)
            samplers.emplace_back(entry.key, entry.make(options));
    }
    for (auto& [key, sampler] : samplers)
        sampler->sample();
    std::this_thread::sleep_for(std::chrono::duration<double>(options.interval));
    for (auto& [key, sampler] : samplers)
        sampler->sample();

    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    for (auto& [key, sampler] : samplers)
        out[key] = sampler->json();
    std::cout << out.dump(2) << std::endl;
    std::fflush(stderr);
    // The library's threads (the configuration watch) live until the process ends.
    std::_Exit(0);
}
