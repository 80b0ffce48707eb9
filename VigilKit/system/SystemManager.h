#pragma once

#include <memory>
#include <mutex>

#include "platform/NetworkConfigWatch.h"

namespace vigil {

class MountWatch;

// The process's shared watches: the network configuration watch that the network resource
// follows and the volume session (the mount watch) that the disk resource lists from. Both are
// created on first use and stopped together. The process-wide instance lives until the process
// ends; tests build their own over a fixture root.
class SystemManager {
  public:
    struct Options {
        std::string root = "/";
        platform::NetworkConfigWatch::Options network{};
    };

    static SystemManager& shared();

    explicit SystemManager(Options options);
    ~SystemManager();
    SystemManager(const SystemManager&) = delete;
    SystemManager& operator=(const SystemManager&) = delete;

    platform::NetworkConfigWatch& networkConfig();
    std::shared_ptr<MountWatch> diskSession();

    // Stops both watches' threads. The program calls it before it returns from main; the shared
    // instance also does at exit. Safe to call more than once.
    void shutdown();

  private:
    Options options_;
    std::once_flag networkOnce_;
    std::unique_ptr<platform::NetworkConfigWatch> network_;
    std::once_flag diskSessionOnce_;
    std::shared_ptr<MountWatch> diskSession_;
    std::mutex shutdownMutex_;
    bool shutDown_ = false;
};

}  // namespace vigil
