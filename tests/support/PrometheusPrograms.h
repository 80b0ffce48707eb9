#pragma once

// Debian's prometheus-node-exporter and prometheus, started by a test on loopback ports with their
// files in a private folder, and stopped (SIGTERM, then SIGKILL) when dropped.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/LoopbackServer.h"
#include "support/TestSupport.h"

namespace vigil::test {

class LoopbackProgram {
  public:
    // Starts `argv` with its output in `log`; `port` is where it will listen.
    LoopbackProgram(std::vector<std::string> argv, const std::filesystem::path& log, int port)
        : port_(port) {
        pid_ = fork();
        if (pid_ == 0) {
            FILE* out = std::fopen(log.c_str(), "w");
            if (out) {
                dup2(fileno(out), 1);
                dup2(fileno(out), 2);
            }
            std::vector<char*> args;
            for (auto& arg : argv)
                args.push_back(arg.data());
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
    }
    ~LoopbackProgram() {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        bool ended = waitUntil([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; },
                               std::chrono::seconds(10));
        if (!ended) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    LoopbackProgram(const LoopbackProgram&) = delete;
    LoopbackProgram& operator=(const LoopbackProgram&) = delete;

    int port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

    // Whether something accepts connections on the port by the deadline.
    bool listening(std::chrono::seconds deadline = std::chrono::seconds(30)) const {
        return waitUntil(
            [&] {
                int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_port = htons(static_cast<uint16_t>(port_));
                a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
                close(fd);
                return ok;
            },
            deadline);
    }

  private:
    pid_t pid_ = -1;
    int port_;
};

// A loopback port nobody listens on now (bound and released).
inline int freeLoopbackPort() {
    LoopbackServer probe("127.0.0.1", nullptr);
    return probe.port();
}

inline const char* kNodeExporter = "/usr/bin/prometheus-node-exporter";
inline const char* kPrometheus = "/usr/bin/prometheus";

// The node exporter with the collectors Vigil reads.
inline std::unique_ptr<LoopbackProgram> startNodeExporter(const std::filesystem::path& folder) {
    int port = freeLoopbackPort();
    return std::make_unique<LoopbackProgram>(
        std::vector<std::string>{
            kNodeExporter, "--web.listen-address=127.0.0.1:" + std::to_string(port),
            "--collector.disable-defaults", "--collector.cpu", "--collector.meminfo",
            "--collector.filesystem", "--collector.netdev", "--collector.loadavg",
            "--collector.stat", "--collector.time", "--collector.uname", "--collector.hwmon"},
        folder / "node-exporter.log", port);
}

// Prometheus scraping `scrapeConfigs` (YAML of the scrape_configs list) every `interval`.
inline std::unique_ptr<LoopbackProgram> startPrometheus(const std::filesystem::path& folder,
                                                        const std::string& scrapeConfigs,
                                                        const std::string& interval,
                                                        int port = freeLoopbackPort()) {
    std::ofstream(folder / "prometheus.yml")
        << "global:\n  scrape_interval: " << interval << "\n  evaluation_interval: " << interval
        << "\nscrape_configs:\n"
        << scrapeConfigs;
    return std::make_unique<LoopbackProgram>(
        std::vector<std::string>{kPrometheus,
                                 "--config.file=" + (folder / "prometheus.yml").string(),
                                 "--storage.tsdb.path=" + (folder / "data").string(),
                                 "--web.listen-address=127.0.0.1:" + std::to_string(port)},
        folder / "prometheus.log", port);
}

}  // namespace vigil::test
