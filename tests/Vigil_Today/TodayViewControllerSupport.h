#pragma once

#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "NavigationController.h"
#include "rows/WidgetContext.h"
#include "settings/Defaults.h"
#include "system/System.h"
#include "themes/Theme.h"

namespace vigil::test {

// Settings of the process-wide store go to a temporary folder, so no test touches the user's.
void useTemporaryConfigHome();

// Hands the main queue's work to the Qt event loop while a test runs.
class WidgetMainQueue {
  public:
    WidgetMainQueue();
    ~WidgetMainQueue();
};

// A machine built from fixtures: processor and memory from tests/fixtures/this-machine, the
// battery from a power-supply fixture, a scripted network (no interface: no connection; one
// interface that cannot reach the Internet: a local connection), the real disk and applications,
// and a settings store, theme manager and navigator of its own in a temporary folder.
class WidgetMachine {
  public:
    enum class Connection { none, local };

    explicit WidgetMachine(const std::string& batteryFixture = "power-no-battery",
                           Connection connection = Connection::none);
    ~WidgetMachine();

    WidgetContext context() { return WidgetContext{*system, *navigator, *defaults, *themes}; }
    // Bytes the scripted interface adds per collection.
    void setTraffic(int64_t inPerCollect, int64_t outPerCollect);
    // True when every task of a non-delayed resource runs (or, with `running` false, none does).
    bool tasksRunning(bool running, bool includeDelayed = false) const;

    QTemporaryDir folder;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<ThemeManager> themes;
    std::unique_ptr<NavigationController> navigator;
    std::unique_ptr<System> system;

  private:
    struct Script {
        std::mutex mutex;
        bool hasInterface = false;
        int64_t ibytes = 0, obytes = 0, inStep = 0, outStep = 0, clock = 0;
    };
    std::shared_ptr<Script> script_ = std::make_shared<Script>();
    System::Resources resources_;
};

}  // namespace vigil::test
