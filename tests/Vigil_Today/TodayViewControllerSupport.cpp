#include "TodayViewControllerSupport.h"

#include <QApplication>
#include <QDir>
#include <QMetaObject>

#include <cstdlib>

#include "host/MainEventLoop.h"
#include "runtime/Queue.h"
#include "support/QtTestApp.h"
#include "support/TestSupport.h"
#include "system/Applications.h"
#include "system/Battery.h"
#include "system/CPU.h"
#include "system/Disk.h"
#include "system/GPU.h"
#include "system/Memory.h"
#include "system/Network.h"

namespace vigil::test {

void useTemporaryConfigHome() {
    // The end-to-end child runs over the temporary folder its parent made.
    if (std::getenv("VIGIL_E2E_PHASE") != nullptr)
        return;
    static QTemporaryDir* home = [] {
        auto* dir = new QTemporaryDir();
        ::setenv("XDG_CONFIG_HOME", qPrintable(dir->path()), 1);
        return dir;
    }();
    (void)home;
}

// Before any test of this program opens the shared store.
[[maybe_unused]] static const bool kConfigHomeSet = [] {
    useTemporaryConfigHome();
    return true;
}();

WidgetMainQueue::WidgetMainQueue() {
    runMainQueueOnEventLoop(qtApp());
}

WidgetMainQueue::~WidgetMainQueue() {
    // Run what is still posted: queued tasks hold on to the resources they were given.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    stopRunningMainQueueOnEventLoop();
}

WidgetMachine::WidgetMachine(const std::string& batteryFixture, Connection connection) {
    defaults = std::make_unique<Defaults>(Defaults::kSharedSuite,
                                          std::filesystem::path(folder.path().toStdString()));
    themes = std::make_unique<ThemeManager>(*defaults);
    navigator = std::make_unique<NavigationController>(*defaults);
    script_->hasInterface = connection == Connection::local;

    Network::Environment environment;
    environment.collect = [script = script_](const NetworkDataCallback& callback) {
        std::lock_guard lock(script->mutex);
        if (!script->hasInterface)
            return;
        script->ibytes += script->inStep;
        script->obytes += script->outStep;
        script->clock += 1000;
        const NetworkData data{script->ibytes, script->obytes, "192.0.2.10", "00:1b:63:aa:bb:cc",
                               2};
        callback(script->clock, "eth0", &data);
    };
    environment.extra = [](const char*, const NetworkExtraCallback& callback) {
        const NetworkExtra extra{1'000'000'000, 1, 0, "Ethernet"};
        callback(&extra);
    };
    environment.primaryInterface = [] { return std::optional<std::string>("eth0"); };
    environment.isConnectedToInternet = [] { return false; };
    environment.lookUpPublicAddress = [] { return std::optional<std::string>(); };
    environment.notify = [](const std::string&, const std::string&) {};
    environment.runInBackground = [](std::function<void()> work) { work(); };
    environment.watchConfiguration = [](auto) {};

    System::Resources resources;
    const std::string machine = fixturePath("this-machine");
    resources.cpu = std::make_shared<CPU>(machine);
    resources.mem = std::make_shared<Memory>(machine);
    resources.gpu = std::make_shared<GPU>(fixturePath("no-gpu"));
    resources.disk = std::make_shared<Disk>();
    resources.net = std::make_shared<Network>(environment);
    Battery::Options battery;
    battery.root = fixturePath(batteryFixture);
    battery.watchKernel = false;
    resources.battery = std::make_shared<Battery>(battery);
    // One applications resource per test program, never destroyed: destroying one leaves part of
    // its workspace behind, which the leak checker would report against every test here.
    static auto* apps = new std::shared_ptr<Applications>(std::make_shared<Applications>());
    resources.apps = *apps;
    system = std::make_unique<System>(resources, productionTaskSpecs(resources));
    resources_ = resources;
}

WidgetMachine::~WidgetMachine() {
    // The resources go last, here on the main thread, once no task can tick any more.
    system.reset();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    resources_ = {};
}

void WidgetMachine::setTraffic(int64_t inPerCollect, int64_t outPerCollect) {
    std::lock_guard lock(script_->mutex);
    script_->inStep = inPerCollect;
    script_->outStep = outPerCollect;
}

bool WidgetMachine::tasksRunning(bool running, bool includeDelayed) const {
    for (const auto& task : system->tasks()) {
        if (task->delayed() && !includeDelayed)
            continue;
        if ((task->status() == Timer::Status::started) != running)
            return false;
    }
    return true;
}

}  // namespace vigil::test
