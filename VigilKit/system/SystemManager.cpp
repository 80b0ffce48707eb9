#include "system/SystemManager.h"

#include <cstdlib>

#include "platform/MountWatch.h"

namespace vigil {

SystemManager& SystemManager::shared() {
    // Never destroyed; its threads are stopped at exit, before the statics they may use go away.
    static SystemManager* instance = [] {
        auto* manager = new SystemManager(Options{});
        std::atexit([] { SystemManager::shared().shutdown(); });
        return manager;
    }();
    return *instance;
}

SystemManager::SystemManager(Options options) : options_(std::move(options)) {
    options_.network.root = options_.root;
}

SystemManager::~SystemManager() {
    shutdown();
}

platform::NetworkConfigWatch& SystemManager::networkConfig() {
    std::call_once(networkOnce_, [this] {
        network_ = std::make_unique<platform::NetworkConfigWatch>(options_.network);
    });
    return *network_;
}

std::shared_ptr<MountWatch> SystemManager::diskSession() {
    std::call_once(diskSessionOnce_, [this] {
        diskSession_ = std::make_shared<MountWatch>(options_.root);
        diskSession_->start();  // on failure it has written its error line; lists reload on demand
    });
    return diskSession_;
}

void SystemManager::shutdown() {
    std::lock_guard<std::mutex> once(shutdownMutex_);
    if (shutDown_)
        return;
    shutDown_ = true;
    if (diskSession_)
        diskSession_->stop();
    if (network_)
        network_->stop();
}

}  // namespace vigil
