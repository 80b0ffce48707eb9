#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMetaObject>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AlertOpenHandler.h"
#include "C/system/ErrorReport.h"
#include "TodayViewController.h"
#include "details/HistorySection.h"
#include "history/History.h"
#include "host/CommandLine.h"
#include "host/DisplayPlatform.h"
#include "host/MainEventLoop.h"
#include "host/PanelTray.h"
#include "host/PanelWindow.h"
#include "host/QuitOnSignals.h"
#include "host/SingleInstance.h"
#include "host/WidgetListViewController.h"
#include "host/Workspace.h"
#include "platform/NetworkLinks.h"
#include "runtime/Queue.h"
#include "settings/Defaults.h"
#include "settings/SettingsPanelPlaceStore.h"
#include "settings/WidgetDefaults.h"
#include "system/Alerts.h"
#include "system/HistoryRecorder.h"
#include "system/System.h"
#include "system/SystemManager.h"
#include "ui/FUIFont.h"
#include "ui/LeakSuppressions.h"

namespace {

// Two refresh ticks (1.1 s each) and a little more, so the rows show measured rates.
constexpr int kHeadlessRenderMs = 2400;

using vigil::CommandLine;
using vigil::SingleInstance;

// Where the command line asks for something other than a panel of this process: the exit
// status; nothing when this process is to run the panel.
std::optional<int> answerWithoutAPanel(const CommandLine& command, const std::string& program) {
    switch (command.action) {
        case CommandLine::Action::help:
            std::fputs(CommandLine::usage(program).c_str(), stdout);
            return 0;
        case CommandLine::Action::version:
            std::printf("Vigil %s\n", VIGIL_VERSION);
            return 0;
        case CommandLine::Action::invalid:
            vigil::ErrorReport::shared().answerCommandLine(
                program, command.error + " (see " + program + " --help)");
            return 2;
        case CommandLine::Action::quit: {
            std::string error;
            if (SingleInstance::deliver(SingleInstance::Request::quit, &error))
                return 0;
            vigil::ErrorReport::shared().answerCommandLine(program, error);
            return 1;
        }
        default:
            return std::nullopt;
    }
}

// Makes this process the session's one panel. Where another runs, hands it the request and gives
// the exit status; where the check itself fails, says so and runs anyway.
std::optional<int> claimTheSession(const CommandLine& command, const std::string& program,
                                   std::unique_ptr<SingleInstance>& instance) {
    SingleInstance::Claim claim = SingleInstance::claim();
    if (claim.instance) {
        instance = std::move(claim.instance);
        return std::nullopt;
    }
    if (!claim.anotherRuns) {
        vigil::ErrorReport::shared().note(claim.error + "; a second start may open a second panel");
        return std::nullopt;
    }
    const auto request = command.action == CommandLine::Action::toggle
                             ? SingleInstance::Request::toggle
                             : SingleInstance::Request::show;
    std::string error;
    if (SingleInstance::deliver(request, &error))
        return 0;
    vigil::ErrorReport::shared().answerCommandLine(program, error);
    return 1;
}

void renderAndQuitLater(vigil::PanelWindow& panel) {
    // Nothing can show the panel: after two refresh ticks, render it into a picture and stop
    // (with status 1 when the picture cannot be written).
    QTimer::singleShot(kHeadlessRenderMs, &panel, [&panel] {
        const QString path = QDir::current().filePath(QStringLiteral("vigil-panel.png"));
        if (panel.grab().save(path)) {
            std::printf("Vigil: no display; the panel is rendered in %s\n", qPrintable(path));
            std::fflush(stdout);
            QApplication::exit(0);
        } else {
            vigil::reportError("save " + path.toStdString(), "could not write the picture");
            QApplication::exit(1);
        }
    });
}

void answerRequests(SingleInstance* instance, vigil::PanelWindow& panel) {
    if (!instance)
        return;
    instance->onRequest = [&panel](SingleInstance::Request request) {
        switch (request) {
            case SingleInstance::Request::show:
                panel.setPanelVisible(true);
                break;
            case SingleInstance::Request::toggle:
                panel.togglePanel();
                break;
            case SingleInstance::Request::quit:
                QApplication::quit();
                break;
        }
    };
    instance->startListening();
}

bool keepsHistory() {
    return vigil::Defaults::shared().get(vigil::WidgetDefaultsKeys::keepHistory()).value_or(true);
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string program = QDir(QString::fromLocal8Bit(argv[0])).dirName().toStdString();
    const CommandLine command =
        CommandLine::parse(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (const auto status = answerWithoutAPanel(command, program))
        return *status;

    const vigil::DisplayPlatform display = vigil::DisplayPlatform::choose(
        std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
    const bool headless = display.kind == vigil::DisplayPlatform::Kind::none;
    std::unique_ptr<SingleInstance> instance;
    // A render into a picture is no panel of the session.
    if (!headless) {
        if (const auto status = claimTheSession(command, program, instance))
            return *status;
    }
    if (!display.qtPlatform.empty())
        qputenv("QT_QPA_PLATFORM", display.qtPlatform.c_str());

    QApplication app(argc, argv);
    QApplication::setApplicationName("Vigil");
    QApplication::setApplicationVersion(VIGIL_VERSION);
    QApplication::setQuitOnLastWindowClosed(false);
    vigil::runMainQueueOnEventLoop(app);
    vigil::FUIFont::registerFonts();
    // Links without a device behind them (bridges, veth, dummy, VPN tunnels) are listed only
    // when the setting asks for them.
    vigil::platform::NetworkLinks::setListVirtualLinks(
        vigil::Defaults::shared()["listVirtualLinks"].boolValue());

    int status = 0;
    {
        vigil::DesktopWorkspace workspace;
        // The shared System's first samples must be taken here, on the main thread.
        vigil::TodayViewController widget;
        widget.view();
        vigil::History& history = vigil::History::shared();
        history.setRecording(keepsHistory());
        vigil::HistoryRecorder recorder(vigil::System::shared(), history);
        vigil::Alerts::shared().start();
        vigil::HistorySection::shown() = &history;
        vigil::HistorySection::rangeSettings() = &vigil::Defaults::shared();
        vigil::QuitOnSignals quitOnSignals;
        vigil::SettingsPanelPlaceStore places(vigil::Defaults::shared());
        vigil::PanelWindow panel(widget, places);
        vigil::PanelTray tray(panel, workspace.imageNamed(QStringLiteral("vigil")));
        panel.setPanelVisible(true);
        answerRequests(instance.get(), panel);
        vigil::Alerts::shared().setOpenHandler(vigil::alertOpenHandler(panel, widget));
        if (headless)
            renderAndQuitLater(panel);

        if (qEnvironmentVariableIsSet("VIGIL_EXIT_AFTER_MS")) {
            QTimer::singleShot(qEnvironmentVariableIntValue("VIGIL_EXIT_AFTER_MS"), &app,
                               &QApplication::quit);
        }
        status = app.exec();
        vigil::Alerts::shared().stop();
        vigil::Alerts::shared().setOpenHandler(nullptr);
        if (instance)
            instance->onRequest = nullptr;
    }
    instance.reset();
    // The last minute of history, written before the pool stops.
    vigil::History::shared().stop();
    vigil::stopRunningMainQueueOnEventLoop();
    vigil::SystemManager::shared().shutdown();
    vigil::Queue::shutdown();
    return status;
}
